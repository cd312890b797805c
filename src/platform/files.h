#pragma once
// File helpers whose exact behaviour matters to the tool's own files.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace firmora::platform {

// Replaces `path` with `content` so that a reader sees either the old file or
// the new one, never a part: write a temporary file beside it, flush it to
// the device, rename it over the target. False on failure (LastError set);
// the old file then stays as it was.
bool ReplaceFileAtomically(const std::filesystem::path& path, std::string_view content);

// The whole content of a file; nullopt when it cannot be read (LastError set).
std::optional<std::string> ReadWholeFile(const std::filesystem::path& path);

}  // namespace firmora::platform
