#pragma once
// The window side of run reporting: every worker line becomes a time-stamped
// run-log line and a memo colour, and is then handed to the run controller's
// milestone and end-of-run handling. Toolkit-neutral; a front end observes it.

#include <functional>
#include <string>

#include "app/run_log.h"
#include "engine/run_view.h"
#include "platform/clock.h"

namespace firmora::app {

// Colour of the report memo after a line of each kind.
enum class MemoColour { Window, Red, Green };

class ReportSink final : public engine::RunView {
public:
    static constexpr int kSlotCount = 8;

    ReportSink(platform::Clock& clock, RunLog& log);

    void StatusCallback(int slot, const std::string& text, int kind) override;
    void ErrorCallback(int slot, const std::string& text) override;
    void SetGaugeMax(int slot, int maximum) override;
    void SetGaugePosition(int slot, int position) override;

    // Builds the log line, colours the memo, writes the run log, then calls
    // the line handler (milestones, end of run).
    void ReportLine(const std::string& text, int kind);

    // Called after each line with the text, its kind and the log line as written.
    std::function<void(const std::string& text, int kind, const std::string& logLine)> onLine;
    // Called when the gauge moves.
    std::function<void(int maximum, int position)> onGauge;

    MemoColour memoColour() const { return memoColour_; }
    int gaugeMaximum() const { return gaugeMaximum_; }
    int gaugePosition() const { return gaugePosition_; }

private:
    platform::Clock& clock_;
    RunLog& log_;
    MemoColour memoColour_ = MemoColour::Window;
    int gaugeMaximum_ = 100;
    int gaugePosition_ = 0;
};

}  // namespace firmora::app
