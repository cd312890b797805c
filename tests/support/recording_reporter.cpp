#include "recording_reporter.h"

#include <algorithm>

#include "platform/last_error.h"

namespace firmora::testing {

void RecordingReporter::ReportError(const std::string& text) {
    ++errorCalls;
    if (status.load() == core::kRunHealthy) {
        const uint32_t code = platform::LastError();
        lines.push_back({"ERROR, " + text + ", Error code: " + std::to_string(code), core::kReportError});
        status.store(code == 0 ? core::kRunFailedWithoutCode : static_cast<int32_t>(code));
    }
    ClearDiagnosticErrors();
}

std::vector<std::string> RecordingReporter::Texts() const {
    std::vector<std::string> out;
    for (const auto& line : lines) out.push_back(line.text);
    return out;
}

std::vector<std::string> RecordingReporter::Errors() const {
    std::vector<std::string> out;
    for (const auto& line : lines) {
        if (line.kind == core::kReportError) out.push_back(line.text);
    }
    return out;
}

bool RecordingReporter::Has(const std::string& text) const {
    return std::any_of(lines.begin(), lines.end(), [&](const Line& l) { return l.text == text; });
}

}  // namespace firmora::testing
