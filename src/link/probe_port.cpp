#include "link/probe_port.h"

#include "link/serial_channel.h"

namespace firmora::link {
namespace {

constexpr int kCloseAttempts = 10;
constexpr uint32_t kClosePauseMs = 100;

}  // namespace

platform::SerialTimeouts ProbeTimeouts() {
    // The AT channel's own: they do not depend on the project.
    return SerialChannel::TimeoutsFor(ChannelRole::At, 0);
}

std::unique_ptr<platform::SerialPort> OpenProbePort(platform::SerialPorts& ports, const std::string& portName) {
    const std::optional<int> number = platform::ParseComName(portName);
    if (!number || *number < 1) return nullptr;
    return ports.Open(SerialChannel::DeviceName(*number));
}

bool ConfigureProbePort(platform::SerialPort& port) {
    port.Purge(platform::kPurgeAll);
    if (!port.SetTimeouts(ProbeTimeouts())) return false;
    platform::LineSettings line;
    if (!port.GetLineSettings(line)) return false;
    SetAtLine(line);
    return port.SetLineSettings(line);
}

bool CloseProbePort(std::unique_ptr<platform::SerialPort>& port, platform::Clock& clock,
                    const std::function<void()>& onFailedAttempt) {
    if (!port) return true;
    for (int attempt = 0; attempt < kCloseAttempts; ++attempt) {
        if (attempt > 0) clock.Sleep(kClosePauseMs);
        if (port->Close()) {
            port.reset();
            return true;
        }
        if (onFailedAttempt) onFailedAttempt();
    }
    return false;
}

bool WriteText(platform::SerialPort& port, const std::string& text) {
    size_t written = 0;
    return port.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), written) && written == text.size();
}

}  // namespace firmora::link
