#pragma once
// The DeviceEnumerator seam over the virtual modems: their serial
// interfaces with friendly names, descriptions and hardware identifiers,
// the ordered port list, fastboot and USB boot interface paths, the USB boot
// pipe, and device-change notifications at the virtual times the modems
// leave and return.

#include "platform/device_enumerator.h"
#include "sim/sim_bus.h"

namespace firmora::sim {

class SimDeviceEnumerator final : public platform::DeviceEnumerator {
public:
    explicit SimDeviceEnumerator(SimBus& bus) : bus_(bus) {}

    // The only pipe a USB boot device has.
    static constexpr const char* kBootPipe = "PIPE01";

    // Modems in the order they were plugged in, each one's ports in scenario order.
    std::optional<std::vector<platform::ComPortInterface>> ComPortInterfaces() override;
    std::vector<std::string> SerialPortNames() override;
    std::vector<std::string> FastbootInterfacePaths() override;
    std::vector<std::string> UsbBootDevicePaths() override;
    // "<USB boot device path>\PIPE01" opens the boot pipe; the device path
    // alone opens the device (whose writes fail); anything else ENOENT.
    std::unique_ptr<platform::DeviceFile> OpenDevicePath(const std::string& path) override;
    // Called with each removal and arrival: the interface path first, then
    // one event per COM port, on the thread whose sleep moved time there.
    void SetChangeHandler(ChangeHandler handler) override;

    // The interface path of a serial port, made from its hardware identifier.
    static std::string SerialInterfacePath(const PortInfo& port, const std::string& instance, size_t index);

private:
    SimBus& bus_;
};

}  // namespace firmora::sim
