#pragma once
// The DeviceEnumerator seam over ports the user named (`--diag`, `--at`,
// `--app`, `--fastboot`) instead of discovered ones. Serial ports are
// device nodes or stable links to them (/dev/serial/by-id/...); each has a
// fixed COM number and a friendly name whose role the port scan classifies:
//
//     --diag  COM3  "Named Diagnostics Port (COM3)"
//     --app   COM4  "Named Terminal Port (COM4)"
//     --at    COM5  "Named AT Port (COM5)"   (found by the AT probe)
//
// A relative path is taken from the working folder at construction. The
// numbers are mapped in PosixSerialPorts for the object's lifetime, so
// opening "COM5" opens the named path, following its link at every open: a
// modem that comes back from a reset under another node behind the same
// by-id link is found again. A port is present while its path leads to a
// character device; a thread looks every `pollInterval` and raises Removal
// and Arrival (isPort, the COM name) when that changes, until the object
// goes.
//
// The fastboot interface is "usb:BUS-PORTS:VID_xxxx&PID_xxxx[&MI_nn]" (listed
// while libusb lists that interface) or "tcp:HOST[:PORT]" (listed while the
// endpoint answers the fastboot handshake; each look connects once). No USB
// boot device is ever listed.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_enumerator.h"
#include "platform/posix/posix_serial_ports.h"

namespace firmora::platform {

struct ExplicitPorts {
    std::string diag;      // empty: not named
    std::string at;
    std::string app;
    std::string fastboot;
};

class LibusbUsbBulk;

class ExplicitDeviceEnumerator final : public DeviceEnumerator {
public:
    static constexpr int kDiagComNumber = 3;
    static constexpr int kAppComNumber = 4;
    static constexpr int kAtComNumber = 5;

    // `serialPorts` must outlive this object. Starts the watch thread.
    ExplicitDeviceEnumerator(PosixSerialPorts& serialPorts, ExplicitPorts ports,
                             std::chrono::milliseconds pollInterval = std::chrono::seconds(1));
    // Stops the watch thread and waits for it; the COM numbers are unmapped.
    ~ExplicitDeviceEnumerator() override;
    ExplicitDeviceEnumerator(const ExplicitDeviceEnumerator&) = delete;
    ExplicitDeviceEnumerator& operator=(const ExplicitDeviceEnumerator&) = delete;

    // The COM name a named path got ("COM5"), the path as it was named;
    // nullopt when no port has that path.
    std::optional<std::string> ComNameOf(const std::string& path) const;
    // The sysfs path of the USB device behind a named port ("COM5"), for
    // ModemManager's InhibitDevice; nullopt when the port is not there or
    // is no USB device's.
    std::optional<std::string> DeviceUidOf(const std::string& comName) const;

    // The present named ports, Diag, application and AT in that order.
    std::optional<std::vector<ComPortInterface>> ComPortInterfaces() override;
    std::vector<std::string> SerialPortNames() override;
    std::vector<std::string> FastbootInterfacePaths() override;
    std::vector<std::string> UsbBootDevicePaths() override { return {}; }
    // Fails with ENOENT: there is no USB boot device to open.
    std::unique_ptr<DeviceFile> OpenDevicePath(const std::string& path) override;
    void SetChangeHandler(ChangeHandler handler) override;

private:
    struct Named {
        int comNumber;
        std::string role;
        std::string path;
        bool present;
    };
    static bool Present(const std::string& path);
    void Watch();

    PosixSerialPorts& serialPorts_;
    std::vector<Named> named_;  // the paths never change; `present` is the watch thread's
    const std::string fastboot_;
    std::unique_ptr<LibusbUsbBulk> usb_;  // only for a "usb:" fastboot path
    const std::chrono::milliseconds pollInterval_;

    std::mutex mutex_;
    std::condition_variable stopSignal_;
    bool stop_ = false;
    ChangeHandler handler_;
    std::thread watcher_;
};

}  // namespace firmora::platform
