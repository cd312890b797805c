#pragma once
// A subcommand of the firmora command: its name, how it is called, and the
// function that runs it with the arguments after its name.

#include <iosfwd>
#include <string>
#include <string_view>
#include <vector>

namespace firmora::cli {

inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;
inline constexpr int kExitUsage = 2;
// The run was stopped (Ctrl-C): 128 + SIGINT, as a shell reports it.
inline constexpr int kExitStopped = 130;

using CommandArgs = std::vector<std::string>;

struct Command {
    std::string_view name;
    std::string_view arguments;  // e.g. "[--config FILE] [--json]"
    std::string_view summary;
    int (*run)(const CommandArgs& args, std::ostream& out, std::ostream& err);
};

}  // namespace firmora::cli
