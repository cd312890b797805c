#pragma once
// Where the tool keeps its files.

#include <filesystem>

namespace firmora::platform {

class Paths {
public:
    virtual ~Paths() = default;
    // The user's private temporary folder (owner-only permissions, never a
    // shared world-writable folder itself); created when missing. Empty on
    // failure, with LastError set.
    virtual std::filesystem::path TempFolder() = 0;
    // The tool's system root: what the Windows program kept at the root of
    // drive C (run logs, marker files). Created when missing; empty on failure.
    virtual std::filesystem::path SystemRoot() = 0;
    // The folder of the running program.
    virtual std::filesystem::path ProgramFolder() = 0;
};

}  // namespace firmora::platform
