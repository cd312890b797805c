#pragma once
// The one narrow channel through which every step of a run speaks: status
// lines and error lines, and the run's failure state. The engine's
// RunReporter implements it; subsystems only see this interface.

#include <atomic>
#include <cstdint>
#include <string>

namespace firmora::core {

// Kinds of report lines.
enum ReportKind : int {
    kReportTrace = 0,    // trace and progress text
    kReportInfo = 1,     // information
    kReportError = 2,    // error or failure
    kReportSuccess = 3,  // "PASS"
};

// The run status word: 0 while healthy, kRunStopped after Stop, otherwise
// the code of the first failure. Written by the worker and (for Stop) by the
// window thread, polled by both.
using RunStatusWord = std::atomic<int32_t>;
inline constexpr int32_t kRunHealthy = 0;
inline constexpr int32_t kRunStopped = 210;
// The status a failure takes when the system had no error code to give.
inline constexpr int32_t kRunFailedWithoutCode = 31;

// A channel with a pending error state of its own (the diagnostic channel).
class ErrorStateOwner {
public:
    virtual void ClearPendingErrors() = 0;

protected:
    ~ErrorStateOwner() = default;
};

class Reporter {
public:
    virtual ~Reporter() = default;
    // A status line of the given kind.
    virtual void ReportStatus(const std::string& text, int kind) = 0;
    // The run's failure: only the first one while the run is healthy takes
    // effect ("ERROR, <text>, Error code: <last error>").
    virtual void ReportError(const std::string& text) = 0;
    // The current run status (0 while healthy).
    virtual int32_t RunStatus() const = 0;
    // Image bytes written: moves the run's byte count and progress gauge.
    virtual void AddWrittenBytes(uint32_t count) = 0;

    // The diagnostic channel reporting through this reporter announces itself
    // for its lifetime, so that every ReportError clears its pending error
    // state without anyone having to wire it up.
    void AttachDiagnosticChannel(ErrorStateOwner* channel) { diagnosticChannel_ = channel; }
    void DetachDiagnosticChannel(const ErrorStateOwner* channel) {
        if (diagnosticChannel_ == channel) diagnosticChannel_ = nullptr;
    }

protected:
    // What every ReportError ends with, reported or not.
    void ClearDiagnosticErrors() {
        if (diagnosticChannel_ != nullptr) diagnosticChannel_->ClearPendingErrors();
    }

private:
    ErrorStateOwner* diagnosticChannel_ = nullptr;
};

// Set by the window on device-change broadcasts, cleared and polled by the worker.
struct DeviceChangeFlags {
    std::atomic<int32_t> changeSeen{0};
    std::atomic<int32_t> arrivalSeen{0};
};

}  // namespace firmora::core
