#pragma once
// The UsbBulk seam over the virtual modems' boot loaders. One write is one
// message to the boot loader; one read takes the next reply message (one
// longer than the buffer: EOVERFLOW, and it is gone), waiting on the
// VirtualClock up to its time-out. A device that left the bus fails every
// call but Close with EIO.

#include <memory>
#include <string>

#include "platform/usb_bulk.h"
#include "sim/sim_bus.h"

namespace firmora::sim {

class SimUsbBulk final : public platform::UsbBulk {
public:
    explicit SimUsbBulk(SimBus& bus) : bus_(bus) {}

    // Null with LastError ENOENT unless a modem shows this fastboot interface path now.
    std::unique_ptr<platform::BulkTransport> Open(const std::string& devicePath) override;

private:
    SimBus& bus_;
};

}  // namespace firmora::sim
