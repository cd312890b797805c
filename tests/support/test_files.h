#pragma once
// Whole-file reads and writes for tests that set up or inspect files.

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/std_files.h"

namespace firmora::testing {

inline bool WriteTestFile(const std::filesystem::path& path, std::string_view content) {
    return platform::StdFiles().ReplaceAtomically(path, content);
}

inline std::optional<std::string> ReadTestFile(const std::filesystem::path& path) {
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    return platform::StdFiles().ReadWhole(path, UINT32_MAX, refusal);
}

}  // namespace firmora::testing
