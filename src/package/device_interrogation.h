#pragma once
// Device interrogation: the AT probe that tells an AT port from any other
// port and reads who the device is (revision, software version, board type)
// on a short-lived handle of its own, never the worker's AT channel.
//
// Replies are collected across reads and judged as a whole with the AT
// channel's rules: an "OK" line ends a reply, an error line before it
// refuses the command.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "core/line_log.h"
#include "link/port_discovery.h"
#include "platform/clock.h"
#include "platform/serial_ports.h"

namespace firmora::package {

// The readings of the last port that passed the probe; empty at start-up.
struct DeviceReadings {
    // From the "ATI" reply: the text one character after "Revision:" up to
    // "\r\nIMEI:" (or the end of the revision line when no IMEI line follows).
    std::string DeviceRevision;
    // From the "AT+MVTSW" reply: the text after "+MVTSW:" to the end of its
    // line, blanks trimmed ("+MVTSW: MDM9x15.LTE.VQA0012.v2.0.2" gives
    // "MDM9x15.LTE.VQA0012.v2.0.2": the project code before the first ".",
    // the family in characters 8 to 10, the version code in the last four).
    // A reply without the tag gives its first line that is neither empty nor
    // the echo of the command.
    std::string DeviceSoftwareVersion;
    // "ZT73"/"ZT72" or "ZT6718"/"ZT6711" from "AT+PMU", for those packages only.
    std::string BoardType;
};

// How the readings are cut from a reply; those given `okPos`, where the
// final result stands, look at nothing past it.
// "ATI": the revision, as DeviceReadings::DeviceRevision says.
std::string RevisionOf(std::string_view reply);
// "AT+MVTSW": the software version, as DeviceReadings::DeviceSoftwareVersion says.
std::string SoftwareVersionOf(std::string_view reply, size_t okPos);
// "AT+CGMR": from the first "VQA" (else the first "VWA") to the second
// character before the result, without line breaks; none without either marker.
std::optional<std::string> FirmwareVersionOf(std::string_view reply, size_t okPos);
// "AT+PMU": from after the first ":" to the result, without blanks or line breaks.
std::string BoardCodeOf(std::string_view reply, size_t okPos);

// Sends `command` on `port` and extracts the useful part of the reply into
// `result`: "AT+CGMR" (from "VQA" or "VWA"), "AT+PMU" (after the colon, no
// blanks) and "AT+MVTSW" (above) have rules, other commands give an empty
// text. Up to ten reads 100 ms apart. False on a failed call, an error
// reply or no final result.
bool ProbeQuery(platform::SerialPort& port, platform::Clock& clock, const std::string& command,
                std::string& result);

class DeviceInterrogation final : public link::AtPortProbe {
public:
    // `packageName` is the package's [Project] Name: it decides whether the
    // board type is asked for.
    DeviceInterrogation(platform::SerialPorts& ports, platform::Clock& clock, core::LineLog& log,
                        std::string packageName);

    // "ATI" (must end in OK), "AT+MVTSW" and "at+mvtinf=0,2" (both must be
    // answered with OK), then the board type; every step logged.
    bool ProbeAtPort(const std::string& portName) override;

    // A copy of the readings (the probe may run on another thread).
    DeviceReadings Readings() const;
    // Whether a probe handle is still open: one that refused to close.
    bool HoldsPort();
    // Closes it (ten attempts): true when none is held afterwards.
    bool ReleasePort();

private:
    // Closes the probe handle (ten attempts), logging `warning` per failure.
    bool Close(const char* warning);
    void ReadBoardType(platform::SerialPort& port);
    void SetReading(std::string DeviceReadings::*field, std::string value);

    platform::SerialPorts& ports_;
    platform::Clock& clock_;
    core::LineLog& log_;
    const std::string packageName_;
    // One probe at a time: the handle belongs to the probe that runs.
    std::mutex probeMutex_;
    // The probe handle; it outlives a probe only when it refused to close.
    std::unique_ptr<platform::SerialPort> handle_;
    mutable std::mutex readingsMutex_;
    DeviceReadings readings_;
};

}  // namespace firmora::package
