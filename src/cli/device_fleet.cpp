#include "cli/device_fleet.h"

#include <algorithm>
#include <chrono>
#include <string_view>
#include <utility>

#include "core/reporter.h"
#include "platform/serial_ports.h"

namespace firmora::cli {
namespace {

// What a worker's wait for the turn looks at between two checks of Ctrl-C.
constexpr auto kTurnWaitSlice = std::chrono::milliseconds(50);

// A serial port whose write of the boot-loader command waits for the turn.
class ScopedSerialPort final : public platform::SerialPort {
public:
    ScopedSerialPort(std::unique_ptr<platform::SerialPort> port, DeviceScope& scope)
        : port_(std::move(port)), scope_(scope) {}
    bool GetLineSettings(platform::LineSettings& out) override { return port_->GetLineSettings(out); }
    bool SetLineSettings(const platform::LineSettings& settings) override { return port_->SetLineSettings(settings); }
    bool SetTimeouts(const platform::SerialTimeouts& timeouts) override { return port_->SetTimeouts(timeouts); }
    bool SetQueueSizes(uint32_t inBytes, uint32_t outBytes) override { return port_->SetQueueSizes(inBytes, outBytes); }
    bool Purge(uint32_t flags) override { return port_->Purge(flags); }
    bool ClearErrors(uint32_t& errorMask, platform::SerialQueueStatus* status) override {
        return port_->ClearErrors(errorMask, status);
    }
    bool Read(uint8_t* buffer, size_t length, size_t& bytesRead) override {
        return port_->Read(buffer, length, bytesRead);
    }
    bool Write(const uint8_t* data, size_t length, size_t& bytesWritten) override {
        if (SendsIntoBootloader(data, length) && !scope_.TakeTurn()) {
            bytesWritten = 0;
            return false;  // stopped while waiting: the device stays where it is
        }
        return port_->Write(data, length, bytesWritten);
    }
    bool Close() override { return port_->Close(); }
    bool DeviceGone() const override { return port_->DeviceGone(); }

private:
    std::unique_ptr<platform::SerialPort> port_;
    DeviceScope& scope_;
};

// One device's lines: on the console behind its name, and in its run log.
class DeviceView final : public engine::RunView {
public:
    DeviceView(ConsoleProgress& progress, platform::Clock& clock, platform::Paths& paths, std::string name)
        : progress_(progress), clock_(clock), log_(clock, paths), name_(std::move(name)) {}

    void OpenLog(const std::string& caption, int projectIndex) {
        std::lock_guard lock(mutex_);
        log_.Open(caption + " " + name_, projectIndex);
    }
    void StatusCallback(int /*slot*/, const std::string& text, int kind) override {
        std::lock_guard lock(mutex_);
        if (kind == core::kReportSuccess) passed_ = true;
        Write(text, kind);
    }
    void ErrorCallback(int /*slot*/, const std::string& text) override {
        std::lock_guard lock(mutex_);
        if (failure_.empty()) failure_ = text;
        Write(text, core::kReportError);
    }
    // One bar cannot show several runs; the lines say how each one goes.
    void SetGaugeMax(int, int) override {}
    void SetGaugePosition(int, int) override {}

    // After the worker's end: the outcome; the log is removed after PASS.
    void Finish(DeviceOutcome& outcome) {
        std::lock_guard lock(mutex_);
        outcome.passed = passed_ && failure_.empty();
        if (outcome.failure.empty()) outcome.failure = failure_;
        log_.Close();
        if (outcome.passed) {
            log_.DeleteAfterSuccess();
        } else {
            outcome.runLog = log_.path();
        }
    }

private:
    void Write(const std::string& text, int kind) {
        const std::string line = "[" + name_ + "] " + text;
        if (kind == core::kReportError) {
            progress_.ErrorCallback(0, line);
        } else {
            progress_.StatusCallback(0, line, kind);
        }
        log_.WriteLine(app::LogLineText(clock_.Now(), text));
    }

    ConsoleProgress& progress_;
    platform::Clock& clock_;
    std::mutex mutex_;
    app::RunLog log_;
    const std::string name_;
    bool passed_ = false;
    std::string failure_;
};

}  // namespace

// --- ChangeFanOut ---

ChangeFanOut::ChangeFanOut(platform::DeviceEnumerator& base) : base_(base) {
    base_.SetChangeHandler([this](const platform::DeviceChangeEvent& event) { Dispatch(event); });
}

ChangeFanOut::~ChangeFanOut() { base_.SetChangeHandler(nullptr); }

void ChangeFanOut::Subscribe(int id, ChangeHandler handler) {
    std::lock_guard lock(mutex_);
    if (handler) {
        handlers_[id] = std::move(handler);
    } else {
        handlers_.erase(id);
    }
}

void ChangeFanOut::Dispatch(const platform::DeviceChangeEvent& event) {
    std::lock_guard lock(mutex_);
    for (const auto& [id, handler] : handlers_) handler(event);
}

// --- BootloaderTurn ---

bool BootloaderTurn::Take(int slot, std::vector<std::string> present, const std::function<bool()>& stopped) {
    std::unique_lock lock(mutex_);
    while (holder_ != -1 && holder_ != slot) {
        if (stopped()) return false;
        released_.wait_for(lock, kTurnWaitSlice);
    }
    if (holder_ != slot) strays_ = std::move(present);
    holder_ = slot;
    return true;
}

void BootloaderTurn::Release(int slot) {
    {
        std::lock_guard lock(mutex_);
        if (holder_ != slot) return;
        holder_ = -1;
        strays_.clear();
    }
    released_.notify_all();
}

bool BootloaderTurn::HeldBy(int slot) const {
    std::lock_guard lock(mutex_);
    return holder_ == slot;
}

std::vector<std::string> BootloaderTurn::Strays() const {
    std::lock_guard lock(mutex_);
    return strays_;
}

// --- PortClaims ---

void PortClaims::Claim(const std::string& comName, int slot) {
    std::lock_guard lock(mutex_);
    owners_[comName] = slot;
}

int PortClaims::OwnerOf(const std::string& comName) const {
    std::lock_guard lock(mutex_);
    const auto found = owners_.find(comName);
    return found == owners_.end() ? -1 : found->second;
}

// --- DeviceScope ---

DeviceScope::DeviceScope(ChangeFanOut& machine, DeviceKeyFunction keyOf, std::string key, int slot, BootloaderTurn& turn,
                         PortClaims& claims, const std::atomic<bool>& stopRequested)
    : machine_(machine),
      keyOf_(std::move(keyOf)),
      key_(std::move(key)),
      slot_(slot),
      turn_(turn),
      claims_(claims),
      stopRequested_(stopRequested) {}

DeviceScope::~DeviceScope() { machine_.Subscribe(slot_, nullptr); }

std::optional<std::vector<platform::ComPortInterface>> DeviceScope::ComPortInterfaces() {
    std::optional<std::vector<platform::ComPortInterface>> all = machine_.ComPortInterfaces();
    if (!all) return all;
    std::vector<platform::ComPortInterface> own;
    for (platform::ComPortInterface& port : *all) {
        if (keyOf_(port) != key_) continue;
        if (const std::string name = link::PortNameOfFriendlyName(port.friendlyName); !name.empty()) {
            claims_.Claim(name, slot_);
        }
        own.push_back(std::move(port));
    }
    ReleaseIfLeftBootloader();
    return own;
}

std::vector<std::string> DeviceScope::SerialPortNames() {
    std::vector<std::string> own;
    const std::optional<std::vector<platform::ComPortInterface>> interfaces = ComPortInterfaces();
    for (std::string& name : machine_.SerialPortNames()) {
        const bool listed = interfaces && std::any_of(interfaces->begin(), interfaces->end(), [&](const auto& port) {
                                return link::PortNameOfFriendlyName(port.friendlyName) == name;
                            });
        if (listed) own.push_back(std::move(name));
    }
    return own;
}

std::vector<std::string> DeviceScope::OwnBootInterfaces(const std::vector<std::string>& paths) {
    if (!turn_.HeldBy(slot_)) return {};
    const std::vector<std::string> strays = turn_.Strays();
    std::vector<std::string> fresh;
    for (const std::string& path : paths) {
        if (std::find(strays.begin(), strays.end(), path) == strays.end()) fresh.push_back(path);
    }
    // Two new ones at once: either may be another device's.
    if (fresh.size() != 1) return {};
    return fresh;
}

std::vector<std::string> DeviceScope::FastbootInterfacePaths() {
    std::vector<std::string> own = OwnBootInterfaces(machine_.FastbootInterfacePaths());
    {
        std::lock_guard lock(mutex_);
        if (!own.empty()) bootInterface_ = own.front();
    }
    if (own.empty()) ReleaseIfLeftBootloader();
    return own;
}

std::vector<std::string> DeviceScope::UsbBootDevicePaths() {
    return OwnBootInterfaces(machine_.UsbBootDevicePaths());
}

void DeviceScope::SetChangeHandler(ChangeHandler handler) {
    if (!handler) {
        machine_.Subscribe(slot_, nullptr);
        return;
    }
    machine_.Subscribe(slot_, [this, handler = std::move(handler)](const platform::DeviceChangeEvent& event) {
        const bool own = event.isPort ? (claims_.OwnerOf(event.name) == slot_ || claims_.OwnerOf(event.name) == -1)
                                      : turn_.HeldBy(slot_);
        if (own) handler(event);
    });
}

bool DeviceScope::TakeTurn() {
    {
        std::lock_guard lock(mutex_);
        bootInterface_.clear();
    }
    // What is in a boot loader now is not this device's: it has not left yet.
    std::vector<std::string> present = machine_.FastbootInterfacePaths();
    for (std::string& path : machine_.UsbBootDevicePaths()) present.push_back(std::move(path));
    return turn_.Take(slot_, std::move(present), [this] { return stopRequested_.load(); });
}

void DeviceScope::ReleaseIfLeftBootloader() {
    std::string used;
    {
        std::lock_guard lock(mutex_);
        used = bootInterface_;
    }
    if (used.empty() || !turn_.HeldBy(slot_)) return;
    const std::vector<std::string> present = machine_.FastbootInterfacePaths();
    if (std::find(present.begin(), present.end(), used) != present.end()) return;
    {
        std::lock_guard lock(mutex_);
        bootInterface_.clear();
    }
    turn_.Release(slot_);
}

// --- ScopedSerialPorts ---

std::unique_ptr<platform::SerialPort> ScopedSerialPorts::Open(const std::string& deviceName) {
    scope_.ReleaseIfLeftBootloader();
    std::unique_ptr<platform::SerialPort> port = machine_.Open(deviceName);
    if (!port) return port;
    return std::make_unique<ScopedSerialPort>(std::move(port), scope_);
}

bool SendsIntoBootloader(const uint8_t* data, size_t length) {
    std::string text(reinterpret_cast<const char*>(data), length);
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text.find("sys_reboot bootloader") != std::string::npos;
}

// --- DeviceFleet ---

struct DeviceFleet::Device {
    Device(const Services& services, ConsoleProgress& progress, const std::atomic<bool>& stopRequested,
           const package::DownloadOptions& options, std::string key, int slot, BootloaderTurn& turn,
           PortClaims& claims)
        : scope(services.machine, services.keyOf, std::move(key), slot, turn, claims, stopRequested),
          serialPorts(services.serialPorts, scope),
          view(progress, services.clock, services.paths, "device " + std::to_string(slot + 1)),
          trace(view),
          interrogation(serialPorts, services.clock, trace, options.Name),
          d1Switch(serialPorts, services.clock),
          discovery(scope, services.clock, services.dialogs, trace, interrogation, d1Switch, options.bEnprg9x15),
          window(discovery, scope, view) {
        outcome.name = "device " + std::to_string(slot + 1);
    }

    DeviceScope scope;
    ScopedSerialPorts serialPorts;
    DeviceView view;
    ViewLineLog trace;
    package::DeviceInterrogation interrogation;
    modeswitch::SerialD1Switch d1Switch;
    link::PortDiscovery discovery;
    RunWindow window;
    DeviceOutcome outcome;
};

DeviceFleet::DeviceFleet(Services services, ConsoleProgress& progress, const std::atomic<bool>& stopRequested)
    : services_(std::move(services)), progress_(progress), stopRequested_(stopRequested) {}

DeviceFleet::~DeviceFleet() = default;

bool DeviceFleet::Launch(app::TFlashSrcUiForm& form, std::string& problem) {
    form.BeginDeviceWorkers();
    // The devices in the order their ports are listed.
    std::vector<std::string> keys;
    for (const platform::ComPortInterface& port :
         services_.machine.ComPortInterfaces().value_or(std::vector<platform::ComPortInterface>{})) {
        const std::string key = services_.keyOf(port);
        if (!key.empty() && std::find(keys.begin(), keys.end(), key) == keys.end()) keys.push_back(key);
    }
    if (keys.empty()) {
        problem = "no modem found";
        return false;
    }
    if (keys.size() > static_cast<size_t>(kMaxDevices)) {
        progress_.StatusCallback(0,
                                 std::to_string(keys.size()) + " modems found: the first " +
                                     std::to_string(kMaxDevices) + " are updated, the others left alone",
                                 core::kReportInfo);
        keys.resize(kMaxDevices);
    }
    bool anyLaunched = false;
    for (size_t i = 0; i < keys.size(); ++i) {
        const int slot = static_cast<int>(i);
        devices_.push_back(std::make_unique<Device>(services_, progress_, stopRequested_, form.options(), keys[i],
                                                    slot, turn_, claims_));
        Device& device = *devices_.back();
        device.discovery.ScanPorts();
        const std::string diag = device.discovery.DiagSelector();
        const std::string at = device.discovery.AtSelector();
        const app::RunPorts ports{platform::ParseComName(diag).value_or(0),
                                  platform::ParseComName(device.discovery.AppSelector()).value_or(0),
                                  platform::ParseComName(at).value_or(0)};
        device.outcome.name += " (" + (diag.empty() ? std::string("no Diag port") : diag) + ", " +
                               (at.empty() ? std::string("no AT port") : at) + ")";
        if (ports.diag == 0 || ports.at == 0) {
            device.outcome.failure = diag.empty() ? "no Diag port found" : "no AT port found";
            continue;
        }
        if (services_.beforeLaunch && !services_.beforeLaunch(diag, device.outcome.failure)) continue;
        device.view.OpenLog(form.options().Caption, form.options().ProjectIndex);
        device.outcome.launched = form.LaunchDeviceWorker(
            slot, ports, {device.window, device.scope, device.serialPorts, device.view});
        if (!device.outcome.launched) device.outcome.failure = "its ports are in use by another run";
        anyLaunched = anyLaunched || device.outcome.launched;
    }
    if (!anyLaunched) problem = "no modem could be started";
    return anyLaunched;
}

void DeviceFleet::Poll(const app::TFlashSrcUiForm& form) {
    for (const auto& device : devices_) {
        if (!form.SlotOccupied(device->scope.slot())) turn_.Release(device->scope.slot());
    }
}

std::vector<DeviceOutcome> DeviceFleet::Outcomes(const app::TFlashSrcUiForm& form) {
    std::vector<DeviceOutcome> outcomes;
    for (const auto& device : devices_) {
        DeviceOutcome outcome = device->outcome;
        if (outcome.launched) {
            device->view.Finish(outcome);
            outcome.backupFolder = form.EndedBackupFolder(device->scope.slot());
            if (!outcome.passed && outcome.failure.empty()) outcome.failure = "the run ended without PASS";
        }
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
}

}  // namespace firmora::cli
