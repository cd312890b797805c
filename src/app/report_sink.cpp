#include "app/report_sink.h"

#include "core/reporter.h"

namespace firmora::app {

ReportSink::ReportSink(platform::Clock& clock, RunLog& log) : clock_(clock), log_(log) {}

void ReportSink::StatusCallback(int slot, const std::string& text, int kind) {
    if (slot < 0 || slot >= kSlotCount) {
        ReportLine(std::string("Internal error found: ") + " Index value out of bounds", core::kReportError);
        return;
    }
    ReportLine(text, kind);
}

void ReportSink::ErrorCallback(int /*slot*/, const std::string& text) { ReportLine(text, core::kReportError); }

void ReportSink::SetGaugeMax(int /*slot*/, int maximum) {
    gaugeMaximum_ = maximum;
    if (onGauge) onGauge(gaugeMaximum_, gaugePosition_);
}

void ReportSink::SetGaugePosition(int /*slot*/, int position) {
    gaugePosition_ = position;
    if (onGauge) onGauge(gaugeMaximum_, gaugePosition_);
}

void ReportSink::ReportLine(const std::string& text, int kind) {
    const std::string line = LogLineText(clock_.Now(), text);
    switch (kind) {
        case core::kReportError: memoColour_ = MemoColour::Red; break;
        case core::kReportSuccess: memoColour_ = MemoColour::Green; break;
        default: memoColour_ = MemoColour::Window; break;
    }
    log_.WriteLine(line);
    if (onLine) onLine(text, kind, line);
}

}  // namespace firmora::app
