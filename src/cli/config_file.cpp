#include "cli/config_file.h"

#include <fstream>
#include <system_error>

#include "cli/command.h"
#include "package/default_config.h"
#include "package/options_json.h"
#include "platform/dialogs.h"
#include "platform/posix/posix_files.h"

namespace firmora::cli {

std::string CheckReadableConfig(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return "config file not found: " + path.string();
    if (fs::is_directory(status)) return "config file is a directory: " + path.string();
    // Opening a FIFO would wait for a writer, and a device has no end to read to.
    if (!fs::is_regular_file(status)) return "config file is not a regular file: " + path.string();
    if (!std::ifstream(path, std::ios::binary)) return "cannot read config file: " + path.string();
    return {};
}

std::optional<ConfigRead> ReadConfig(std::string_view command, const std::optional<std::filesystem::path>& file,
                                     std::ostream& err) {
    ConfigRead read;
    platform::ScriptedDialogs dialogs;  // records every box, answers with its first button
    if (file) {
        if (const std::string problem = CheckReadableConfig(*file); !problem.empty()) {
            err << "firmora " << command << ": " << problem << '\n';
            return std::nullopt;
        }
        read.source = file->string();
        // A package's Config.ini may be named through a link; the file read
        // is the one it points to (the reader itself never follows a link).
        std::error_code ec;
        const std::filesystem::path target = std::filesystem::canonical(*file, ec);
        platform::PosixFiles files;
        read.result = package::ParseConfig(files, ec ? *file : target, read.options, dialogs);
    } else {
        read.source = "embedded default Config.ini";
        read.result = package::ParseConfigText(package::DefaultConfigText(), read.options, dialogs);
    }
    for (const auto& shown : dialogs.shown()) read.messages.push_back(shown.text);
    return read;
}

std::optional<package::DownloadOptions> ConfigForRun(std::string_view command,
                                                     const std::optional<std::filesystem::path>& file,
                                                     std::ostream& err, int& exitCode) {
    std::optional<ConfigRead> read = ReadConfig(command, file, err);
    if (!read) {
        exitCode = kExitUsage;
        return std::nullopt;
    }
    for (const std::string& text : read->messages) err << "Warning: " << package::EscapeVisible(text) << '\n';
    if (read->result.stoppedOnError) {
        err << "firmora " << command << ": configuration error: " << package::EscapeVisible(read->result.errorText)
            << '\n';
        exitCode = kExitFailure;
        return std::nullopt;
    }
    return std::move(read->options);
}

}  // namespace firmora::cli
