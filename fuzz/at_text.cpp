// The text rules of AT replies: the final result, error results, query
// values, the context list of "+CGDCONT?".
//
// Properties: the final "OK" is a line of its own and the first such line;
// one found while the reply is still arriving stays the one found whatever
// arrives after it, and is found again once the wait is over; values are
// cut from the reply before the result; each context read from a list is
// the rest of the first line that begins with that context's tag (a tag
// inside another line's text names nothing).

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "link/at_text.h"
#include "preserve/at_parameters.h"

namespace {

using firmora::link::ReplyWait;

bool IsOkLine(std::string_view reply, size_t pos, ReplyWait wait) {
    if (reply.substr(pos, 2) != "OK") return false;
    if (pos > 0 && reply[pos - 1] != '\r' && reply[pos - 1] != '\n') return false;
    size_t end = pos + 2;
    while (end < reply.size() && (reply[end] == ' ' || reply[end] == '\t')) ++end;
    return end == reply.size() ? wait == ReplyWait::Over : (reply[end] == '\r' || reply[end] == '\n');
}

void CheckResult(std::string_view reply, std::string_view more) {
    for (ReplyWait wait : {ReplyWait::Running, ReplyWait::Over}) {
        const std::optional<size_t> ok = firmora::link::FindFinalOk(reply, wait);
        if (!ok) {
            for (size_t pos = 0; pos < reply.size(); ++pos) FUZZ_CHECK(!IsOkLine(reply, pos, wait));
            continue;
        }
        FUZZ_CHECK(IsOkLine(reply, *ok, wait));
        for (size_t pos = 0; pos < *ok; ++pos) FUZZ_CHECK(!IsOkLine(reply, pos, wait));
        const std::string value = firmora::link::QueryValue(reply, *ok);
        FUZZ_CHECK(value.size() <= *ok && reply.substr(0, *ok).find(value) != std::string_view::npos);

        const std::optional<size_t> afterCrLf = firmora::link::FindFinalOkAfterCrLf(reply, wait);
        if (afterCrLf) FUZZ_CHECK(*afterCrLf >= *ok && *afterCrLf >= 2 && reply.substr(*afterCrLf - 2, 2) == "\r\n");

        if (wait == ReplyWait::Running) {
            const std::string longer = std::string(reply) + std::string(more);
            FUZZ_CHECK(firmora::link::FindFinalOk(longer, ReplyWait::Running) == ok);
            FUZZ_CHECK(firmora::link::FindFinalOk(reply, ReplyWait::Over) == ok);
        }
    }
}

// Where a line of the block begins with `tag`.
std::vector<size_t> TaggedLines(std::string_view block, std::string_view tag) {
    std::vector<size_t> found;
    for (size_t at = block.find(tag); at != std::string_view::npos; at = block.find(tag, at + 1)) {
        if (at == 0 || block[at - 1] == '\r' || block[at - 1] == '\n') found.push_back(at);
    }
    return found;
}

void CheckContexts(std::string_view block) {
    const auto contexts = firmora::preserve::ParseContexts(block);
    for (size_t k = 1; k <= contexts.size(); ++k) {
        const std::string tag = "+CGDCONT: " + std::to_string(k) + ",";
        const std::vector<size_t> lines = TaggedLines(block, tag);
        if (lines.empty()) {
            FUZZ_CHECK(contexts[k - 1].empty());
            continue;
        }
        // The first line that names the context, up to its CR LF.
        const size_t start = lines.front() + 10;
        const size_t end = std::min(block.find("\r\n", start), block.size());
        FUZZ_CHECK(contexts[k - 1] == block.substr(start, end - start));
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reply;
    firmora::link::AppendReplyBytes(reply, data, size);
    FUZZ_CHECK(reply.size() <= firmora::link::kMaxReplyBytes && reply.find('\0') == std::string::npos);

    // The reply as it stood at some read, and what came after.
    const size_t cut = size == 0 ? 0 : data[0] % (reply.size() + 1);
    CheckResult(std::string_view(reply).substr(0, cut), std::string_view(reply).substr(cut));
    CheckResult(reply, {});
    CheckContexts(reply);
    return 0;
}
