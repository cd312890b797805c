#pragma once
// Device enumeration seam: what the tool asks the system about attached
// devices (the serial ports with their names and roles, the fastboot and USB
// boot interfaces, arrivals and removals). Implemented today over the
// virtual modems present (SimPlatform); a host implementation would ask the
// system's device tree.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace firmora::platform {

// One interface of the COM port class.
struct ComPortInterface {
    std::string devicePath;    // the interface's path
    std::string friendlyName;  // e.g. "Modem Diagnostics Interface (COM5)"
    std::string description;   // device description
    std::string hardwareId;    // first string of the hardware identifier list
};

enum class DeviceChange { Arrival, Removal };

struct DeviceChangeEvent {
    DeviceChange change;
    bool isPort;       // a device of the port type (a COM port) rather than another interface
    std::string name;  // "COM5", or an interface path
};

// An opened device path (the USB boot device's pipe).
class DeviceFile {
public:
    virtual ~DeviceFile() = default;
    virtual bool Write(const uint8_t* data, size_t length, size_t& written) = 0;
    virtual bool Close() = 0;
};

class DeviceEnumerator {
public:
    virtual ~DeviceEnumerator() = default;

    // Present interfaces of the COM port class, in member order; nullopt when
    // the class query itself failed (LastError set).
    virtual std::optional<std::vector<ComPortInterface>> ComPortInterfaces() = 0;
    // The serial ports the system knows, as port names ("COM7"), in the
    // order the system lists them.
    virtual std::vector<std::string> SerialPortNames() = 0;
    // Device paths of present fastboot (Android USB bulk) interfaces, by member index.
    virtual std::vector<std::string> FastbootInterfacePaths() = 0;
    // Device paths of present USB boot devices, by member index.
    virtual std::vector<std::string> UsbBootDevicePaths() = 0;
    // Opens a device path for writing (a USB boot device's pipe: device path,
    // a backslash, the pipe name); null on failure (LastError set).
    virtual std::unique_ptr<DeviceFile> OpenDevicePath(const std::string& path) = 0;

    // Device-change notifications: the handler may run on any thread.
    using ChangeHandler = std::function<void(const DeviceChangeEvent&)>;
    virtual void SetChangeHandler(ChangeHandler handler) = 0;
};

}  // namespace firmora::platform
