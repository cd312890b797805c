#include "platform/posix/posix_serial_ports.h"

#include <cerrno>
#include <utility>

#include "platform/last_error.h"
#include "platform/posix/posix_serial_port.h"

namespace firmora::platform {
namespace {

// Relative paths would depend on the working folder of the moment.
bool IsDeviceNode(const std::string& path) { return !path.empty() && path.front() == '/'; }

}  // namespace

std::string ComPortValueName(int comNumber) { return "COM" + std::to_string(comNumber); }

PosixSerialPorts::PosixSerialPorts(SettingsStore* settings) : settings_(settings) {}

void PosixSerialPorts::MapComPort(int comNumber, std::string devicePath) {
    std::lock_guard lock(mutex_);
    table_[comNumber] = std::move(devicePath);
}

void PosixSerialPorts::UnmapComPort(int comNumber) {
    std::lock_guard lock(mutex_);
    table_.erase(comNumber);
}

std::optional<std::string> PosixSerialPorts::DevicePathFor(const std::string& deviceName) const {
    if (IsDeviceNode(deviceName)) return deviceName;
    const std::optional<int> number = ParseComName(deviceName);
    if (!number) return std::nullopt;

    std::optional<std::string> path;
    {
        std::lock_guard lock(mutex_);
        if (const auto it = table_.find(*number); it != table_.end()) path = it->second;
    }
    if (!path && settings_) path = settings_->ReadString(SettingsScope::User, kComPortsKey, ComPortValueName(*number));
    if (!path || !IsDeviceNode(*path)) return std::nullopt;
    return path;
}

std::unique_ptr<SerialPort> PosixSerialPorts::Open(const std::string& deviceName) {
    const std::optional<std::string> path = DevicePathFor(deviceName);
    if (!path) {
        SetLastError(ENOENT);
        return nullptr;
    }
    return PosixSerialPort::Open(*path);
}

}  // namespace firmora::platform
