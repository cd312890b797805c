#include "sim/sim_device_enumerator.h"

#include <algorithm>
#include <cctype>

#include "platform/last_error.h"

namespace firmora::sim {
namespace {

class BootPipe final : public platform::DeviceFile {
public:
    // `pipe` false: the device itself, opened to see that it is there.
    BootPipe(SimBus& bus, SimBus::Device& device, bool pipe)
        : bus_(bus), device_(device), generation_(device.generation), pipe_(pipe) {}

    bool Write(const uint8_t* data, size_t length, size_t& written) override {
        std::lock_guard lock(bus_.mutex());
        written = 0;
        if (closed_) {
            platform::SetLastError(kErrBadHandle);
            return false;
        }
        if (device_.generation != generation_) {
            platform::SetLastError(kErrIo);
            return false;
        }
        if (!pipe_) {
            platform::SetLastError(kErrInvalid);
            return false;
        }
        device_.modem->UsbBootWrite(data, length);
        written = length;
        return true;
    }
    bool Close() override {
        closed_ = true;
        return true;
    }

private:
    SimBus& bus_;
    SimBus::Device& device_;
    uint64_t generation_;
    bool pipe_;
    bool closed_ = false;
};

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

}  // namespace

std::string SimDeviceEnumerator::SerialInterfacePath(const PortInfo& port, const std::string& instance, size_t index) {
    // "USB\VID_1D6B&PID_F101&REV_0100&MI_00" -> "\\?\usb#vid_1d6b&pid_f101&mi_00#<instance>&<n>#{class}"
    std::string id = Lower(port.hardwareId);
    const size_t rev = id.find("&rev_");
    if (rev != std::string::npos) {
        const size_t end = id.find('&', rev + 1);
        id.erase(rev, end == std::string::npos ? std::string::npos : end - rev);
    }
    std::replace(id.begin(), id.end(), '\\', '#');
    return "\\\\?\\" + id + "#" + Lower(instance) + "&" + std::to_string(index) +
           "#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
}

std::optional<std::vector<platform::ComPortInterface>> SimDeviceEnumerator::ComPortInterfaces() {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    std::vector<platform::ComPortInterface> interfaces;
    for (const auto& device : bus_.devices()) {
        const std::vector<PortInfo> ports = device->modem->Ports();
        for (size_t i = 0; i < ports.size(); ++i) {
            interfaces.push_back({SerialInterfacePath(ports[i], device->profile.instance, i), ports[i].friendlyName,
                                  ports[i].description, ports[i].hardwareId});
        }
    }
    return interfaces;
}

std::vector<std::string> SimDeviceEnumerator::SerialPortNames() {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    std::vector<std::string> names;
    for (const auto& device : bus_.devices()) {
        for (const PortInfo& port : device->modem->Ports()) names.push_back("COM" + std::to_string(port.comNumber));
    }
    return names;
}

std::vector<std::string> SimDeviceEnumerator::FastbootInterfacePaths() {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    std::vector<std::string> paths;
    for (const auto& device : bus_.devices()) {
        std::string path = device->modem->FastbootInterfacePath();
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

std::vector<std::string> SimDeviceEnumerator::UsbBootDevicePaths() {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    std::vector<std::string> paths;
    for (const auto& device : bus_.devices()) {
        std::string path = device->modem->UsbBootDevicePath();
        if (!path.empty()) paths.push_back(std::move(path));
    }
    return paths;
}

std::unique_ptr<platform::DeviceFile> SimDeviceEnumerator::OpenDevicePath(const std::string& path) {
    std::lock_guard lock(bus_.mutex());
    bus_.CatchUp();
    const size_t slash = path.rfind('\\');
    if (slash != std::string::npos && SamePath(path.substr(slash + 1), kBootPipe)) {
        if (SimBus::Device* device = bus_.FindUsbBoot(path.substr(0, slash))) {
            return std::make_unique<BootPipe>(bus_, *device, true);
        }
    }
    if (SimBus::Device* device = bus_.FindUsbBoot(path)) return std::make_unique<BootPipe>(bus_, *device, false);
    platform::SetLastError(kErrNoDevice);
    return nullptr;
}

void SimDeviceEnumerator::SetChangeHandler(ChangeHandler handler) { bus_.SetChangeHandler(std::move(handler)); }

}  // namespace firmora::sim
