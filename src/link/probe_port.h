#pragma once
// A short-lived handle on a COM port, apart from the worker's channels: the
// AT probe and the discovery switch open a candidate port for one or two
// commands and close it again. Both use the same line (115200 8N1, binary,
// DTR on), reads that return at once, and writes bounded by 100 ms per byte
// plus one second.

#include <functional>
#include <memory>
#include <string>

#include "platform/clock.h"
#include "platform/serial_ports.h"

namespace firmora::link {

// The time-outs of a probe handle: reads return at once with what has
// arrived; a write may take 100 ms per byte plus 1000 ms.
platform::SerialTimeouts ProbeTimeouts();

// Opens "COMn" (the device prefix added from COM10 on); null when the name
// is no COM name or the system refuses (LastError set).
std::unique_ptr<platform::SerialPort> OpenProbePort(platform::SerialPorts& ports, const std::string& portName);

// Purges everything, sets the probe time-outs and the probe line; false when
// the port refuses the time-outs or the line.
bool ConfigureProbePort(platform::SerialPort& port);

// Up to ten close attempts 100 ms apart; `onFailedAttempt` runs after each
// failed one. The handle is released once closed; a handle that refuses all
// ten stays with the caller, who may try again later.
bool CloseProbePort(std::unique_ptr<platform::SerialPort>& port, platform::Clock& clock,
                    const std::function<void()>& onFailedAttempt);

// Writes the whole text; false when the call failed or fell short.
bool WriteText(platform::SerialPort& port, const std::string& text);

}  // namespace firmora::link
