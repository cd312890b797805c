#pragma once
// The contract between the virtual modem and its protocol handlers (AT, DIAG,
// fastboot). A handler sees what the host sends and answers through a
// DeviceSide: bytes back to the host after a delay, and requests for the
// device to change its USB personality. Handlers never see clocks, threads
// or ports, so the same handler runs in-process on the VirtualClock and in
// firmora-sim in real time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace firmora::sim {

using Bytes = std::vector<uint8_t>;

// Personalities the device shows on the USB bus.
enum class Personality {
    Absent,      // off the bus
    CdromOnly,   // only the virtual CD-ROM (driver disk)
    Normal,      // Diag, application and AT serial ports
    Bootloader,  // fastboot boot loader (Android-class bulk interface)
    UsbBoot,     // waits for a first-stage loader on its boot pipe
};

// Transitions a handler may ask of the device.
enum class ModemRequest {
    RebootToBootloader,  // "at+syscmd=sys_reboot bootloader"
    Reset,               // DIAG reset, mode-change reset, "AT+MVTRESET", fastboot "reboot", reset program
    PowerOff,            // DIAG power-off: leaves the bus, comes back like a reset
    SwitchToModem,       // "AT+DISK=8,\"D1\"" / "D2", mode-switch program: CD-ROM -> normal ports
    SwitchToCdrom,       // "AT+CDROM=1"
    DropOffBus,          // fault: leave the bus now (return as the scenario says)
};

std::string ToString(Personality personality);
std::string ToString(ModemRequest request);

class DeviceSide {
public:
    virtual ~DeviceSide() = default;
    // Bytes to the host on the port (or endpoint) that received the request,
    // `delayMs` after now. Successive sends arrive in the order sent.
    virtual void Send(const Bytes& bytes, uint64_t delayMs = 0) = 0;
    // A transition, carried out `delayMs` after now.
    virtual void Request(ModemRequest request, uint64_t delayMs = 0) = 0;
    // The device's time in milliseconds (virtual or real).
    virtual uint64_t NowMs() const = 0;
};

// The device end of one serial port.
class SerialResponder {
public:
    virtual ~SerialResponder() = default;
    // Bytes the host wrote, in order, as they arrive (any split).
    virtual void OnHostBytes(const uint8_t* data, size_t length, DeviceSide& device) = 0;
    // The port went away (device left the bus): drop partial input.
    virtual void OnDisconnect() {}
};

}  // namespace firmora::sim
