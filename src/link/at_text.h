#pragma once
// The text rules of AT replies: where a reply's final result code stands,
// what value a query yields, and the small cleaning helpers the callers use
// on device values. Pure functions, so every rule can be tested by itself.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace firmora::link {

// Removes every carriage return and line feed.
std::string StripLineBreaks(std::string_view text);
// Removes every carriage return, line feed and double quote.
std::string StripLineBreaksAndQuotes(std::string_view text);

// One command collects its reply in one growing text, so that a reply split
// across reads is judged as a whole. A device that keeps talking cannot grow
// it beyond this; bytes past the limit are dropped.
inline constexpr size_t kMaxReplyBytes = 64 * 1024;

// Appends the bytes of one read to `reply`. NUL bytes carry no text and are
// skipped rather than ending the text.
void AppendReplyBytes(std::string& reply, const uint8_t* data, size_t length);

// Whether the wait for a reply is still running (more bytes may come) or
// has run out (the reply is all there will be).
enum class ReplyWait { Running, Over };

// Position of the "OK" that ends the reply: the first line of its own made
// of "OK" (at the start of the text or right after a CR or LF, followed by
// nothing but blanks up to a CR or LF). While the wait runs, a line without
// its line end yet is not taken, since it may still grow into a value such
// as "OKAY"; once the wait is over, an "OK" line that ends the text counts.
// An "OK" inside a line ("SN0OK1", "RF CAL OK") is never the result.
std::optional<size_t> FindFinalOk(std::string_view reply, ReplyWait wait = ReplyWait::Running);
// As FindFinalOk for replies whose "OK" line must follow CR LF (context lists).
std::optional<size_t> FindFinalOkAfterCrLf(std::string_view reply, ReplyWait wait = ReplyWait::Running);
// True when a line starts with "ERROR", "+CME ERROR" or "+CMS ERROR". A
// value that merely ends in "ERROR" ("+TESTINF2: RF CAL ERROR") is no result.
bool HasErrorResult(std::string_view reply);

// The value of a query: from right after the first ":" (the first character
// when there is none before the result) to right before the result at `okPos`.
std::string QueryValue(std::string_view reply, size_t okPos);
// The context block: from the first "+CGDCONT:" (the first character when
// there is none before the result) to right before the result at `okPos`,
// which takes in the CR LF that precedes it.
std::string ContextsBlock(std::string_view reply, size_t okPos);
// The part of the reply after the device's echo of `echo` up to the result
// (from the first character when the echo is missing).
std::string ValueAfterEcho(std::string_view reply, size_t okPos, std::string_view echo);

}  // namespace firmora::link
