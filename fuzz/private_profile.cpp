// The private-profile INI reader and writer (Config.ini, at.bak, the
// settings file) over a document from disk and a value from a device.
//
// Properties: a document's text survives parsing unchanged; a value written
// and read back is the same value (as the reader shapes it: first line only,
// blanks and one pair of quotes removed, at most 2047 characters); writing a
// key changes no other key of the document.

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <iterator>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "platform/private_profile.h"

namespace {

using firmora::platform::IniDocument;

// Names as the tool writes them: one of its own, or letters, digits and a few
// marks, never a blank at either end, "=" or brackets.
std::string Name(FuzzedDataProvider& input) {
    static constexpr std::string_view kOwn[] = {"Backup", "IMEI", "Config", "Project", "backup", "CGDCONT1"};
    const size_t pick = input.ConsumeIntegralInRange<size_t>(0, std::size(kOwn));
    if (pick < std::size(kOwn)) return std::string(kOwn[pick]);
    static constexpr std::string_view kAlphabet = "abcXYZ_019. -";
    std::string name;
    const size_t length = input.ConsumeIntegralInRange<size_t>(1, 8);
    for (size_t i = 0; i < length; ++i) name += kAlphabet[input.ConsumeIntegralInRange<size_t>(0, kAlphabet.size() - 1)];
    while (!name.empty() && name.back() == ' ') name.pop_back();
    while (!name.empty() && name.front() == ' ') name.erase(0, 1);
    return name.empty() ? "k" : name;
}

// What the reader gives back for a written value.
std::string AsRead(std::string_view value) {
    value = value.substr(0, value.find_first_of("\r\n"));
    while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);
    while (!value.empty() && (value.back() == ' ' || value.back() == '\t')) value.remove_suffix(1);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return std::string(value.substr(0, firmora::platform::kProfileValueMax));
}

}  // namespace

// The input is the document, then after a NUL byte the value, then after
// another the choice of names; so a plain INI file is a seed.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view whole(reinterpret_cast<const char*>(data), size);
    const size_t textEnd = std::min(whole.find('\0'), whole.size());
    const std::string text(whole.substr(0, textEnd));
    const std::string_view rest = whole.substr(std::min(textEnd + 1, whole.size()));
    const size_t valueEnd = std::min(rest.find('\0'), rest.size());
    const std::string value(rest.substr(0, valueEnd));
    const std::string_view names = rest.substr(std::min(valueEnd + 1, rest.size()));
    FuzzedDataProvider input(reinterpret_cast<const uint8_t*>(names.data()), names.size());
    const std::string section = Name(input);
    const std::string key = Name(input);
    const std::string otherSection = Name(input);
    const std::string otherKey = Name(input);

    IniDocument document = IniDocument::Parse(text);
    FUZZ_CHECK(document.Text() == text);

    const bool sameKey = [&] {
        auto lower = [](std::string s) {
            for (char& c : s) c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
            return s;
        };
        return lower(section) == lower(otherSection) && lower(key) == lower(otherKey);
    }();
    const std::optional<std::string> otherBefore = document.Get(otherSection, otherKey);

    document.Set(section, key, value);
    const IniDocument reread = IniDocument::Parse(document.Text());
    const std::optional<std::string> back = reread.Get(section, key);
    FUZZ_CHECK(back.has_value());
    FUZZ_CHECK(*back == AsRead(value));
    FUZZ_CHECK(reread.HasSection(section));
    if (!sameKey) FUZZ_CHECK(reread.Get(otherSection, otherKey) == otherBefore);

    FUZZ_CHECK(document.Remove(section, key));
    return 0;
}
