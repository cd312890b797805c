#include "cli/window_front_end.h"

#include <algorithm>
#include <utility>

#include "cli/command.h"
#include "core/reporter.h"
#include "package/options_json.h"

namespace firmora::cli {
namespace {

// How long one turn of the window's thread waits for the workers' lines.
constexpr uint32_t kTurnWaitMs = 50;

}  // namespace

platform::DialogAnswer RememberedBoxes::ShowMessage(const std::string& caption, const std::string& text,
                                                    platform::DialogButtons buttons, platform::DialogIcon icon) {
    {
        std::lock_guard lock(mutex_);
        lastText_ = text;
    }
    return boxes_.ShowMessage(caption, text, buttons, icon);
}

std::string RememberedBoxes::LastText() const {
    std::lock_guard lock(mutex_);
    return lastText_;
}

WindowFrontEnd::WindowFrontEnd(app::FlashApplication& application, const platform::Clock& runClock,
                               const platform::Clock& realClock, ConsoleProgress& progress, std::ostream& out)
    : application_(application), runClock_(runClock), realClock_(realClock), progress_(progress), out_(out) {}

FrontEndResult WindowFrontEnd::Run(const FrontEndSettings& settings, const std::atomic<bool>& stopRequested) {
    onLine_ = settings.onLine;
    application_.onReadiness = [this](const package::ReadinessDecision& decision) { ShowReadiness(decision); };
    const bool created = application_.Create();
    if (application_.HasForm()) {
        app::TFlashSrcUiForm& form = application_.form();
        form.onReportLine = [this](const std::string& text, int kind) {
            if (kind == core::kReportError) {
                if (failure_.empty()) failure_ = text;
                progress_.ErrorCallback(0, text);
            } else {
                if (kind == core::kReportSuccess) success_ = true;
                progress_.StatusCallback(0, text, kind);
            }
            if (onLine_) onLine_(text, kind);
        };
    }
    FrontEndResult result;
    if (!created || !application_.HasForm()) {
        result.failure = application_.EndMessage().empty() ? "the program could not start" : application_.EndMessage();
    } else {
        result = WaitForReady(settings, stopRequested);
        if (result.exitCode == kExitOk) {
            result = settings.fleet != nullptr ? RunFleet(*settings.fleet, stopRequested)
                                               : RunUpdate(settings, stopRequested);
        }
    }
    application_.Destroy();
    application_.onReadiness = nullptr;
    progress_.Finish();
    return result;
}

void WindowFrontEnd::Turn() {
    app::TFlashSrcUiForm& form = application_.form();
    form.queue().WaitPending(kTurnWaitMs);
    form.queue().Drain();
    ForwardGauge();
    FireTimerWhenDue();
}

void WindowFrontEnd::ForwardGauge() {
    const app::WindowControls& c = application_.form().controls();
    // The compact layout moves its own small gauge; the other stays at rest.
    const app::Control& gauge =
        (c.CGauge1.progress != 0 || c.CGauge1.maximum != 100) ? c.CGauge1 : c.ProgressBar;
    if (gauge.maximum != gaugeMax_) {
        gaugeMax_ = gauge.maximum;
        progress_.SetGaugeMax(0, gauge.maximum);
    }
    if (gauge.progress != gaugePosition_) {
        gaugePosition_ = gauge.progress;
        progress_.SetGaugePosition(0, gauge.progress);
    }
}

void WindowFrontEnd::FireTimerWhenDue() {
    if (!application_.HasForm() || !application_.form().controls().Timer1.enabled) {
        timerArmed_ = false;
        return;
    }
    const uint64_t now = runClock_.TickCount();
    if (!timerArmed_) {
        timerArmed_ = true;
        timerSince_ = now;
        return;
    }
    if (now - timerSince_ < kStartTimerMs) return;
    timerSince_ = now;  // a timer fires again and again while it is on
    application_.Timer1Timer();
}

void WindowFrontEnd::ShowReadiness(const package::ReadinessDecision& decision) {
    std::string text = decision.status;
    if (!decision.refusal.empty()) {
        text += ": " + decision.refusal;
    } else if (!decision.ready) {
        text += ": waiting for the modem";
    }
    if (decision.endsLoop && !decision.ready) {
        refusedForGood_ = true;
        refusal_ = decision.refusal.empty() ? decision.status : decision.refusal;
    }
    if (text == shownReadiness_) return;
    shownReadiness_ = text;
    progress_.StatusCallback(0, package::EscapeVisible(text), core::kReportInfo);
}

uint64_t WindowFrontEnd::Elapsed(uint64_t runStart, uint64_t realStart) const {
    return std::max(runClock_.TickCount() - runStart, realClock_.TickCount() - realStart);
}

FrontEndResult WindowFrontEnd::WaitForReady(const FrontEndSettings& settings, const std::atomic<bool>& stopRequested) {
    const uint64_t runStart = runClock_.TickCount();
    const uint64_t realStart = realClock_.TickCount();
    FrontEndResult result;
    for (;;) {
        Turn();
        const std::optional<package::ReadinessDecision>& last = application_.LastReadiness();
        if (last && last->ready) {
            result.exitCode = kExitOk;
            return result;
        }
        if (stopRequested) {
            result.exitCode = kExitStopped;
            result.stopped = true;
            result.failure = "the update was stopped before it began";
            return result;
        }
        if (application_.Ending()) {
            result.failure = application_.EndMessage().empty() ? "the program ended before the update began"
                                                               : application_.EndMessage();
            return result;
        }
        if (refusedForGood_) {
            result.failure = "the modem is Not Ready: " + refusal_;
            return result;
        }
        if (Elapsed(runStart, realStart) >= settings.readyLimitMs) {
            result.failure = "the modem was not Ready within " + std::to_string(settings.readyLimitMs / 1000) +
                             " s (" + (shownReadiness_.empty() ? std::string("no decision yet") : shownReadiness_) +
                             ")";
            return result;
        }
    }
}

FrontEndResult WindowFrontEnd::RunUpdate(const FrontEndSettings& settings, const std::atomic<bool>& stopRequested) {
    app::TFlashSrcUiForm& form = application_.form();
    FrontEndResult result;
    if (settings.beforeRun && !settings.beforeRun(form.Selectors().PortCBox.Text(), result.failure)) return result;
    if (settings.reupdate) {
        form.Reupdate1Click();
    } else {
        form.StartClick();
    }
    // The press's own error lines (Re-update's "Status was wrong" before a
    // whole run) say nothing about the run; they count only when no run began.
    const std::string pressFailure = std::exchange(failure_, std::string());
    bool stopPressed = false;
    while (form.AnySlotOccupied()) {
        if (stopRequested && !stopPressed) {
            stopPressed = true;
            form.StopClick();
        }
        Turn();
    }
    // The lines the refused press or the ended worker left behind.
    form.queue().Drain();
    ForwardGauge();
    result.backupFolder = form.EndedBackupFolder(0);
    result.passed = success_ && failure_.empty();
    result.stopped = stopPressed && !result.passed;
    result.failure = result.stopped ? "the update was stopped before it was complete" : failure_;
    if (result.passed) {
        result.exitCode = kExitOk;
    } else if (result.stopped) {
        result.exitCode = kExitStopped;
    } else {
        result.exitCode = kExitFailure;
        if (result.failure.empty()) result.failure = pressFailure;
        if (result.failure.empty() && application_.Ending()) result.failure = application_.EndMessage();
        if (result.failure.empty()) {
            const std::string box = settings.boxes != nullptr ? settings.boxes->LastText() : std::string();
            result.failure = "the update did not begin" + (box.empty() ? std::string() : ": " + box);
            if (box == "Two or more devices were found") result.failure += " (--all updates them all)";
        }
    }
    return result;
}

FrontEndResult WindowFrontEnd::RunFleet(DeviceFleet& fleet, const std::atomic<bool>& stopRequested) {
    app::TFlashSrcUiForm& form = application_.form();
    FrontEndResult result;
    if (!fleet.Launch(form, result.failure)) return result;
    bool stopPressed = false;
    while (form.AnySlotOccupied()) {
        if (stopRequested && !stopPressed) {
            stopPressed = true;
            form.StopAllWorkers();
        }
        Turn();
        fleet.Poll(form);
    }
    form.queue().Drain();
    result.devices = fleet.Outcomes(form);
    result.passed = std::all_of(result.devices.begin(), result.devices.end(),
                                [](const DeviceOutcome& device) { return device.passed; });
    result.stopped = stopPressed && !result.passed;
    if (result.passed) {
        result.exitCode = kExitOk;
    } else if (result.stopped) {
        result.exitCode = kExitStopped;
        result.failure = "the updates were stopped before they were complete";
    } else {
        result.exitCode = kExitFailure;
        result.failure = "not every modem passed";
    }
    return result;
}

}  // namespace firmora::cli
