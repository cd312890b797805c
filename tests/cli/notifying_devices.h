#pragma once
// An enumerator for the command line's tests: the serial ports it is given,
// no fastboot or USB boot device, and change notifications the test raises.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/device_enumerator.h"

namespace firmora::cli {

class NotifyingDevices final : public platform::DeviceEnumerator {
public:
    std::vector<platform::ComPortInterface> ports;

    std::optional<std::vector<platform::ComPortInterface>> ComPortInterfaces() override { return ports; }
    std::vector<std::string> SerialPortNames() override {
        std::vector<std::string> names;
        for (const auto& port : ports) names.push_back(port.devicePath);
        return names;
    }
    std::vector<std::string> FastbootInterfacePaths() override { return {}; }
    std::vector<std::string> UsbBootDevicePaths() override { return {}; }
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(const std::string&) override { return nullptr; }
    void SetChangeHandler(ChangeHandler handler) override { handler_ = std::move(handler); }

    bool HasHandler() const { return static_cast<bool>(handler_); }
    void Raise(platform::DeviceChange change, bool isPort, const std::string& name) {
        if (handler_) handler_({change, isPort, name});
    }

private:
    ChangeHandler handler_;
};

}  // namespace firmora::cli
