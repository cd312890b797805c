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

// Position of the "OK" that ends the reply: the first line made of "OK"
// (at the start of the text or right after a CR or LF, followed by nothing
// but blanks up to a line break or the end of the text received so far).
// Without such a line, an "OK" that ends the text (apart from blanks, CR and
// LF) is accepted, for devices that do not put their result on a line of its
// own. An "OK" inside a value ("SN0OK1") is never the result.
std::optional<size_t> FindFinalOk(std::string_view reply);
// As FindFinalOk for replies whose "OK" line must follow CR LF (context lists).
std::optional<size_t> FindFinalOkAfterCrLf(std::string_view reply);
// True when a line starts with "ERROR", "+CME ERROR" or "+CMS ERROR", or the
// text ends in "ERROR" (apart from blanks, CR and LF).
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
