#pragma once
// Serial ports on POSIX: the COM names the tool speaks ("COM9", "\\.\COM10")
// are mapped to device nodes, first through a table the program fills, then
// through the COM numbers kept in the settings store, so that a modem keeps
// its number from run to run. A name starting with "/" is a device node.

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial_ports.h"
#include "platform/settings_store.h"

namespace firmora::platform {

// User-scope key of the stored COM numbers; each value is named "COM<n>"
// and holds the absolute path of the device node.
inline constexpr char kComPortsKey[] = "Software\\Firmora\\ComPorts";

std::string ComPortValueName(int comNumber);

class PosixSerialPorts final : public SerialPorts {
public:
    // `settings` may be null (no stored COM numbers); it must outlive this object.
    explicit PosixSerialPorts(SettingsStore* settings = nullptr);

    // Entries of this table win over the stored numbers. Thread-safe.
    void MapComPort(int comNumber, std::string devicePath);
    void UnmapComPort(int comNumber);

    // The device node a name stands for; nullopt when it names none (an
    // unknown COM number, a mapping that is not an absolute path, any other name).
    std::optional<std::string> DevicePathFor(const std::string& deviceName) const;

    // Null with LastError on failure: ENOENT for a name that maps to no node,
    // otherwise the error of opening the node (EBUSY when it is in use).
    std::unique_ptr<SerialPort> Open(const std::string& deviceName) override;

private:
    SettingsStore* settings_;
    mutable std::mutex mutex_;
    std::map<int, std::string> table_;
};

}  // namespace firmora::platform
