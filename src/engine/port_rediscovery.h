#pragma once
// Bringing a device back after a reset: the ports re-learnt from the
// window's port scan, the waits for the device to leave and to return (read
// from the window's device-change flags), the re-opening of the two
// channels, and the reset-and-wait that chains them. Every wait and every
// re-open loop ends early once the run is stopped.

#include <cstdint>
#include <string>

#include "engine/worker_links.h"

namespace firmora::engine {

// The port number a selector names ("COM12" -> 12); 0 when it names none.
int PortNumberOfSelector(const std::string& selector);

// Runs the full port scan, pauses 2 s, and takes the Diag and AT port
// numbers from the selectors that are not empty. True when either was.
bool FindComPort(RunContext& run);

// Waits up to `seconds` for the device to leave: each second a 1 s pause,
// then a look at the change flag; `seenText` is reported when it is set.
void WaitForDeviceChange(RunContext& run, int seconds, const std::string& seenText);
// Waits up to `seconds` for an arrival: a look at the arrival flag, then a
// 1 s pause; `seenText` is reported when it is set.
void WaitForDeviceArrival(RunContext& run, int seconds, const std::string& seenText);

// "COMn Diagnostic ready" / "Diagnostic commport0......empty", and the same
// for the AT port.
void ReportPortState(RunContext& run);

// Re-opens the diagnostic channel: up to 20 attempts, each after
// `pauseMs`; the 10th failure fails the run with "ComPort0 timeout", a
// stopped run ends the loop with "COMM Closed". True when it opened.
bool ReopenDiagLoop(RunContext& run, uint32_t pauseMs);
// The same for the AT channel (3 s pauses, "SerialPort0 timeout").
bool ReopenAtLoop(RunContext& run);

// Resets the device over the diagnostic channel, waits for it to leave and
// come back, re-learns its ports when they moved and re-opens both
// channels. True when both are open; false after "Fail to initial port
// after rest". `variantCase`: the AT port alone is enough to stop the scan.
bool ResetAndWait(RunContext& run, bool variantCase);

}  // namespace firmora::engine
