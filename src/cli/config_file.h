#pragma once
// Checks of a Config.ini path that a user typed.

#include <filesystem>
#include <string>

namespace firmora::cli {

// Empty when the file can be read; otherwise the message to show. The parse
// itself takes a missing file for all defaults, which is right for the
// tool's own working folder but hides a mistyped path given by a user.
std::string CheckReadableConfig(const std::filesystem::path& path);

}  // namespace firmora::cli
