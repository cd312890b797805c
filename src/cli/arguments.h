#pragma once
// Pieces the commands share: reading "--name VALUE" / "--name=VALUE"
// options, "--simulate[=SCENARIO]", and a run's failure as the user reads it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "cli/command.h"
#include "engine/run_reporter.h"

namespace firmora::cli {

// The scenario --simulate runs when none is named.
inline constexpr const char* kDefaultScenario = "default";

// True when `arg` is the option `name`, alone or as "name=value".
bool IsOption(const std::string& arg, std::string_view name);
// The option's value, from the next argument or after "="; false when there
// is none (or it is empty).
bool TakeValue(const CommandArgs& args, size_t& i, std::string_view name, std::string& value);
// For "--simulate" and "--simulate=SCENARIO": true with the scenario (or the
// problem) set; false for any other argument.
bool TakeSimulate(const std::string& arg, std::optional<std::string>& scenario, std::string& problem);

// Milliseconds as seconds with one decimal: "12.3".
std::string FormatSeconds(uint64_t milliseconds);

// The report's text, and what the system's code means when there is one.
std::string FailureText(const engine::RunReporter& reporter);

}  // namespace firmora::cli
