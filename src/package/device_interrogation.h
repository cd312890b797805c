#pragma once
// Device interrogation: the AT probe that tells an AT port from any other
// port and reads who the device is (revision, software version, board type)
// on a short-lived handle of its own, never the worker's AT channel.

#include <memory>
#include <mutex>
#include <string>

#include "core/line_log.h"
#include "link/port_discovery.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"

namespace firmora::package {

// The readings of the last port that passed the probe; empty at start-up.
struct DeviceReadings {
    std::string DeviceRevision;
    std::string DeviceSoftwareVersion;
    std::string BoardType;
};

// Sends `command` on `port` and extracts the useful part of the reply into
// `result` ("AT+CGMR" and "AT+PMU" have rules, other commands give an empty
// text). False on a failed call, an "ERROR" reply or no final result.
bool ProbeQuery(platform::SerialPort& port, platform::Clock& clock, const std::string& command,
                std::string& result);

class DeviceInterrogation final : public link::AtPortProbe {
public:
    // `packageName` is the package's [Project] Name: it decides whether the
    // board type is asked for.
    DeviceInterrogation(platform::SerialPorts& ports, platform::Clock& clock, core::LineLog& log,
                        std::string packageName);

    bool ProbeAtPort(const std::string& portName) override;

    // A copy of the readings (the probe may run on another thread).
    DeviceReadings Readings() const;

private:
    platform::SerialPorts& ports_;
    platform::Clock& clock_;
    core::LineLog& log_;
    const std::string packageName_;
    mutable std::mutex readingsMutex_;
    DeviceReadings readings_;
};

}  // namespace firmora::package
