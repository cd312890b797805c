#pragma once
// The configuration a command works with: a Config.ini path that a user
// typed, or the embedded default.

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <string_view>
#include <vector>

#include "package/config_parser.h"
#include "package/download_options.h"

namespace firmora::cli {

// Empty when the file can be read; otherwise the message to show. The parse
// itself takes a missing file for all defaults, which is right for the
// tool's own working folder but hides a mistyped path given by a user.
std::string CheckReadableConfig(const std::filesystem::path& path);

struct ConfigRead {
    std::string source;  // the file, or "embedded default Config.ini"
    package::DownloadOptions options;
    package::ConfigParseResult result;
    std::vector<std::string> messages;  // the texts of the boxes the parse showed
};

// Parses `file` (the embedded Config.ini when none is given), answering every
// box with its first button. Nullopt after printing "firmora <command>: ..."
// to `err` when the named file cannot be read.
std::optional<ConfigRead> ReadConfig(std::string_view command, const std::optional<std::filesystem::path>& file,
                                     std::ostream& err);

// The options a run uses: the boxes the parse showed go to `err` as warnings.
// Nullopt, with `exitCode` set, after printing why the run cannot start.
std::optional<package::DownloadOptions> ConfigForRun(std::string_view command,
                                                     const std::optional<std::filesystem::path>& file,
                                                     std::ostream& err, int& exitCode);

}  // namespace firmora::cli
