#pragma once
// Private-profile INI files with the read and write rules the tool's files
// (Config.ini, at.bak, the settings file) rely on:
// - section and key names match without regard to (ASCII) case; the first
//   matching section and the first matching key in it win;
// - a value is the text after the first "=", blanks removed at both ends, then
//   one enclosing pair of double or of single quotes removed; at most 2047
//   characters of it are returned;
// - an integer read of a value that is not a decimal number gives the default;
// - writing replaces an existing key's value in its line, appends a new key at
//   the end of its section and a new section at the end of the file, and keeps
//   every other line (comments, unknown keys, blank lines) as it was;
// - a file is replaced atomically.

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace firmora::platform {

inline constexpr size_t kProfileValueMax = 2047;
// No INI file the tool reads (Config.ini, at.bak, the settings) comes near
// this; a larger one is refused unread.
inline constexpr uint64_t kIniFileMaxBytes = 4 * kMebibyte;

class IniDocument {
public:
    IniDocument() = default;
    static IniDocument Parse(std::string_view text);
    // A missing or unreadable file, or one larger than kIniFileMaxBytes, gives an empty document.
    static IniDocument Load(Files& files, const std::filesystem::path& path);

    // The value as the profile reader returns it, or nullopt when the key is missing.
    std::optional<std::string> Get(std::string_view section, std::string_view key) const;
    std::string GetString(std::string_view section, std::string_view key,
                          std::string_view defaultValue) const;
    int32_t GetInt(std::string_view section, std::string_view key, int32_t defaultValue) const;
    bool HasSection(std::string_view section) const;

    // Sets a key's value as described above. Only the value's first line is
    // written (a reader sees no more of it anyway), so a value taken from a
    // device can never add keys or sections to the file.
    void Set(std::string_view section, std::string_view key, std::string_view value);
    // Removes a key's line; false when it was not there.
    bool Remove(std::string_view section, std::string_view key);

    // The document as file text; lines end as they ended when read, new lines with "\r\n".
    std::string Text() const;
    bool Save(Files& files, const std::filesystem::path& path) const;

private:
    struct Line {
        std::string text;    // without its line ending
        std::string ending;  // "\r\n", "\n" or "" for a last line without one
    };
    std::vector<Line> lines_;
};

// One-call forms on a file path, reading or rewriting the file each time.
std::string ReadProfileString(Files& files, const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultValue);
int32_t ReadProfileInt(Files& files, const std::filesystem::path& file, std::string_view section,
                       std::string_view key, int32_t defaultValue);
// False when the file cannot be replaced (LastError set).
bool WriteProfileString(Files& files, const std::filesystem::path& file, std::string_view section,
                        std::string_view key, std::string_view value);

}  // namespace firmora::platform
