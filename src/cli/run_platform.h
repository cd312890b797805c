#pragma once
// What an update run and a port scan run over: the seams of this machine
// (the serial ports, USB, the helper programs, the real clock, the USB
// serial ports found by udev or the ports named on the command line) or
// those of the virtual modem on its virtual clock.

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <ostream>
#include <string>

#include "platform/clock.h"
#include "platform/device_enumerator.h"
#include "platform/processes.h"
#include "platform/serial_ports.h"
#include "platform/settings_store.h"
#include "platform/usb_bulk.h"

namespace firmora::cli {

// The command line of firmora run (firmora ports uses the target part).
struct RunOptions {
    std::optional<std::filesystem::path> config;
    std::optional<std::filesystem::path> backupRoot;
    // --time-scale: the real clock's pace. With --simulate (which only the
    // desktop window accepts with it) the virtual modem's time follows the
    // real clock at that pace, to be watched.
    std::optional<double> timeScale;
    std::optional<std::string> scenario;       // set with --simulate
    std::map<std::string, std::string> ports;  // "--diag", "--at", "--app", "--fastboot" to their values
    // Without --config, the package the program carries runs through the window:
    std::optional<double> waitSeconds;  // --wait: how long the modem may stay Not Ready
    bool reupdate = false;              // --reupdate: Re-update instead of Start
    bool all = false;                   // --all: every connected modem at once
    bool verbose = false;
    bool help = false;
};

// "--diag", "--at", "--app" or "--fastboot" when `arg` is one of them (alone
// or with "=value"); null otherwise.
const char* PortOptionOf(const std::string& arg);

// Where the device backup folders go when --backup-root is not given:
// "$XDG_DATA_HOME/firmora/backups", else "$HOME/.local/share/firmora/backups".
// They must outlive the run when it fails, so not the temporary folder.
std::filesystem::path DefaultBackupRoot();

// The device instance a Windows-style interface path carries, as the virtual
// modem names its ports: "\\?\usb#vid_1d6b&pid_f101&mi_00#6&2f0a5c1&0&0#{...}"
// gives "6&2f0a5c1&0" (the interface's own number dropped); empty for any
// other path.
std::string InstanceOfInterfacePath(const std::string& path);

class RunPlatform {
public:
    // Null with the problem and the exit status when the target cannot be had.
    static std::unique_ptr<RunPlatform> Open(const RunOptions& options, std::string& problem, int& exitCode);
    virtual ~RunPlatform() = default;

    virtual platform::Clock& clock() = 0;
    virtual platform::SerialPorts& serialPorts() = 0;
    virtual platform::DeviceEnumerator& devices() = 0;
    virtual platform::UsbBulk& usbBulk() = 0;
    virtual platform::Processes& processes() = 0;
    virtual platform::SettingsStore& settings() = 0;
    // "the virtual modem (scenario default)", "the modem on /dev/...", ...
    virtual std::string Description() const = 0;

    // Where a port ("COM5") is and what gave it its role, for `firmora ports`.
    struct PortDetails {
        std::string node;        // the device node, or the interface path
        std::string roleSource;  // "ModemManager tag", "USB interface string", ...
    };
    virtual std::map<std::string, PortDetails> Details() = 0;

    // Which USB device a serial port interface belongs to (the same text for
    // every port of one device, and for no other); empty when unknown.
    virtual std::string DeviceKeyOf(const platform::ComPortInterface& port) = 0;

    // Keeps ModemManager away from the device behind `comName` until this
    // object goes (for each device it is asked for); false with its refusal and remedy in `problem`. Nothing
    // to do for the virtual modem, a port that is no USB device's, or a
    // system without ModemManager.
    virtual bool KeepModemManagerAway(const std::string& comName, std::string& problem) = 0;
};

}  // namespace firmora::cli
