#include "engine/run_reporter.h"

#include "platform/last_error.h"

namespace firmora::engine {

RunReporter::RunReporter(RunView& view, int slot) : view_(view), slot_(slot) {}

void RunReporter::SetCurrentText(const std::string& text) {
    std::lock_guard lock(textMutex_);
    currentText_ = text;
}

std::string RunReporter::CurrentStatusText() const {
    std::lock_guard lock(textMutex_);
    return currentText_;
}

void RunReporter::ReportStatus(const std::string& text, int kind) {
    SetCurrentText(text);
    view_.StatusCallback(slot_, text, kind);
}

void RunReporter::ReportError(const std::string& text) {
    // Read the code first: nothing below may disturb it.
    const uint32_t code = platform::LastError();
    int32_t expected = core::kRunHealthy;
    const int32_t failure = code == 0 ? core::kRunFailedWithoutCode : static_cast<int32_t>(code);
    // Only the first failure of a healthy run is reported; a Stop or an
    // earlier failure keeps its status.
    if (status_.compare_exchange_strong(expected, failure)) {
        const std::string line = "ERROR, " + text + ", Error code: " + std::to_string(code);
        SetCurrentText(line);
        view_.ErrorCallback(slot_, line);
    }
    ClearDiagnosticErrors();
}

void RunReporter::BeginRun(uint64_t totalImageBytes) {
    // A Stop that came before the run began still ends it.
    int32_t status = status_.load();
    while (status != core::kRunStopped && !status_.compare_exchange_weak(status, core::kRunHealthy)) {
    }
    writtenBytes_ = 0;
    scale_ = totalImageBytes == 0 ? 99.0f : 99.0f / static_cast<float>(totalImageBytes);
    view_.SetGaugeMax(slot_, kGaugeMaximum);
}

void RunReporter::AddWrittenBytes(uint32_t count) {
    writtenBytes_ += count;
    view_.SetGaugePosition(slot_, static_cast<int>(static_cast<float>(writtenBytes_) * scale_));
}

void RunReporter::CompleteGauge() { view_.SetGaugePosition(slot_, kGaugeMaximum); }

void RunReporter::Stop() {
    int32_t expected = core::kRunHealthy;
    status_.compare_exchange_strong(expected, core::kRunStopped);
}

}  // namespace firmora::engine
