#include "sim/sim_processes.h"

#include <algorithm>
#include <cctype>

#include "platform/last_error.h"
#include "platform/private_profile.h"
#include "platform/std_files.h"

namespace firmora::sim {
namespace {

constexpr uint32_t kErrNoProcess = 3;  // ESRCH

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

class SimNamedLock final : public platform::NamedLock {
public:
    SimNamedLock(std::shared_ptr<void> owner, std::mutex& mutex, std::map<std::string, int>& holders, std::string name)
        : owner_(std::move(owner)), mutex_(mutex), holders_(holders), name_(std::move(name)) {}
    ~SimNamedLock() override {
        std::lock_guard lock(mutex_);
        if (--holders_[name_] <= 0) holders_.erase(name_);
    }

private:
    std::shared_ptr<void> owner_;  // keeps the table alive as long as a lock is held
    std::mutex& mutex_;
    std::map<std::string, int>& holders_;
    std::string name_;
};

void WriteConfigKey(const std::filesystem::path& file, const char* section, const char* key, const std::string& value) {
    // The simulated programs write the real Config.ini, as the package's programs do.
    platform::StdFiles files;
    platform::IniDocument document = platform::IniDocument::Load(files, file);
    document.Set(section, key, value);
    document.Save(files, file);
}

}  // namespace

SimProcesses::SimProcesses(SimBus& bus) : bus_(bus) {}

const UsbProfile* SimProcesses::FirstProfile() {
    auto& devices = bus_.devices();
    return devices.empty() ? nullptr : &devices.front()->profile;
}

bool SimProcesses::StartHidden(const std::filesystem::path& program) {
    std::lock_guard lock(bus_.mutex());
    std::error_code ec;
    if (!std::filesystem::is_regular_file(program, ec)) {
        platform::SetLastError(kErrNoDevice);
        return false;
    }
    const std::string name = program.filename().string();
    started_.push_back(name);
    const uint32_t id = nextId_++;
    const std::string exe = Lower(name);
    const std::filesystem::path config = program.parent_path() / "Config.ini";
    const UsbProfile defaults;
    const UsbProfile* profile = FirstProfile();
    if (!profile) profile = &defaults;

    if (exe == "swivlet.exe") {
        RunFor(id, profile->swivletMs, [this] {
            for (auto& device : bus_.devices()) {
                if (device->modem->personality() == Personality::CdromOnly) {
                    device->modem->Request(ModemRequest::SwitchToModem);
                }
            }
        });
    } else if (exe == "rebootle.exe") {
        RunFor(id, profile->rebootleMs, [this, config] { Reset(config); });
    } else if (exe == "drivlet.exe") {
        RunFor(id, profile->drivletMs, [config] { WriteConfigKey(config, "Uninstall", "UninstallUDisk", "1"); });
    }
    return true;
}

void SimProcesses::Reset(const std::filesystem::path& configFile) {
    SimBus::Device* target = nullptr;
    for (auto& device : bus_.devices()) {
        if (device->modem->personality() == Personality::Normal) {
            target = device.get();
            break;
        }
    }
    const UsbProfile* profile = target ? &target->profile : FirstProfile();
    std::string code = target ? "100" : "-1";
    if (profile && profile->rebootleResult) code = *profile->rebootleResult;
    // Only a program that reports success has reset the modem.
    if (target && code == "100") target->modem->Request(ModemRequest::Reset);
    WriteConfigKey(configFile, "Project", "ExecuteRebootle", code);
}

void SimProcesses::RunFor(uint32_t id, uint64_t delayMs, std::function<void()> effect) {
    auto cancelled = std::make_shared<bool>(false);
    running_.push_back({{id, "", kToolId}, cancelled});
    running_.back().info.executableName = started_.back();
    bus_.scheduler().After(delayMs, [this, id, cancelled, effect = std::move(effect)] {
        if (*cancelled) return;
        std::erase_if(running_, [id](const Running& r) { return r.info.id == id; });
        effect();
    });
}

std::vector<platform::ProcessInfo> SimProcesses::List() {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    std::vector<platform::ProcessInfo> list;
    for (const Running& r : running_) list.push_back(r.info);
    return list;
}

bool SimProcesses::Terminate(uint32_t processId) {
    std::lock_guard lock(bus_.mutex());
    const auto it = std::find_if(running_.begin(), running_.end(),
                                 [processId](const Running& r) { return r.info.id == processId; });
    if (it == running_.end()) {
        platform::SetLastError(kErrNoProcess);
        return false;
    }
    *it->cancelled = true;
    running_.erase(it);
    return true;
}

std::unique_ptr<platform::NamedLock> SimProcesses::CreateNamedLock(const std::string& name, bool& alreadyExisted) {
    std::lock_guard lock(locks_->mutex);
    int& holders = locks_->holders[name];
    alreadyExisted = holders > 0;
    ++holders;
    return std::make_unique<SimNamedLock>(locks_, locks_->mutex, locks_->holders, name);
}

}  // namespace firmora::sim
