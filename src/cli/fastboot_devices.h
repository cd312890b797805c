#pragma once
// FastbootDevices: a DeviceEnumerator that knows only fastboot interfaces,
// for a download run outside the full tool: the plan looks its interface up
// before every connection, and here the answer comes from a device path the
// user named or from a live list (USB interfaces present now). It shows no
// serial ports and no USB boot devices.

#include <functional>
#include <string>
#include <vector>

#include "platform/device_enumerator.h"

namespace firmora::cli {

class FastbootDevices final : public platform::DeviceEnumerator {
public:
    using PathSource = std::function<std::vector<std::string>()>;

    explicit FastbootDevices(PathSource paths) : paths_(std::move(paths)) {}
    // Always the one path given.
    static FastbootDevices Fixed(std::string path) {
        return FastbootDevices([path = std::move(path)] { return std::vector<std::string>{path}; });
    }

    std::optional<std::vector<platform::ComPortInterface>> ComPortInterfaces() override {
        return std::vector<platform::ComPortInterface>{};
    }
    std::vector<std::string> SerialPortNames() override { return {}; }
    std::vector<std::string> FastbootInterfacePaths() override { return paths_(); }
    std::vector<std::string> UsbBootDevicePaths() override { return {}; }
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(const std::string& path) override;
    void SetChangeHandler(ChangeHandler /*handler*/) override {}

private:
    PathSource paths_;
};

// Another enumerator's serial ports, USB boot devices and notifications,
// with the fastboot interfaces of a path source: the ports named on the
// command line, the boot loader found on USB.
class WithFastbootFrom final : public platform::DeviceEnumerator {
public:
    WithFastbootFrom(platform::DeviceEnumerator& ports, FastbootDevices::PathSource paths)
        : ports_(ports), paths_(std::move(paths)) {}

    std::optional<std::vector<platform::ComPortInterface>> ComPortInterfaces() override {
        return ports_.ComPortInterfaces();
    }
    std::vector<std::string> SerialPortNames() override { return ports_.SerialPortNames(); }
    std::vector<std::string> FastbootInterfacePaths() override { return paths_(); }
    std::vector<std::string> UsbBootDevicePaths() override { return ports_.UsbBootDevicePaths(); }
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(const std::string& path) override {
        return ports_.OpenDevicePath(path);
    }
    void SetChangeHandler(ChangeHandler handler) override { ports_.SetChangeHandler(std::move(handler)); }

private:
    platform::DeviceEnumerator& ports_;
    FastbootDevices::PathSource paths_;
};

}  // namespace firmora::cli
