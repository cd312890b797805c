#include "cli/arguments.h"

#include <cstdio>
#include <cstring>

namespace firmora::cli {

bool IsOption(const std::string& arg, std::string_view name) {
    return arg == name || (arg.starts_with(name) && arg.size() > name.size() && arg[name.size()] == '=');
}

bool TakeValue(const CommandArgs& args, size_t& i, std::string_view name, std::string& value) {
    const std::string& arg = args[i];
    if (arg == name) {
        if (i + 1 >= args.size()) return false;
        value = args[++i];
    } else {
        value = arg.substr(name.size() + 1);
    }
    return !value.empty();
}

bool TakeSimulate(const std::string& arg, std::optional<std::string>& scenario, std::string& problem) {
    constexpr std::string_view kOption = "--simulate";
    if (arg == kOption) {
        scenario = kDefaultScenario;
        return true;
    }
    if (!arg.starts_with("--simulate=")) return false;
    if (arg.size() == kOption.size() + 1) {
        problem = "option --simulate= needs a scenario";
    } else {
        scenario = arg.substr(kOption.size() + 1);
    }
    return true;
}

std::string FailureText(const engine::RunReporter& reporter) {
    std::string text = reporter.CurrentStatusText();
    const int32_t status = reporter.RunStatus();
    if (status != core::kRunFailedWithoutCode && status != core::kRunStopped && status > 0) {
        text += " (" + std::string(std::strerror(status)) + ")";
    }
    return text;
}

std::string FormatSeconds(uint64_t milliseconds) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", static_cast<double>(milliseconds) / 1000.0);
    return text;
}

}  // namespace firmora::cli
