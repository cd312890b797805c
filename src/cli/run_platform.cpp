#include "cli/run_platform.h"

#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <string_view>
#include <vector>

#include "cli/arguments.h"
#include "cli/command.h"
#include "cli/fastboot_devices.h"
#include "cli/simulated_target.h"
#include "link/port_discovery.h"
#include "platform/modem_inhibitor.h"
#include "platform/paced_clock.h"
#include "platform/posix/explicit_device_enumerator.h"
#include "platform/posix/ini_settings_store.h"
#include "platform/posix/port_roles.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_modem_manager.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/posix_processes.h"
#include "platform/posix/posix_serial_ports.h"
#include "platform/posix/routing_usb_bulk.h"
#include "platform/posix/system_clock.h"
#include "platform/posix/udev_device_enumerator.h"
#include "sim/sim_platform.h"

namespace firmora::cli {

namespace fs = std::filesystem;

const char* PortOptionOf(const std::string& arg) {
    static constexpr std::array<const char*, 4> kPortOptions = {"--diag", "--at", "--app", "--fastboot"};
    for (const char* option : kPortOptions) {
        if (IsOption(arg, option)) return option;
    }
    return nullptr;
}

fs::path DefaultBackupRoot() {
    const platform::EnvLookup env = platform::SystemEnvironment;
    if (const std::optional<std::string> data = platform::XdgFolderVariable(env, "XDG_DATA_HOME")) {
        return fs::path(*data) / "firmora" / "backups";
    }
    const fs::path home = platform::HomeFolder(env);
    if (home.empty()) return {};
    return home / ".local" / "share" / "firmora" / "backups";
}

std::string InstanceOfInterfacePath(const std::string& path) {
    const size_t first = path.find('#');
    const size_t second = first == std::string::npos ? std::string::npos : path.find('#', first + 1);
    const size_t third = second == std::string::npos ? std::string::npos : path.find('#', second + 1);
    if (third == std::string::npos) return {};
    const std::string instance = path.substr(second + 1, third - second - 1);
    const size_t last = instance.rfind('&');
    if (last == std::string::npos || last == 0) return {};
    return instance.substr(0, last);
}

namespace {

class SimulatedRun final : public RunPlatform {
public:
    // With a time scale, the tool's pauses take real time (scaled), so that
    // the virtual modem's update can be watched.
    SimulatedRun(std::unique_ptr<sim::SimPlatform> simulation, std::optional<double> timeScale)
        : simulation_(std::move(simulation)) {
        if (timeScale) {
            pace_ = std::make_unique<platform::SystemClock>(*timeScale);
            paced_ = std::make_unique<platform::PacedClock>(simulation_->clock(), *pace_);
        }
    }

    platform::Clock& clock() override {
        if (paced_) return *paced_;
        return simulation_->clock();
    }
    platform::SerialPorts& serialPorts() override { return simulation_->serialPorts(); }
    platform::DeviceEnumerator& devices() override { return simulation_->devices(); }
    platform::UsbBulk& usbBulk() override { return simulation_->usbBulk(); }
    platform::Processes& processes() override { return simulation_->processes(); }
    platform::SettingsStore& settings() override { return simulation_->settings(); }
    std::string Description() const override {
        return "the virtual modem (scenario " + simulation_->Modem(0).scenario().name + ")";
    }
    std::map<std::string, PortDetails> Details() override {
        std::map<std::string, PortDetails> details;
        for (const platform::ComPortInterface& port :
             devices().ComPortInterfaces().value_or(std::vector<platform::ComPortInterface>{})) {
            details[link::PortNameOfFriendlyName(port.friendlyName)] = {port.devicePath, "scenario"};
        }
        return details;
    }
    std::string DeviceKeyOf(const platform::ComPortInterface& port) override {
        return InstanceOfInterfacePath(port.devicePath);
    }
    bool KeepModemManagerAway(const std::string& /*comName*/, std::string& /*problem*/) override { return true; }

private:
    std::unique_ptr<sim::SimPlatform> simulation_;
    std::unique_ptr<platform::SystemClock> pace_;
    std::unique_ptr<platform::PacedClock> paced_;
};

constexpr int64_t kNamedPortPollMs = 1000;
constexpr int64_t kFastestPollMs = 10;

// This machine: its serial ports, USB and programs on the real clock (scaled
// with --time-scale). The modem's ports are the USB serial ports udev lists,
// or the ones the command line names.
class MachineRun final : public RunPlatform {
public:
    MachineRun(const RunOptions& options, const fs::path& tempFolder, platform::PortRoleTable roles)
        : clock_(options.timeScale.value_or(1.0)),
          settings_(platform::IniSettingsStore::DefaultPath()),
          serialPorts_(&settings_),
          processes_(tempFolder) {
        const auto named = options.ports.find("--diag");
        if (named == options.ports.end()) {
            udev_ = std::make_unique<platform::UdevDeviceEnumerator>(serialPorts_, settings_, std::move(roles));
            description_ = "the modem on the USB serial ports";
            return;
        }
        const auto value = [&](const char* option) {
            const auto found = options.ports.find(option);
            return found == options.ports.end() ? std::string() : found->second;
        };
        // The named ports are looked at once a second of the run's clock, so
        // that a faster clock does not wait longer for the modem's return.
        const auto poll = std::chrono::milliseconds(std::max<int64_t>(
            kFastestPollMs, static_cast<int64_t>(kNamedPortPollMs / options.timeScale.value_or(1.0))));
        explicit_ = std::make_unique<platform::ExplicitDeviceEnumerator>(
            serialPorts_, platform::ExplicitPorts{value("--diag"), value("--at"), value("--app"), value("--fastboot")},
            poll);
        if (value("--fastboot").empty()) {
            // The boot loader is looked for among the USB fastboot interfaces.
            platform::RoutingUsbBulk* usb = &usbBulk_;
            usbFastboot_ =
                std::make_unique<WithFastbootFrom>(*explicit_, [usb] { return usb->FastbootInterfacePaths(); });
        }
        description_ = "the modem on " + value("--diag") + " (Diag) and " + value("--at") + " (AT)";
    }

    platform::Clock& clock() override { return clock_; }
    platform::SerialPorts& serialPorts() override { return serialPorts_; }
    platform::DeviceEnumerator& devices() override {
        if (udev_) return *udev_;
        if (usbFastboot_) return *usbFastboot_;
        return *explicit_;
    }
    platform::UsbBulk& usbBulk() override { return usbBulk_; }
    platform::Processes& processes() override { return processes_; }
    platform::SettingsStore& settings() override { return settings_; }
    std::string Description() const override { return description_; }

    std::map<std::string, PortDetails> Details() override {
        std::map<std::string, PortDetails> details;
        if (!udev_) return details;
        for (const platform::UdevPort& port : udev_->Ports().value_or(std::vector<platform::UdevPort>{})) {
            details[port.comName] = {port.deviceNode, platform::ToString(port.roleSource)};
        }
        return details;
    }

    std::string DeviceKeyOf(const platform::ComPortInterface& port) override {
        // The sysfs path of the USB device: the same for all its ports.
        return platform::UsbDeviceUidOfNode(port.devicePath).value_or("");
    }

    bool KeepModemManagerAway(const std::string& comName, std::string& problem) override {
        const std::optional<std::string> uid = udev_ ? udev_->DeviceUidOf(comName) : explicit_->DeviceUidOf(comName);
        if (!uid) return true;
        platform::InhibitResult result = modemManager_.Inhibit(*uid);
        if (result.outcome == platform::InhibitResult::Outcome::Refused) {
            problem = result.failure;
            return false;
        }
        if (result.hold) holds_.push_back(std::move(result.hold));
        return true;
    }

private:
    platform::SystemClock clock_;
    platform::IniSettingsStore settings_;
    platform::PosixSerialPorts serialPorts_;
    platform::RoutingUsbBulk usbBulk_;
    platform::PosixProcesses processes_;
    platform::PosixModemManager modemManager_;
    // The enumerators map COM numbers in serialPorts_, so they go first.
    std::unique_ptr<platform::UdevDeviceEnumerator> udev_;
    std::unique_ptr<platform::ExplicitDeviceEnumerator> explicit_;
    std::unique_ptr<WithFastbootFrom> usbFastboot_;  // named ports without --fastboot
    std::vector<std::unique_ptr<platform::ModemInhibition>> holds_;  // one per device (--all)
    std::string description_;
};

}  // namespace

std::unique_ptr<RunPlatform> RunPlatform::Open(const RunOptions& options, std::string& problem, int& exitCode) {
    if (options.scenario) {
        std::unique_ptr<sim::SimPlatform> simulation = Simulate(*options.scenario, false, problem);
        if (!simulation) {
            exitCode = kExitUsage;
            return nullptr;
        }
        return std::make_unique<SimulatedRun>(std::move(simulation), options.timeScale);
    }
    platform::PosixPaths paths;
    const fs::path tempFolder = paths.TempFolder();
    platform::PortRoleTable roles;
    if (!options.ports.contains("--diag")) {
        // The shipped table of known modems' interfaces names the roles udev
        // and the devices leave unnamed; a damaged table stops the run.
        platform::PosixFiles files;
        std::optional<platform::PortRoleTable> table = platform::LoadPortRoleTable(
            files, paths.ProgramFolder() / platform::kPortRoleFolder / platform::kPortRoleFile, problem);
        if (!table) {
            problem = "the port table cannot be used: " + problem;
            exitCode = kExitFailure;
            return nullptr;
        }
        roles = std::move(*table);
    }
    return std::make_unique<MachineRun>(options, tempFolder, std::move(roles));
}

}  // namespace firmora::cli
