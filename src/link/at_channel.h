#pragma once
// AtChannel: the worker's AT command operations on the AT port. Each
// operation writes one command, then polls the port with pauses in between
// (the port returns at once with whatever has arrived) and judges the reply
// collected so far after every read. Waits last 8 whole seconds of the wall
// clock. Failures go through the run's Reporter; nothing is retried here.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <utility>

#include "core/reporter.h"
#include "link/at_text.h"
#include "link/serial_channel.h"
#include "platform/clock.h"

namespace firmora::link {

// What AtWriteValue does with an "ERROR" reply (and with silence).
class AtWritePolicy {
public:
    enum class Kind {
        Normal,                // ERROR or silence: fail the run with failText
        UnsupportedIsSuccess,  // ERROR: report the carried text and succeed; silence: fail
        Quiet                  // ERROR or silence: false without a word
    };

    static AtWritePolicy Normal() { return AtWritePolicy(Kind::Normal, {}); }
    static AtWritePolicy UnsupportedIsSuccess(std::string text) {
        return AtWritePolicy(Kind::UnsupportedIsSuccess, std::move(text));
    }
    static AtWritePolicy Quiet() { return AtWritePolicy(Kind::Quiet, {}); }

    Kind kind() const { return kind_; }
    // The text UnsupportedIsSuccess reports.
    const std::string& unsupportedText() const { return unsupportedText_; }

private:
    AtWritePolicy(Kind kind, std::string text) : kind_(kind), unsupportedText_(std::move(text)) {}
    Kind kind_;
    std::string unsupportedText_;
};

class AtChannel {
public:
    // `channel` is the worker's AT channel (opened elsewhere); with
    // `fastSpeedDownload` the pauses between reads are shorter.
    AtChannel(SerialChannel& channel, platform::Clock& clock, core::Reporter& reporter,
              bool fastSpeedDownload);

    // Sends `command` as given (line ending included) and waits for the
    // result. On a final "OK" line stores the text between the first ":" and
    // the "OK" in `value` (left untouched otherwise), reports "Read......"
    // and returns true. An error line fails the query at once, even when an
    // "OK" follows it, so that an error text never passes for a value.
    bool AtQuery(const std::string& command, std::string& value);
    // The same for callers that only need the yes or no.
    bool AtQuery(const std::string& command);
    // The PDP context list: on a final "OK" after CR LF, `block` gets the
    // text from the first "+CGDCONT:" up to and including that CR LF.
    bool AtQueryContexts(const std::string& command, std::string& block);
    // A query the device echoes: `value` gets the text after the echo
    // "at!autoins?" up to the "OK".
    bool AtQueryAfterEcho(const std::string& command, std::string& value);
    // Sends the reboot command and returns true without awaiting a reply (the
    // device leaves the bus at once); a failed write is reported first.
    bool AtSendReboot(const std::string& command);

    // Sends prefix + value + "\r\n" (the prefix alone, unchanged, without a
    // value) and waits for the result as the policy says.
    bool AtWriteValue(const std::string& prefix, const std::optional<std::string>& value,
                      const std::string& failText, const AtWritePolicy& policy = AtWritePolicy::Normal());
    // The same command after a 3 s pause, read with long pauses; an "ERROR"
    // does not end the wait. For settings the device takes time to apply.
    bool AtWriteSlow(const std::string& prefix, const std::optional<std::string>& value,
                     const std::string& failText);

    // How many queries so far ended with no final result at all (the
    // device stayed silent, or never ended its answer): a caller can tell
    // a device that said no from one that did not answer.
    size_t UnansweredQueries() const { return unansweredQueries_; }

    // What a query's value is taken from.
    enum class QueryShape { Value, Contexts, AfterEcho };

private:
    bool RunQuery(const std::string& command, QueryShape shape, std::string& out);
    // One raw write of the whole text; false when the call failed.
    bool Send(const std::string& text);
    // One read of at most `bufferSize - 1` bytes appended to `reply`; false
    // when the call failed.
    bool ReadInto(std::string& reply, size_t bufferSize);
    bool WaitedEnough(int64_t startSeconds) const;
    uint32_t WritePauseMs() const;

    SerialChannel& channel_;
    platform::Clock& clock_;
    core::Reporter& reporter_;
    bool fastSpeedDownload_;
    size_t unansweredQueries_ = 0;
};

}  // namespace firmora::link
