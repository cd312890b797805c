#include "modeswitch/d1_switch.h"

#include <array>

#include "link/probe_port.h"

namespace firmora::modeswitch {
namespace {

constexpr const char* kSwitchCommand = "AT+DISK=8,\"D1\"\r\n";
constexpr uint32_t kFirstPauseMs = 500;
constexpr uint32_t kPollMs = 800;
constexpr uint32_t kPollLimitMs = 8000;

}  // namespace

bool SerialD1Switch::SendD1Switch(const std::string& portName) {
    std::unique_ptr<platform::SerialPort> port = link::OpenProbePort(ports_, portName);
    if (!port) return false;
    bool written = link::ConfigureProbePort(*port) && link::WriteText(*port, kSwitchCommand);
    if (written) {
        // The reply is read only so that the device is not left talking to
        // nobody; what it says does not matter.
        clock_.Sleep(kFirstPauseMs);
        std::array<uint8_t, 128> reply{};
        size_t got = 0;
        bool readable = port->Read(reply.data(), reply.size(), got);
        for (uint32_t waited = 0; readable && got == 0 && waited < kPollLimitMs; waited += kPollMs) {
            clock_.Sleep(kPollMs);
            readable = port->Read(reply.data(), reply.size(), got);
        }
    }
    link::CloseProbePort(port, clock_, {});
    return written;
}

}  // namespace firmora::modeswitch
