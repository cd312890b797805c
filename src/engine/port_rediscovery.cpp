#include "engine/port_rediscovery.h"

#include <algorithm>
#include <charconv>
#include <functional>

namespace firmora::engine {

namespace {

constexpr uint32_t kStopCheckSliceMs = 200;
constexpr uint32_t kScanSettleMs = 2000;
constexpr uint32_t kFlagPollMs = 1000;
constexpr int kReopenAttempts = 20;
// The attempt whose failure fails the run; the loop still goes on to the 20th.
constexpr int kReopenFailingAttempt = 10;
constexpr uint32_t kAtReopenPauseMs = 3000;
// ResetAndWait.
constexpr int kResetLeaveSeconds = 10;
constexpr int kResetReturnSeconds = 60;
constexpr int kResetRescans = 10;
constexpr int kResetReopenAttempts = 5;
constexpr uint32_t kResetReopenPauseMs = 3000;

core::DeviceChangeFlags& Flags(RunContext& run) { return run.services.window.ChangeFlags(); }

bool BothSelectorsFilled(RunContext& run) {
    return !run.services.window.DiagPortSelector().empty() && !run.services.window.AtPortSelector().empty();
}

void ReportCommClosed(RunContext& run) { run.Report("COMM Closed", core::kReportError); }

}  // namespace

bool RunContext::PauseUnlessStopped(uint32_t ms) {
    while (ms > 0) {
        if (Stopped()) return false;
        const uint32_t slice = std::min(ms, kStopCheckSliceMs);
        services.clock.Sleep(slice);
        ms -= slice;
    }
    return !Stopped();
}

int PortNumberOfSelector(const std::string& selector) {
    if (selector.size() <= 3) return 0;
    int number = 0;
    const char* first = selector.data() + 3;
    const char* last = selector.data() + selector.size();
    const auto [end, ec] = std::from_chars(first, last, number);
    if (ec != std::errc() || end != last || number <= 0) return 0;
    return number;
}

bool FindComPort(RunContext& run) {
    run.Report("FindComPort");
    run.services.window.ScanPorts();
    run.PauseUnlessStopped(kScanSettleMs);
    const std::string diag = run.services.window.DiagPortSelector();
    const std::string at = run.services.window.AtPortSelector();
    // A selector that names no port leaves the number as it was.
    if (const int number = PortNumberOfSelector(diag); number != 0) run.settings.diagPort = number;
    if (const int number = PortNumberOfSelector(at); number != 0) run.settings.atPort = number;
    return !diag.empty() || !at.empty();
}

void WaitForDeviceChange(RunContext& run, int seconds, const std::string& seenText) {
    for (int second = 0; second < seconds; ++second) {
        if (!run.PauseUnlessStopped(kFlagPollMs)) return;
        if (Flags(run).changeSeen.load() != 0) {
            run.Report(seenText);
            return;
        }
    }
}

void WaitForDeviceArrival(RunContext& run, int seconds, const std::string& seenText) {
    for (int second = 0; second < seconds; ++second) {
        if (Flags(run).arrivalSeen.load() != 0) {
            run.Report(seenText);
            return;
        }
        if (!run.PauseUnlessStopped(kFlagPollMs)) return;
    }
}

void ReportPortState(RunContext& run) {
    const std::string diag = run.services.window.DiagPortSelector();
    const std::string at = run.services.window.AtPortSelector();
    run.Report(diag.empty() ? "Diagnostic commport0......empty" : diag + " Diagnostic ready");
    run.Report(at.empty() ? "Modem commport0......empty" : at + " Modem ready");
}

namespace {

// One channel's re-open loop: up to 20 attempts, each after `pauseMs`.
// `channelName` names the channel in the lines ("Diagnostic0", "Modem0").
bool ReopenLoop(RunContext& run, uint32_t pauseMs, const std::string& selector, const std::string& channelName,
                const std::function<bool()>& open, const std::string& timeoutText) {
    for (int attempt = 1; attempt <= kReopenAttempts; ++attempt) {
        run.PauseUnlessStopped(pauseMs);
        if (open()) {
            run.Report(selector + " Initial " + channelName + "......ok");
            return true;
        }
        run.Report(selector + " Initial " + channelName + "......wait", core::kReportTrace);
        if (run.Stopped()) {
            ReportCommClosed(run);
            return false;
        }
        if (attempt == kReopenFailingAttempt) run.reporter.ReportError(timeoutText);
    }
    return false;
}

}  // namespace

bool ReopenDiagLoop(RunContext& run, uint32_t pauseMs) {
    return ReopenLoop(run, pauseMs, run.services.window.DiagPortSelector(), "Diagnostic0",
                      [&run] { return run.links.diag.OpenDiagChannel(run.settings.diagPort); }, "ComPort0 timeout");
}

bool ReopenAtLoop(RunContext& run) {
    return ReopenLoop(run, kAtReopenPauseMs, run.services.window.AtPortSelector(), "Modem0",
                      [&run] { return run.links.at.ReopenAtChannel(run.settings.atPort); }, "SerialPort0 timeout");
}

bool ResetAndWait(RunContext& run, bool variantCase) {
    Flags(run).changeSeen.store(0);
    Flags(run).arrivalSeen.store(0);
    // No reply is awaited: the device leaves at once. A closed channel
    // simply makes the write fail.
    run.links.diagCommands.SendResetRequestOnly();
    run.Report("Reset or power off command......");
    if (run.links.diag.IsOpen()) run.links.diag.CloseChannel("Warning-39");
    if (run.links.at.IsOpen()) run.links.at.CloseChannel("Warning-40");

    WaitForDeviceChange(run, kResetLeaveSeconds, "Receive device change after reset");
    WaitForDeviceArrival(run, kResetReturnSeconds, "Receive device Arrival after reset");

    WorkerWindow& window = run.services.window;
    // CheckDiagPort is true while the Diag port kept its number.
    if (!window.CheckDiagPort(run.settings.diagPort) || window.AtPortSelector().empty()) {
        run.Report("Port has changed");
        for (int scan = 0; scan < kResetRescans && !run.Stopped(); ++scan) {
            if (!FindComPort(run)) continue;
            if (variantCase ? !window.AtPortSelector().empty() : BothSelectorsFilled(run)) break;
        }
    } else {
        run.Report("Port has not changed");
    }
    ReportPortState(run);

    for (int attempt = 1; attempt <= kResetReopenAttempts; ++attempt) {
        run.PauseUnlessStopped(kResetReopenPauseMs);
        // A channel that opened in an earlier attempt stays open.
        if (!run.links.diag.IsOpen()) run.links.diag.OpenDiagChannel(run.settings.diagPort);
        if (!run.links.at.IsOpen()) run.links.at.ReopenAtChannel(run.settings.atPort);
        if (run.links.diag.IsOpen() && run.links.at.IsOpen()) {
            run.Report("Reset or poweroff successfully!");
            return true;
        }
        run.Report("Reset or poweroff......wait", core::kReportTrace);
        if (run.Stopped()) break;
    }
    run.reporter.ReportError("Fail to initial port after rest");
    return false;
}

}  // namespace firmora::engine
