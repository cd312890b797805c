#include "cli/config_check_command.h"

#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <system_error>

#include <nlohmann/json.hpp>

#include "cli/config_file.h"
#include "package/config_parser.h"
#include "package/default_config.h"
#include "package/download_options.h"
#include "package/options_json.h"
#include "platform/dialogs.h"
#include "platform/posix/posix_files.h"

namespace firmora::cli {
namespace {

namespace fs = std::filesystem;

constexpr std::string_view kUsage =
    "usage: firmora config-check [--config FILE] [--json]\n"
    "  --config FILE  check FILE instead of the embedded default Config.ini\n"
    "  --json         print the result as one JSON object\n";

struct Options {
    std::optional<fs::path> config;
    bool json = false;
    bool help = false;
};

int UsageError(std::ostream& err, const std::string& problem) {
    err << "firmora config-check: " << problem << '\n' << kUsage;
    return kExitUsage;
}

// Empty when the arguments are fine, else the problem.
std::string ParseArgs(const CommandArgs& args, Options& options) {
    constexpr std::string_view kConfigEq = "--config=";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--json") {
            options.json = true;
        } else if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--config") {
            if (i + 1 >= args.size()) return "option --config needs a file";
            options.config = args[++i];
        } else if (arg.starts_with(kConfigEq)) {
            if (arg.size() == kConfigEq.size()) return "option --config needs a file";
            options.config = arg.substr(kConfigEq.size());
        } else if (arg.starts_with("-")) {
            return "unknown option: " + arg;
        } else {
            return "unexpected argument: " + arg;
        }
    }
    return {};
}

void PrintJson(std::ostream& out, const package::DownloadOptions& options,
               const std::vector<std::string>& messages,
               const package::ConfigParseResult& result) {
    nlohmann::ordered_json j = package::OptionsToJson(options);
    j["messages"] = messages;
    j["stoppedOnError"] = result.stoppedOnError;
    j["errorText"] = result.errorText;
    // A Config.ini may carry texts in a legacy code page; print those bytes
    // replaced rather than fail on them.
    out << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
}

void PrintText(std::ostream& out, const std::string& source,
               const package::DownloadOptions& options,
               const std::vector<std::string>& messages,
               const package::ConfigParseResult& result) {
    out << "Configuration: " << source << "\n\n" << package::OptionsToText(options) << '\n';
    if (messages.empty()) {
        out << "Messages: (none)\n";
    } else {
        out << "Messages:\n";
        for (const std::string& text : messages) {
            out << "  Warning: " << package::EscapeVisible(text) << '\n';
        }
    }
    if (result.stoppedOnError) {
        out << "Result: stopped on a configuration error: "
            << package::EscapeVisible(result.errorText) << '\n';
    } else {
        out << "Result: parsed without errors\n";
    }
}

}  // namespace

const Command kConfigCheckCommand = {
    "config-check", "[--config FILE] [--json]",
    "check a Config.ini (the embedded one by default) and print the options it gives",
    &RunConfigCheck};

int RunConfigCheck(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    Options options;
    if (const std::string problem = ParseArgs(args, options); !problem.empty()) {
        return UsageError(err, problem);
    }
    if (options.help) {
        out << kUsage;
        return kExitOk;
    }

    package::DownloadOptions downloadOptions;
    platform::ScriptedDialogs dialogs;  // records every box, answers with its first button
    package::ConfigParseResult result;
    std::string source;
    if (options.config) {
        if (const std::string problem = CheckReadableConfig(*options.config); !problem.empty()) {
            err << "firmora config-check: " << problem << '\n';
            return kExitUsage;
        }
        source = options.config->string();
        platform::PosixFiles files;
        result = package::ParseConfig(files, *options.config, downloadOptions, dialogs);
    } else {
        source = "embedded default Config.ini";
        result = package::ParseConfigText(package::DefaultConfigText(), downloadOptions, dialogs);
    }

    std::vector<std::string> messages;
    for (const auto& shown : dialogs.shown()) messages.push_back(shown.text);

    if (options.json) {
        PrintJson(out, downloadOptions, messages, result);
    } else {
        PrintText(out, source, downloadOptions, messages, result);
    }
    if (result.stoppedOnError) {
        err << "firmora config-check: configuration error: "
            << package::EscapeVisible(result.errorText) << '\n';
        return kExitFailure;
    }
    return kExitOk;
}

}  // namespace firmora::cli
