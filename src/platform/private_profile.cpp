#include "platform/private_profile.h"

#include <cerrno>
#include <charconv>
#include <limits>

#include "platform/files.h"

namespace firmora::platform {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kNewLineEnding = "\r\n";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return text;
}

char AsciiLower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

bool NamesMatch(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

// What one line means to the profile reader.
struct LineMeaning {
    enum class Kind { Other, Section, Key };
    Kind kind = Kind::Other;
    std::string_view name;      // section or key name, blanks removed
    std::string_view rawValue;  // Key: the text after the first "="
};

LineMeaning Interpret(std::string_view text, bool firstLine) {
    if (firstLine && text.substr(0, kUtf8Bom.size()) == kUtf8Bom) text.remove_prefix(kUtf8Bom.size());
    const std::string_view trimmed = TrimBlanks(text);
    LineMeaning meaning;
    if (!trimmed.empty() && trimmed.front() == '[') {
        const size_t close = trimmed.find(']');
        if (close != std::string_view::npos) {
            meaning.kind = LineMeaning::Kind::Section;
            meaning.name = TrimBlanks(trimmed.substr(1, close - 1));
            return meaning;
        }
        // "[" without "]" is no header; it may still be a key line.
    }
    const size_t equals = trimmed.find('=');
    if (equals == std::string_view::npos) return meaning;
    meaning.kind = LineMeaning::Kind::Key;
    meaning.name = TrimBlanks(trimmed.substr(0, equals));
    meaning.rawValue = trimmed.substr(equals + 1);
    return meaning;
}

std::string ProcessValue(std::string_view raw) {
    std::string_view value = TrimBlanks(raw);
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    if (value.size() > kProfileValueMax) value = value.substr(0, kProfileValueMax);
    return std::string(value);
}

std::optional<int32_t> ParseDecimalInt32(std::string_view text) {
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    // Digits only after the one sign: from_chars would take a second "-".
    if (text.empty() || text.front() < '0' || text.front() > '9') return std::nullopt;
    uint32_t magnitude = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    // INT32_MIN has one more than INT32_MAX.
    const int64_t value = negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
    if (value > std::numeric_limits<int32_t>::max() || value < std::numeric_limits<int32_t>::min()) {
        return std::nullopt;
    }
    return static_cast<int32_t>(value);
}

// A value is written up to its first line break: the reader would stop there
// anyway, and the rest would otherwise turn into lines of their own (new keys
// or sections smuggled in by device text).
std::string_view FirstLineOf(std::string_view value) {
    return value.substr(0, value.find_first_of("\r\n"));
}

// Where a key lives: the first section of that name, the first key of that
// name in it, and the line after which a new key of the section goes.
struct Location {
    std::optional<size_t> section;
    std::optional<size_t> key;
    size_t lastKeyOrHeader = 0;
};

// A template so that it can walk the document's private line type.
template <class Lines>
Location Find(const Lines& lines, std::string_view section, std::string_view key) {
    Location location;
    bool inSection = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        const LineMeaning meaning = Interpret(lines[i].text, i == 0);
        if (meaning.kind == LineMeaning::Kind::Section) {
            if (inSection) break;  // only the first matching section counts
            if (NamesMatch(meaning.name, section)) {
                inSection = true;
                location.section = i;
                location.lastKeyOrHeader = i;
            }
        } else if (inSection && meaning.kind == LineMeaning::Kind::Key) {
            location.lastKeyOrHeader = i;
            if (!location.key && NamesMatch(meaning.name, key)) location.key = i;
        }
    }
    return location;
}

}  // namespace

IniDocument IniDocument::Parse(std::string_view text) {
    IniDocument document;
    while (!text.empty()) {
        const size_t newline = text.find('\n');
        Line line;
        if (newline == std::string_view::npos) {
            line.text = std::string(text);
            text = {};
        } else {
            std::string_view body = text.substr(0, newline);
            if (!body.empty() && body.back() == '\r') {
                body.remove_suffix(1);
                line.ending = "\r\n";
            } else {
                line.ending = "\n";
            }
            line.text = std::string(body);
            text.remove_prefix(newline + 1);
        }
        document.lines_.push_back(std::move(line));
    }
    return document;
}

IniDocument IniDocument::Load(Files& files, const std::filesystem::path& path) {
    ReadRefusal refusal = ReadRefusal::None;
    const std::optional<std::string> text = files.ReadWhole(path, kIniFileMaxBytes, refusal);
    return text ? Parse(*text) : IniDocument{};
}

std::optional<std::string> IniDocument::Get(std::string_view section, std::string_view key) const {
    const Location location = Find(lines_, section, key);
    if (!location.key) return std::nullopt;
    return ProcessValue(Interpret(lines_[*location.key].text, false).rawValue);
}

std::string IniDocument::GetString(std::string_view section, std::string_view key,
                                   std::string_view defaultValue) const {
    std::optional<std::string> value = Get(section, key);
    return value ? std::move(*value) : std::string(defaultValue);
}

int32_t IniDocument::GetInt(std::string_view section, std::string_view key,
                            int32_t defaultValue) const {
    const std::optional<std::string> value = Get(section, key);
    if (!value) return defaultValue;
    return ParseDecimalInt32(*value).value_or(defaultValue);
}

bool IniDocument::HasSection(std::string_view section) const {
    return Find(lines_, section, {}).section.has_value();
}

void IniDocument::Set(std::string_view section, std::string_view key, std::string_view value) {
    value = FirstLineOf(value);
    const Location location = Find(lines_, section, key);
    if (location.key) {
        // A key line always follows its section's header, so it never holds the BOM.
        Line& line = lines_[*location.key];
        line.text = std::string(Interpret(line.text, false).name) + "=" + std::string(value);
        return;
    }
    Line keyLine{std::string(key) + "=" + std::string(value), std::string(kNewLineEnding)};
    if (location.section) {
        Line& anchor = lines_[location.lastKeyOrHeader];
        if (anchor.ending.empty()) anchor.ending = kNewLineEnding;
        lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(location.lastKeyOrHeader + 1),
                      std::move(keyLine));
        return;
    }
    if (!lines_.empty() && lines_.back().ending.empty()) lines_.back().ending = kNewLineEnding;
    lines_.push_back({"[" + std::string(section) + "]", std::string(kNewLineEnding)});
    lines_.push_back(std::move(keyLine));
}

bool IniDocument::Remove(std::string_view section, std::string_view key) {
    const Location location = Find(lines_, section, key);
    if (!location.key) return false;
    lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(*location.key));
    return true;
}

std::string IniDocument::Text() const {
    std::string text;
    for (const Line& line : lines_) {
        text += line.text;
        text += line.ending;
    }
    return text;
}

bool IniDocument::Save(Files& files, const std::filesystem::path& path) const {
    return files.ReplaceAtomically(path, Text());
}

std::string ReadProfileString(Files& files, const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue) {
    return IniDocument::Load(files, file).GetString(section, key, defaultValue);
}

int32_t ReadProfileInt(Files& files, const std::filesystem::path& file, std::string_view section,
                       std::string_view key, int32_t defaultValue) {
    return IniDocument::Load(files, file).GetInt(section, key, defaultValue);
}

bool WriteProfileString(Files& files, const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value) {
    ReadRefusal refusal = ReadRefusal::None;
    const std::optional<std::string> text = files.ReadWhole(file, kIniFileMaxBytes, refusal);
    // A file that exists but cannot be read must not be replaced by a file
    // holding only this one key.
    if (!text && refusal != ReadRefusal::Missing) return false;
    IniDocument document = text ? IniDocument::Parse(*text) : IniDocument{};
    document.Set(section, key, value);
    return document.Save(files, file);
}

}  // namespace firmora::platform
