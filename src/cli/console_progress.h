#pragma once
// ConsoleProgress: the run's view on a console. Report lines are printed as
// they come; on a terminal a progress bar stays on the last line, redrawn at
// most every few tenths of a second (a download moves the gauge for every
// 4 KiB written), errors in red and success in green. When stdout is not a
// terminal (a pipe, a file, a CI log) only the lines are printed, plainly.

#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

#include "engine/run_view.h"
#include "platform/clock.h"

namespace firmora::cli {

class ConsoleProgress final : public engine::RunView {
public:
    struct Options {
        bool terminal = false;   // draw the bar and colour the lines
        bool showTrace = false;  // print kind-0 trace lines too
        uint32_t redrawIntervalMs = 200;
    };
    // `clock` paces the redraws of the bar.
    ConsoleProgress(std::ostream& out, Options options, const platform::Clock& clock);

    void StatusCallback(int slot, const std::string& text, int kind) override;
    void ErrorCallback(int slot, const std::string& text) override;
    void SetGaugeMax(int slot, int maximum) override;
    void SetGaugePosition(int slot, int position) override;

    // The run is over: the bar is drawn once more as it stands and its line
    // ended, so that what follows starts on a line of its own.
    void Finish();

private:
    void PrintLine(const std::string& text, int kind);
    void DrawBar();
    void ClearBar();

    std::mutex mutex_;  // calls may come from a worker thread
    std::ostream& out_;
    const Options options_;
    const platform::Clock& clock_;
    int maximum_ = 100;
    int position_ = 0;
    int drawnPosition_ = -1;
    uint64_t lastDrawMs_ = 0;
    bool barVisible_ = false;
};

}  // namespace firmora::cli
