#pragma once
// firmora run --all: every connected modem updated at once, one worker slot
// of the window each. Each worker runs over its own view of the machine:
//
// - its serial ports and port scans see only its own device (the interfaces
//   whose USB device is its device), so the rescans after a reset find its
//   ports and never another's, and its AT probes never touch another modem;
// - the boot loader is one device's at a time: a worker takes the boot-loader
//   turn just before it sends its device into the boot loader, and only the
//   holder sees any fastboot or USB boot interface. An interface that was
//   there before the turn was taken is not the holder's and is never shown;
//   two new ones at once are ambiguous and none is shown (the worker then
//   fails on its own time-out instead of writing a device that may not be
//   its). The turn passes on once the holder's device has left its boot
//   loader, or its worker has ended.
//
// Each device's lines go to the console with the device's ports in front and
// to a run log of its own.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "app/flash_form.h"
#include "app/report_sink.h"
#include "app/run_log.h"
#include "cli/console_progress.h"
#include "cli/run_window.h"
#include "link/port_discovery.h"
#include "modeswitch/d1_switch.h"
#include "package/device_interrogation.h"
#include "platform/device_enumerator.h"
#include "platform/serial_ports.h"

namespace firmora::cli {

// Which USB device a serial port interface belongs to; empty when unknown.
using DeviceKeyFunction = std::function<std::string(const platform::ComPortInterface&)>;

// The machine's enumerator with any number of change handlers: the window
// keeps its own (SetChangeHandler) and each device's window subscribes.
class ChangeFanOut final : public platform::DeviceEnumerator {
public:
    explicit ChangeFanOut(platform::DeviceEnumerator& base);
    ~ChangeFanOut() override;
    ChangeFanOut(const ChangeFanOut&) = delete;
    ChangeFanOut& operator=(const ChangeFanOut&) = delete;

    std::optional<std::vector<platform::ComPortInterface>> ComPortInterfaces() override {
        return base_.ComPortInterfaces();
    }
    std::vector<std::string> SerialPortNames() override { return base_.SerialPortNames(); }
    std::vector<std::string> FastbootInterfacePaths() override { return base_.FastbootInterfacePaths(); }
    std::vector<std::string> UsbBootDevicePaths() override { return base_.UsbBootDevicePaths(); }
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(const std::string& path) override {
        return base_.OpenDevicePath(path);
    }
    void SetChangeHandler(ChangeHandler handler) override { Subscribe(kPrimary, std::move(handler)); }

    // Sets (or with null removes) the handler under `id`; once it returns
    // the old handler is no longer running.
    void Subscribe(int id, ChangeHandler handler);
    static constexpr int kPrimary = -1;

private:
    void Dispatch(const platform::DeviceChangeEvent& event);

    platform::DeviceEnumerator& base_;
    std::mutex mutex_;
    std::map<int, ChangeHandler> handlers_;
};

// Whose device may be in its boot loader.
class BootloaderTurn {
public:
    // Waits until no other slot holds the turn, then takes it for `slot`,
    // noting `present` (the interfaces there now, none of them the slot's).
    // False when `stopped` turned true first.
    bool Take(int slot, std::vector<std::string> present, const std::function<bool()>& stopped);
    void Release(int slot);
    bool HeldBy(int slot) const;
    // The interfaces that were present when the holder took the turn.
    std::vector<std::string> Strays() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable released_;
    int holder_ = -1;
    std::vector<std::string> strays_;
};

// Which device each COM name was last seen on, so that a port's arrival or
// removal reaches that device's window only (a name no device has shown yet
// reaches every one).
class PortClaims {
public:
    void Claim(const std::string& comName, int slot);
    // The slot, or -1 when no device has shown the name.
    int OwnerOf(const std::string& comName) const;

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> owners_;
};

// One device's view of the machine's devices.
class DeviceScope final : public platform::DeviceEnumerator {
public:
    DeviceScope(ChangeFanOut& machine, DeviceKeyFunction keyOf, std::string key, int slot, BootloaderTurn& turn,
                PortClaims& claims, const std::atomic<bool>& stopRequested);
    ~DeviceScope() override;
    DeviceScope(const DeviceScope&) = delete;
    DeviceScope& operator=(const DeviceScope&) = delete;

    std::optional<std::vector<platform::ComPortInterface>> ComPortInterfaces() override;
    std::vector<std::string> SerialPortNames() override;
    std::vector<std::string> FastbootInterfacePaths() override;
    std::vector<std::string> UsbBootDevicePaths() override;
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(const std::string& path) override {
        return machine_.OpenDevicePath(path);
    }
    void SetChangeHandler(ChangeHandler handler) override;

    // The device is about to be sent into its boot loader: waits for the turn.
    bool TakeTurn();
    // Passes the turn on once the device has left its boot loader.
    void ReleaseIfLeftBootloader();
    int slot() const { return slot_; }

private:
    // The interfaces of `paths` that are the holder's; empty unless this
    // slot holds the turn and exactly one new interface is there.
    std::vector<std::string> OwnBootInterfaces(const std::vector<std::string>& paths);

    ChangeFanOut& machine_;
    DeviceKeyFunction keyOf_;
    const std::string key_;
    const int slot_;
    BootloaderTurn& turn_;
    PortClaims& claims_;
    const std::atomic<bool>& stopRequested_;
    std::mutex mutex_;
    std::string bootInterface_;  // the boot-loader interface it showed while holding the turn
};

// One device's serial ports: the write that sends the device into its boot
// loader first waits for the boot-loader turn.
class ScopedSerialPorts final : public platform::SerialPorts {
public:
    ScopedSerialPorts(platform::SerialPorts& machine, DeviceScope& scope) : machine_(machine), scope_(scope) {}
    std::unique_ptr<platform::SerialPort> Open(const std::string& deviceName) override;

private:
    platform::SerialPorts& machine_;
    DeviceScope& scope_;
};

// True for the AT command that sends a device into its boot loader.
bool SendsIntoBootloader(const uint8_t* data, size_t length);

// The result of one device.
struct DeviceOutcome {
    std::string name;  // "COM5/COM7": its Diag and AT ports at the start
    bool launched = false;
    bool passed = false;
    std::string failure;
    std::filesystem::path backupFolder;
    std::filesystem::path runLog;  // kept after a failure
};

class DeviceFleet {
public:
    static constexpr int kMaxDevices = app::TFlashSrcUiForm::kSlotCount;

    struct Services {
        ChangeFanOut& machine;
        platform::SerialPorts& serialPorts;
        platform::Clock& clock;
        platform::Dialogs& dialogs;
        platform::Paths& paths;
        DeviceKeyFunction keyOf;
        // Before a device's worker starts, with its Diag port: false with
        // the reason leaves the device alone (ModemManager would not let go).
        std::function<bool(const std::string& diagSelector, std::string& problem)> beforeLaunch;
    };
    DeviceFleet(Services services, ConsoleProgress& progress, const std::atomic<bool>& stopRequested);
    ~DeviceFleet();

    // Finds the devices (their ports, each in its own scope) and launches a
    // worker for each in the form; false with the reason when none could be.
    bool Launch(app::TFlashSrcUiForm& form, std::string& problem);
    // The window's thread, after each turn: passes the turn on from ended workers.
    void Poll(const app::TFlashSrcUiForm& form);
    // After every worker has ended.
    std::vector<DeviceOutcome> Outcomes(const app::TFlashSrcUiForm& form);

private:
    struct Device;

    Services services_;
    ConsoleProgress& progress_;
    const std::atomic<bool>& stopRequested_;
    BootloaderTurn turn_;
    PortClaims claims_;
    std::vector<std::unique_ptr<Device>> devices_;
};

}  // namespace firmora::cli
