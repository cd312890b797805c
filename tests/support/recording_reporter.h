#pragma once
// A Reporter for unit tests of the subsystems: keeps every line, applies the
// first-failure rule and quotes the last-error code like the engine's does.

#include <string>
#include <vector>

#include "core/reporter.h"

namespace firmora::testing {

class RecordingReporter final : public core::Reporter {
public:
    struct Line {
        std::string text;
        int kind;
    };

    void ReportStatus(const std::string& text, int kind) override { lines.push_back({text, kind}); }
    void ReportError(const std::string& text) override;
    int32_t RunStatus() const override { return status.load(); }
    void AddWrittenBytes(uint32_t count) override { writtenBytes += count; }

    // Texts of all lines, and of the error lines alone.
    std::vector<std::string> Texts() const;
    std::vector<std::string> Errors() const;
    bool Has(const std::string& text) const;
    // Forgets every line and count: a healthy run again.
    void Clear() {
        lines.clear();
        status.store(core::kRunHealthy);
        writtenBytes = 0;
        errorCalls = 0;
    }

    std::vector<Line> lines;
    core::RunStatusWord status{0};
    uint64_t writtenBytes = 0;
    int errorCalls = 0;
};

}  // namespace firmora::testing
