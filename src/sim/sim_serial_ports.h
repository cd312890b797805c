#pragma once
// The SerialPorts seam over the virtual modems: "COM5" or "\\.\COM12" opens
// the port that number belongs to now. Reads wait on the VirtualClock the way
// the time-outs say (platform::PlanRead), writes reach the modem at once, and
// a port whose device left the bus fails every call but Close with EIO.

#include <memory>
#include <string>

#include "platform/serial_ports.h"
#include "sim/sim_bus.h"

namespace firmora::sim {

class SimSerialPorts final : public platform::SerialPorts {
public:
    explicit SimSerialPorts(SimBus& bus) : bus_(bus) {}

    // Null with LastError ENOENT for a number no device shows now, EBUSY
    // for a port that is open already (ports are never shared).
    std::unique_ptr<platform::SerialPort> Open(const std::string& deviceName) override;

private:
    SimBus& bus_;
};

}  // namespace firmora::sim
