#pragma once
// Port discovery: which COM ports of the present devices are the Diag
// ports, the application ports and the AT ports (PortMap), the check after
// a reset whether the Diag port kept its number, and the USB boot device's
// pipe. Every scan runs under one lock, so a scan from the window (start-up,
// readiness) and one from the worker (after a reset) never interleave on the
// lists: the second caller waits for the first.

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/line_log.h"
#include "platform/clock.h"
#include "platform/device_enumerator.h"
#include "platform/dialogs.h"

namespace firmora::link {

// Port names, "COM" plus the decimal number; the first entry of each list is
// the selected one (the window's selector).
struct PortMap {
    std::vector<std::string> diag;
    std::vector<std::string> app;
    std::vector<std::string> at;
};

// The AT probe of a candidate port (device interrogation): true when the
// port answers as an AT port; it refreshes the device readings as it goes.
class AtPortProbe {
public:
    virtual bool ProbeAtPort(const std::string& portName) = 0;

protected:
    ~AtPortProbe() = default;
};

// The discovery switch "AT+DISK=8,\"D1\"" sent to a newly seen device of
// the listed hardware identifiers (mode switching): true when written.
class DiscoverySwitch {
public:
    virtual bool SendD1Switch(const std::string& portName) = 0;

protected:
    ~DiscoverySwitch() = default;
};

// The hardware identifiers whose devices receive the discovery switch.
const std::vector<std::string>& SwitchHardwareIds();

// The port name of a friendly name: the text between the first "(" and the
// first ")", used only when that ")" ends the text and the text is "COM"
// and a number from 1 on (anything else would reach the worker as port 0);
// empty otherwise.
std::string PortNameOfFriendlyName(const std::string& friendlyName);

class PortDiscovery {
public:
    // `enprg9x15`: take only the emergency download port as the Diag port.
    PortDiscovery(platform::DeviceEnumerator& devices, platform::Clock& clock, platform::Dialogs& dialogs,
                  core::LineLog& log, AtPortProbe& probe, DiscoverySwitch& d1Switch, bool enprg9x15);

    // The full scan: rebuilds the three lists and selects entry 0 of each;
    // true when a Diag port was found. An interface scan without a Diag port
    // is run once more (from empty lists). The lists are replaced whole when
    // the scan ends.
    bool ScanPorts();
    // The interface scan: appends to both lists; true when a Diag port was appended.
    bool ScanComInterfaces(std::vector<std::string>& diag, std::vector<std::string>& app);
    // The AT port search: probes every listed serial port that is neither
    // COM1, COM2 nor a Diag or application port, and appends those that pass.
    void FindAtPorts(std::vector<std::string>& at, const std::vector<std::string>& diag,
                     const std::vector<std::string>& app);
    // After a reset: is the first Diag port still the one numbered `portNumber`?
    // Up to four interface scans 500 ms apart; the lists are left alone.
    bool CheckDiagPort(int portNumber);

    // The lists of the last full scan (a copy) and the selectors' texts
    // (entry 0, or empty).
    PortMap Ports() const;
    std::string DiagSelector() const;
    std::string AppSelector() const;
    std::string AtSelector() const;

    // Whether the discovery switch went to a device during this program run.
    bool D1Sent() const;

private:
    bool ScanComInterfacesLocked(std::vector<std::string>& diag, std::vector<std::string>& app);
    void FindAtPortsLocked(std::vector<std::string>& at, const std::vector<std::string>& diag,
                           const std::vector<std::string>& app);

    platform::DeviceEnumerator& devices_;
    platform::Clock& clock_;
    platform::Dialogs& dialogs_;
    core::LineLog& log_;
    AtPortProbe& probe_;
    DiscoverySwitch& d1Switch_;
    const bool enprg9x15_;
    // Held by every scan (recursive: the full scan runs the partial ones).
    mutable std::recursive_mutex scanMutex_;
    PortMap ports_;
    bool d1Sent_ = false;
};

// The USB boot device's pipe `pipeName` ("PIPE01"): the first present USB
// boot device whose path holds "VID_0451&PID_D00E" (upper-cased), opened as
// path + "\" + pipe. Null when there is none; every step is logged.
std::unique_ptr<platform::DeviceFile> OpenUsbBootPipe(platform::DeviceEnumerator& devices, core::LineLog& log,
                                                      const std::string& pipeName);

}  // namespace firmora::link
