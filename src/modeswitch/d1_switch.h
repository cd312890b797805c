#pragma once
// The discovery switch: "AT+DISK=8,\"D1\"" written on a port of its own,
// with the AT probe's line settings. Delivered means written; the reply is
// read but not judged.

#include "link/port_discovery.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"

namespace firmora::modeswitch {

class SerialD1Switch final : public link::DiscoverySwitch {
public:
    SerialD1Switch(platform::SerialPorts& ports, platform::Clock& clock) : ports_(ports), clock_(clock) {}
    bool SendD1Switch(const std::string& portName) override;

private:
    platform::SerialPorts& ports_;
    platform::Clock& clock_;
};

}  // namespace firmora::modeswitch
