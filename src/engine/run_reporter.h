#pragma once
// RunReporter: the worker's side of run reporting. It owns the run status
// (first failure wins, Stop stores 210), the current status text, the count
// of image bytes written and the progress scale, and passes lines and gauge
// positions to the window through RunView.

#include <cstdint>
#include <mutex>
#include <string>

#include "core/reporter.h"
#include "engine/run_view.h"

namespace firmora::engine {

class RunReporter final : public core::Reporter {
public:
    static constexpr int kGaugeMaximum = 100;

    RunReporter(RunView& view, int slot);

    void ReportStatus(const std::string& text, int kind) override;
    void ReportError(const std::string& text) override;
    int32_t RunStatus() const override { return status_.load(); }
    void AddWrittenBytes(uint32_t count) override;

    // Run start: status 0 (a Stop already given stays), gauge maximum 100,
    // scale 99 / total image bytes (99 when 0).
    void BeginRun(uint64_t totalImageBytes);
    // Just before "PASS": the gauge at exactly 100.
    void CompleteGauge();
    // The window's Stop button: the run status becomes 210 unless a failure is already recorded.
    void Stop();

    // The word itself, for the window thread to poll.
    core::RunStatusWord& StatusWord() { return status_; }
    std::string CurrentStatusText() const;
    uint64_t WrittenBytes() const { return writtenBytes_; }
    float ProgressScale() const { return scale_; }

private:
    void SetCurrentText(const std::string& text);

    RunView& view_;
    const int slot_;
    core::RunStatusWord status_{core::kRunHealthy};
    mutable std::mutex textMutex_;
    std::string currentText_;
    // 64-bit so that a package over 4 GiB does not wrap the gauge back to 0.
    uint64_t writtenBytes_ = 0;
    float scale_ = 99.0f;
};

}  // namespace firmora::engine
