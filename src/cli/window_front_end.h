#pragma once
// The command line as a front end of the main window: it brings the
// application to life, plays the window's thread (drains the form's queue,
// fires the start timer when due), waits until the readiness loop says Ready,
// presses Start or Re-update, shows the run's lines and gauge on the
// console, turns Ctrl-C into Stop, and puts the application away again.

#include <atomic>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "app/flash_application.h"
#include "cli/console_progress.h"
#include "cli/device_fleet.h"
#include "platform/clock.h"
#include "platform/dialogs.h"

namespace firmora::cli {

// The application's message boxes, each passed on and the last one's text
// kept: a refused Start says why only in its box.
class RememberedBoxes final : public platform::Dialogs {
public:
    explicit RememberedBoxes(platform::Dialogs& boxes) : boxes_(boxes) {}
    platform::DialogAnswer ShowMessage(const std::string& caption, const std::string& text,
                                       platform::DialogButtons buttons, platform::DialogIcon icon) override;
    bool ShowGuide(const platform::GuideRequest& request) override { return boxes_.ShowGuide(request); }
    std::string LastText() const;

private:
    platform::Dialogs& boxes_;
    mutable std::mutex mutex_;  // the readiness loop shows its boxes too
    std::string lastText_;
};

struct FrontEndSettings {
    // How long the device may stay Not Ready, on the run's clock (virtual
    // time for the virtual modem) and on the real one, whichever runs first.
    uint64_t readyLimitMs = 60'000;
    bool reupdate = false;  // press Re-update instead of Start
    // Called once Ready, before the press, with the Diag port the window
    // selected: false with the reason ends the command before the run.
    std::function<bool(const std::string& diagSelector, std::string& problem)> beforeRun;
    // Each report line of the run once the window has handled it.
    std::function<void(const std::string& text, int kind)> onLine;
    // The boxes the application shows, when they are remembered.
    const RememberedBoxes* boxes = nullptr;
    // --all: every device through the fleet instead of one press of Start.
    DeviceFleet* fleet = nullptr;
};

struct FrontEndResult {
    int exitCode = 1;
    bool passed = false;
    bool stopped = false;
    // The first failure line of the run, or why the run never began.
    std::string failure;
    // The run's backup folder, as the worker named it.
    std::filesystem::path backupFolder;
    // With a fleet: one outcome per device found.
    std::vector<DeviceOutcome> devices;
};

class WindowFrontEnd {
public:
    // `runClock` is the clock the application runs on; `realClock` bounds
    // the waits as well, so that a virtual clock nobody advances cannot hold
    // the command for ever.
    WindowFrontEnd(app::FlashApplication& application, const platform::Clock& runClock,
                   const platform::Clock& realClock, ConsoleProgress& progress, std::ostream& out);

    // Create, wait for Ready, the run, Destroy. `stopRequested` is set by
    // Ctrl-C on another thread: before the run it ends the wait, during the
    // run it is the Stop button.
    FrontEndResult Run(const FrontEndSettings& settings, const std::atomic<bool>& stopRequested);

private:
    // One turn of the window's thread: the queued work, the gauge, the timer.
    void Turn();
    void ForwardGauge();
    void FireTimerWhenDue();
    void ShowReadiness(const package::ReadinessDecision& decision);
    uint64_t Elapsed(uint64_t runStart, uint64_t realStart) const;
    FrontEndResult WaitForReady(const FrontEndSettings& settings, const std::atomic<bool>& stopRequested);
    FrontEndResult RunUpdate(const FrontEndSettings& settings, const std::atomic<bool>& stopRequested);
    FrontEndResult RunFleet(DeviceFleet& fleet, const std::atomic<bool>& stopRequested);

    app::FlashApplication& application_;
    const platform::Clock& runClock_;
    const platform::Clock& realClock_;
    ConsoleProgress& progress_;
    std::ostream& out_;

    std::function<void(const std::string& text, int kind)> onLine_;
    std::string shownReadiness_;
    std::string refusal_;
    bool refusedForGood_ = false;
    bool success_ = false;
    std::string failure_;
    int gaugeMax_ = -1;
    int gaugePosition_ = -1;
    bool timerArmed_ = false;
    uint64_t timerSince_ = 0;
};

// The 20-second start timer of the window.
inline constexpr uint64_t kStartTimerMs = 20'000;

}  // namespace firmora::cli
