#include "link/at_text.h"

#include <algorithm>
#include <array>

namespace firmora::link {
namespace {

constexpr std::string_view kOk = "OK";

bool IsLineBreak(char c) { return c == '\r' || c == '\n'; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool StartsLine(std::string_view text, size_t pos) { return pos == 0 || IsLineBreak(text[pos - 1]); }

// Nothing but blanks from `pos` to a line break, or (once the wait is over)
// to the end of the text.
bool EndsLine(std::string_view text, size_t pos, ReplyWait wait) {
    while (pos < text.size() && IsBlank(text[pos])) ++pos;
    if (pos == text.size()) return wait == ReplyWait::Over;
    return IsLineBreak(text[pos]);
}

template <typename Accept>
std::optional<size_t> FirstOkLine(std::string_view reply, ReplyWait wait, Accept accept) {
    for (size_t pos = reply.find(kOk); pos != std::string_view::npos; pos = reply.find(kOk, pos + 1)) {
        if (StartsLine(reply, pos) && EndsLine(reply, pos + kOk.size(), wait) && accept(pos)) return pos;
    }
    return std::nullopt;
}

std::string WithoutAny(std::string_view text, std::string_view drop) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        if (drop.find(c) == std::string_view::npos) out += c;
    }
    return out;
}

// From `start` (or the first character when it is missing or lies past the
// result) up to the result.
std::string Span(std::string_view reply, std::optional<size_t> start, size_t okPos) {
    okPos = std::min(okPos, reply.size());
    const size_t from = (start && *start <= okPos) ? *start : 0;
    return std::string(reply.substr(from, okPos - from));
}

std::optional<size_t> Find(std::string_view text, std::string_view what) {
    const size_t pos = text.find(what);
    if (pos == std::string_view::npos) return std::nullopt;
    return pos;
}

}  // namespace

std::string StripLineBreaks(std::string_view text) { return WithoutAny(text, "\r\n"); }

std::string StripLineBreaksAndQuotes(std::string_view text) { return WithoutAny(text, "\r\n\""); }

void AppendReplyBytes(std::string& reply, const uint8_t* data, size_t length) {
    for (size_t i = 0; i < length && reply.size() < kMaxReplyBytes; ++i) {
        if (data[i] != 0) reply += static_cast<char>(data[i]);
    }
}

std::optional<size_t> FindFinalOk(std::string_view reply, ReplyWait wait) {
    return FirstOkLine(reply, wait, [](size_t) { return true; });
}

std::optional<size_t> FindFinalOkAfterCrLf(std::string_view reply, ReplyWait wait) {
    return FirstOkLine(reply, wait,
                       [reply](size_t pos) { return pos >= 2 && reply.substr(pos - 2, 2) == "\r\n"; });
}

bool HasErrorResult(std::string_view reply) {
    static constexpr std::array<std::string_view, 3> kErrorLines = {"ERROR", "+CME ERROR", "+CMS ERROR"};
    for (size_t pos = 0; pos < reply.size(); ++pos) {
        if (!StartsLine(reply, pos)) continue;
        const std::string_view rest = reply.substr(pos);
        for (std::string_view head : kErrorLines) {
            if (rest.substr(0, head.size()) == head) return true;
        }
    }
    return false;
}

std::string QueryValue(std::string_view reply, size_t okPos) {
    auto colon = Find(reply, ":");
    if (colon) ++*colon;
    return Span(reply, colon, okPos);
}

std::string ContextsBlock(std::string_view reply, size_t okPos) {
    return Span(reply, Find(reply, "+CGDCONT:"), okPos);
}

std::string ValueAfterEcho(std::string_view reply, size_t okPos, std::string_view echo) {
    auto at = Find(reply, echo);
    if (at) *at += echo.size();
    return Span(reply, at, okPos);
}

}  // namespace firmora::link
