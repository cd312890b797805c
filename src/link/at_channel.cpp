#include "link/at_channel.h"

#include <vector>

namespace firmora::link {
namespace {

constexpr int64_t kWaitSeconds = 8;

// Read sizes: each read asks for one byte less than these.
constexpr size_t kQueryBufferBytes = 512;
constexpr size_t kLongQueryBufferBytes = 1024;
constexpr size_t kWriteBufferBytes = 128;

constexpr uint32_t kQuickPollMs = 100;
constexpr uint32_t kQueryPollMs = 800;
constexpr uint32_t kFastWritePollMs = 300;
constexpr uint32_t kWritePollMs = 800;
constexpr uint32_t kRebootPauseMs = 100;
constexpr uint32_t kSlowWriteLeadMs = 3000;
constexpr uint32_t kSlowWriteExtraPollMs = 2000;

constexpr const char* kSendFailed = "Could not send command to serial port";
constexpr const char* kWriteSendFailed = "->Could not send command to serial port";
constexpr const char* kReadFailed = "Could not read from serial port";
constexpr const char* kReadDone = "Read......";
constexpr const char* kModeEcho = "at!autoins?";

std::string WriteCommand(const std::string& prefix, const std::optional<std::string>& value) {
    if (!value) return prefix;
    return prefix + *value + "\r\n";
}

enum class Verdict { Pending, Answered, Refused };

// Judges the reply of a query collected so far; on an answer stores the
// value its shape takes in `out`.
Verdict JudgeQuery(const std::string& reply, AtChannel::QueryShape shape, ReplyWait wait, std::string& out) {
    const std::optional<size_t> ok = shape == AtChannel::QueryShape::Contexts ? FindFinalOkAfterCrLf(reply, wait)
                                                                              : FindFinalOk(reply, wait);
    // A refusal is never a value, not even when the device puts an "OK"
    // after it: an error text must not be saved as the device's data.
    if (HasErrorResult(std::string_view(reply).substr(0, ok.value_or(reply.size())))) return Verdict::Refused;
    if (!ok) return Verdict::Pending;
    switch (shape) {
        case AtChannel::QueryShape::Value: out = QueryValue(reply, *ok); break;
        case AtChannel::QueryShape::Contexts: out = ContextsBlock(reply, *ok); break;
        case AtChannel::QueryShape::AfterEcho: out = ValueAfterEcho(reply, *ok, kModeEcho); break;
    }
    return Verdict::Answered;
}

}  // namespace

AtChannel::AtChannel(SerialChannel& channel, platform::Clock& clock, core::Reporter& reporter,
                     bool fastSpeedDownload)
    : channel_(channel), clock_(clock), reporter_(reporter), fastSpeedDownload_(fastSpeedDownload) {}

bool AtChannel::Send(const std::string& text) {
    size_t written = 0;
    return channel_.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), written);
}

bool AtChannel::ReadInto(std::string& reply, size_t bufferSize) {
    std::vector<uint8_t> buffer(bufferSize, 0);
    size_t got = 0;
    if (!channel_.Read(buffer.data(), bufferSize - 1, got)) return false;
    AppendReplyBytes(reply, buffer.data(), got);
    return true;
}

bool AtChannel::WaitedEnough(int64_t startSeconds) const {
    return clock_.WallSeconds() - startSeconds >= kWaitSeconds;
}

uint32_t AtChannel::WritePauseMs() const { return fastSpeedDownload_ ? kFastWritePollMs : kWritePollMs; }

bool AtChannel::RunQuery(const std::string& command, QueryShape shape, std::string& out) {
    const size_t bufferBytes = shape == QueryShape::Value ? kQueryBufferBytes : kLongQueryBufferBytes;
    // The boot-loader command and fast-download packages poll quickly.
    const uint32_t pauseMs =
        (command.find("bootloader") != std::string::npos || fastSpeedDownload_) ? kQuickPollMs : kQueryPollMs;

    // A failed write is reported, yet the wait still runs: whatever the
    // device says decides the result.
    if (!Send(command)) reporter_.ReportError(kSendFailed);

    std::string reply;
    const int64_t start = clock_.WallSeconds();
    while (!WaitedEnough(start)) {
        clock_.Sleep(pauseMs);
        if (!ReadInto(reply, bufferBytes)) {
            reporter_.ReportError(kReadFailed);
            return false;
        }
        switch (JudgeQuery(reply, shape, ReplyWait::Running, out)) {
            case Verdict::Answered: reporter_.ReportStatus(kReadDone, core::kReportInfo); return true;
            // The caller knows what a refusal of its query means and reports it.
            case Verdict::Refused: return false;
            case Verdict::Pending: break;
        }
    }
    // Nothing more is coming: an "OK" line the device left unended counts now.
    if (JudgeQuery(reply, shape, ReplyWait::Over, out) == Verdict::Answered) {
        reporter_.ReportStatus(kReadDone, core::kReportInfo);
        return true;
    }
    ++unansweredQueries_;
    return false;
}

bool AtChannel::AtQuery(const std::string& command, std::string& value) {
    return RunQuery(command, QueryShape::Value, value);
}

bool AtChannel::AtQuery(const std::string& command) {
    std::string ignored;
    return RunQuery(command, QueryShape::Value, ignored);
}

bool AtChannel::AtQueryContexts(const std::string& command, std::string& block) {
    return RunQuery(command, QueryShape::Contexts, block);
}

bool AtChannel::AtQueryAfterEcho(const std::string& command, std::string& value) {
    return RunQuery(command, QueryShape::AfterEcho, value);
}

bool AtChannel::AtSendReboot(const std::string& command) {
    if (!Send(command)) reporter_.ReportError(kSendFailed);
    clock_.Sleep(kRebootPauseMs);
    return true;
}

bool AtChannel::AtWriteValue(const std::string& prefix, const std::optional<std::string>& value,
                             const std::string& failText, const AtWritePolicy& policy) {
    if (!Send(WriteCommand(prefix, value))) {
        reporter_.ReportError(kWriteSendFailed);
        return false;
    }

    std::string reply;
    const int64_t start = clock_.WallSeconds();
    while (!WaitedEnough(start)) {
        clock_.Sleep(WritePauseMs());
        if (!ReadInto(reply, kWriteBufferBytes)) return false;
        if (FindFinalOk(reply)) return true;
        if (HasErrorResult(reply)) {
            switch (policy.kind()) {
                case AtWritePolicy::Kind::UnsupportedIsSuccess:
                    reporter_.ReportStatus(policy.unsupportedText(), core::kReportInfo);
                    return true;
                case AtWritePolicy::Kind::Quiet:
                    return false;
                case AtWritePolicy::Kind::Normal:
                    reporter_.ReportError(failText);
                    return false;
            }
        }
    }
    if (FindFinalOk(reply, ReplyWait::Over)) return true;
    if (policy.kind() != AtWritePolicy::Kind::Quiet) reporter_.ReportError(failText);
    return false;
}

bool AtChannel::AtWriteSlow(const std::string& prefix, const std::optional<std::string>& value,
                            const std::string& failText) {
    clock_.Sleep(kSlowWriteLeadMs);
    if (!Send(WriteCommand(prefix, value))) {
        reporter_.ReportError(kWriteSendFailed);
        return false;
    }

    std::string reply;
    const int64_t start = clock_.WallSeconds();
    while (!WaitedEnough(start)) {
        clock_.Sleep(WritePauseMs());
        clock_.Sleep(kSlowWriteExtraPollMs);
        if (!ReadInto(reply, kWriteBufferBytes)) return false;
        // Only an "OK" ends the wait early: after an "ERROR" the device keeps
        // the rest of its time to take the value.
        if (FindFinalOk(reply)) return true;
    }
    if (FindFinalOk(reply, ReplyWait::Over)) return true;
    reporter_.ReportError(failText);
    return false;
}

}  // namespace firmora::link
