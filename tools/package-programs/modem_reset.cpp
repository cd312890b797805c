#include "package-programs/modem_reset.h"

#include <cstring>
#include <optional>

#include "link/at_text.h"

namespace firmora::programs {
namespace {

// The tool reads the result 7 s after the start: four silent ports and an
// unanswered reset still fit.
constexpr uint32_t kProbeMs = 700;
constexpr uint32_t kResetReplyMs = 3000;
constexpr uint32_t kReadWaitMs = 100;

enum class Reply { Ok, Error, Silent, Gone, ReadFailed };

bool Send(platform::SerialPort& port, const std::string& text) {
    size_t written = 0;
    return port.Write(reinterpret_cast<const uint8_t*>(text.data()), text.size(), written) &&
           written == text.size();
}

// Reads until a final result, the device going away, or `limitMs`.
Reply AwaitResult(platform::SerialPort& port, platform::Clock& clock, uint32_t limitMs) {
    std::string reply;
    const uint64_t until = clock.TickCount() + limitMs;
    for (;;) {
        uint8_t buffer[256];
        size_t got = 0;
        if (!port.Read(buffer, sizeof buffer, got)) return port.DeviceGone() ? Reply::Gone : Reply::ReadFailed;
        link::AppendReplyBytes(reply, buffer, got);
        if (link::HasErrorResult(reply)) return Reply::Error;
        if (link::FindFinalOk(reply)) return Reply::Ok;
        if (clock.TickCount() >= until) {
            return link::FindFinalOk(reply, link::ReplyWait::Over) ? Reply::Ok : Reply::Silent;
        }
    }
}

bool SetUp(platform::SerialPort& port) {
    platform::SerialTimeouts timeouts;
    // Each read waits up to kReadWaitMs for the first byte, then takes what is there.
    timeouts.readInterval = platform::kTimeoutMax;
    timeouts.readMultiplier = platform::kTimeoutMax;
    timeouts.readConstant = kReadWaitMs;
    timeouts.writeConstant = 1000;
    return port.SetLineSettings(platform::LineSettings{}) && port.SetTimeouts(timeouts) &&
           port.Purge(platform::kPurgeAll);
}

}  // namespace

const char* ResetResultCode(ResetResult result) {
    switch (result) {
        case ResetResult::Done: return "100";
        case ResetResult::NoModemPort: return "-1";
        case ResetResult::CouldNotExecute: return "0";
        case ResetResult::Failed: return "-2";
    }
    return "0";
}

ResetResult ResetModem(platform::SerialPorts& ports, platform::Clock& clock,
                       const std::vector<std::string>& candidates, std::vector<std::string>& log) {
    if (candidates.empty()) log.push_back("no serial port of a known modem");
    bool anyOpened = false;
    for (const std::string& node : candidates) {
        std::unique_ptr<platform::SerialPort> port = ports.Open(node);
        if (!port || !SetUp(*port)) {
            log.push_back(node + ": cannot be opened");
            continue;
        }
        anyOpened = true;
        if (!Send(*port, "AT\r\n") || AwaitResult(*port, clock, kProbeMs) != Reply::Ok) {
            log.push_back(node + ": no AT port");
            continue;
        }
        if (!Send(*port, "AT+MVTRESET\r\n")) {
            log.push_back(node + ": the reset could not be sent");
            return ResetResult::CouldNotExecute;
        }
        switch (AwaitResult(*port, clock, kResetReplyMs)) {
            case Reply::Ok:
                log.push_back(node + ": reset");
                return ResetResult::Done;
            case Reply::Gone:
                log.push_back(node + ": reset (the modem left the bus at once)");
                return ResetResult::Done;
            case Reply::Error:
                log.push_back(node + ": the modem refused the reset");
                return ResetResult::Failed;
            case Reply::Silent:
            case Reply::ReadFailed:
                log.push_back(node + ": no answer to the reset");
                return ResetResult::Failed;
        }
    }
    return anyOpened || candidates.empty() ? ResetResult::NoModemPort : ResetResult::CouldNotExecute;
}

}  // namespace firmora::programs
