#pragma once
// The DeviceEnumerator seam over libudev: the serial ports of USB modems,
// their fastboot interfaces and the USB boot device, and a monitor thread
// that reports their arrivals and removals.
//
// Serial ports are the ttys of USB serial drivers (ttyUSB, ttyACM). Each is
// named "<product> <role> (COMn)" (see port_roles.h for the role), its
// hardware identifier reads "USB\Vid_xxxx&Pid_xxxx&Rev_xxxx&MI_nn" (no MI
// part for a device of one interface), and its COM number comes from the
// ComNumberArbiter, so it is the same for the same physical port in every
// run. Every enumeration maps the numbers it finds in PosixSerialPorts,
// which is how opening "COMn" reaches the right /dev node, and unmaps the
// ports that have gone. Lists are ordered by USB location and interface
// number, so the order does not depend on the order udev happens to list.
//
// Fastboot interfaces (class ff/42/03) and the USB boot device
// (VID_0451&PID_D00E) are named by the libusb device paths of
// libusb_device_path.h. The boot device's pipe "PIPE01" is its bulk OUT
// endpoint, opened through libusb.
//
// The monitor thread starts in the constructor and stops in the destructor.
// It raises Arrival and Removal with isPort and the COM name for serial
// ports, and without isPort and the sysfs path for USB devices.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/device_enumerator.h"
#include "platform/posix/com_number_arbiter.h"
#include "platform/posix/port_roles.h"
#include "platform/posix/posix_serial_ports.h"
#include "platform/settings_store.h"

struct udev;
struct udev_device;

namespace firmora::platform {

// Everything known about one serial port (what `firmora ports` shows).
struct UdevPort {
    std::string comName;       // "COM5"
    int comNumber = 0;
    std::string deviceNode;    // "/dev/ttyUSB2"
    std::string description;   // "<product> <role>"
    std::string friendlyName;  // description + " (COM5)"
    std::string hardwareId;
    RoleSource roleSource = RoleSource::None;
    std::string portKey;       // the physical port: "usb:1-1.4:VID_1C9E&PID_9B3C&MI_02"
    std::string deviceUid;     // sysfs path of the USB device (ModemManager's device UID)
    std::string syspath;       // sysfs path of the tty
};

// The sysfs path of the USB device behind a serial device node or a link to
// one (ModemManager's device UID); nullopt when the path leads to no
// character device or the device is no USB device's.
std::optional<std::string> UsbDeviceUidOfNode(const std::string& path);

class UdevDeviceEnumerator final : public DeviceEnumerator {
public:
    // The vendor and product id of the USB boot device.
    static constexpr uint16_t kUsbBootVendorId = 0x0451;
    static constexpr uint16_t kUsbBootProductId = 0xD00E;
    static constexpr const char* kUsbBootPipe = "PIPE01";

    // `serialPorts` receives the COM numbers, `settings` keeps them; both
    // must outlive this object. `roles` is the shipped port table (see
    // LoadPortRoleTable; empty is allowed). Starts the monitor thread.
    UdevDeviceEnumerator(PosixSerialPorts& serialPorts, SettingsStore& settings, PortRoleTable roles = {});
    // Stops the monitor thread and waits for it.
    ~UdevDeviceEnumerator() override;
    UdevDeviceEnumerator(const UdevDeviceEnumerator&) = delete;
    UdevDeviceEnumerator& operator=(const UdevDeviceEnumerator&) = delete;

    // Whether the monitor runs (false when udev could not be reached).
    bool monitoring() const { return monitorThread_.joinable(); }

    // A fresh enumeration of the serial ports, in list order; nullopt when
    // udev could not be asked (LastError set).
    std::optional<std::vector<UdevPort>> Ports();
    // The sysfs path of the USB device behind a COM name ("COM5"), for
    // ModemManager's InhibitDevice; nullopt when no present port has it.
    std::optional<std::string> DeviceUidOf(const std::string& comName);

    std::optional<std::vector<ComPortInterface>> ComPortInterfaces() override;
    std::vector<std::string> SerialPortNames() override;
    std::vector<std::string> FastbootInterfacePaths() override;
    std::vector<std::string> UsbBootDevicePaths() override;
    // "<USB boot device path>\PIPE01" opens the boot device's bulk OUT
    // endpoint; anything else fails with ENOENT.
    std::unique_ptr<DeviceFile> OpenDevicePath(const std::string& path) override;
    void SetChangeHandler(ChangeHandler handler) override;

private:
    std::optional<UdevPort> ResolvePort(udev_device* tty);
    void Monitor();
    void OnEvent(udev_device* device);
    void Raise(const DeviceChangeEvent& event);

    PosixSerialPorts& serialPorts_;
    ComNumberArbiter arbiter_;
    const PortRoleTable roles_;

    // Taken in this order. libudev objects are not thread-safe: the monitor
    // thread has a context of its own.
    std::mutex portsMutex_;
    std::map<std::string, UdevPort> known_;  // by tty syspath
    std::mutex udevMutex_;
    udev* udev_ = nullptr;

    std::mutex handlerMutex_;
    ChangeHandler handler_;

    udev* monitorUdev_ = nullptr;
    int stopPipe_[2] = {-1, -1};
    std::thread monitorThread_;
};

}  // namespace firmora::platform
