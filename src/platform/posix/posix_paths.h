#pragma once
// Where the tool keeps its files on a POSIX system:
// - the private temporary folder: "$XDG_RUNTIME_DIR/firmora" when that runtime
//   folder exists and only its owner may use it, else "${TMPDIR:-/tmp}/firmora-<uid>";
//   created owner-only and refused when it is a link or belongs to someone else;
// - the system root: "$FIRMORA_SYSTEM_ROOT", else "$XDG_STATE_HOME/firmora/root",
//   else "$HOME/.local/state/firmora/root";
// - the program folder: the folder of /proc/self/exe.

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/paths.h"

namespace firmora::platform {

// Looks up an environment variable; tests inject their own.
using EnvLookup = std::function<std::optional<std::string>(const char*)>;

// The process environment (getenv).
std::optional<std::string> SystemEnvironment(const char* name);
// A variable's value when it is set and not empty.
std::optional<std::string> NonEmptyVariable(const EnvLookup& env, const char* name);
// An XDG base-folder variable's value when it is set to an absolute path
// (relative values are invalid for these variables and are ignored).
std::optional<std::string> XdgFolderVariable(const EnvLookup& env, const char* name);
// "$HOME", else the home folder of the user database; empty when neither is known.
std::filesystem::path HomeFolder(const EnvLookup& env);

class PosixPaths final : public Paths {
public:
    explicit PosixPaths(EnvLookup env = SystemEnvironment);

    std::filesystem::path TempFolder() override;
    std::filesystem::path SystemRoot() override;
    std::filesystem::path ProgramFolder() override;

private:
    EnvLookup env_;
};

}  // namespace firmora::platform
