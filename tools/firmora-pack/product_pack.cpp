#include "product_pack.h"

#include <ostream>
#include <set>
#include <system_error>

#include "package/config_parser.h"
#include "package/package_unpack.h"
#include "platform/dialogs.h"
#include "platform/posix/posix_files.h"

namespace firmora::pack {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: firmora-pack --from DIR --output FILE [--program firmora|firmora-gui]\n"
    "  makes a product executable: a copy of the program beside firmora-pack\n"
    "  carrying the package in DIR (Config.ini, the images and the programs)\n";

// Checks one file the package needs and adds it; an optional one only when present.
void AddFile(const fs::path& folder, const package::PackageFile& file, std::set<std::string>& added,
             std::vector<platform::BundleFile>& files, std::vector<std::string>& problems) {
    if (!file.outside.empty()) return;  // copied from its path at start-up, not carried
    if (!added.insert(platform::BundleEntryPath(file.type, file.name)).second) return;
    const fs::path path = folder / file.file;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
        if (!file.optional) problems.push_back(path.string() + " is missing");
        return;
    }
    if (!fs::is_regular_file(status)) {
        problems.push_back(path.string() + " is not a regular file");
    } else if (fs::file_size(path, ec) == 0) {
        problems.push_back(path.string() + " is empty");
    } else {
        files.push_back({file.type, file.name, path});
    }
}

bool ParseFolderConfig(const fs::path& config, package::DownloadOptions& options,
                       std::vector<std::string>& problems) {
    platform::PosixFiles posixFiles;
    platform::ScriptedDialogs dialogs;
    std::error_code ec;
    if (!fs::is_regular_file(config, ec)) {
        problems.push_back(config.string() + " is missing");
        return false;
    }
    const package::ConfigParseResult parsed = package::ParseConfig(posixFiles, config, options, dialogs);
    if (parsed.stoppedOnError) {
        problems.push_back(config.string() + ": " + parsed.errorText);
        return false;
    }
    return true;
}

}  // namespace

bool CollectPackage(const fs::path& folder, std::vector<platform::BundleFile>& files,
                    std::vector<std::string>& problems) {
    package::DownloadOptions options;
    if (!ParseFolderConfig(folder / "Config.ini", options, problems)) return false;
    std::set<std::string> added;
    AddFile(folder, {"INI", "ConfigFile", "Config.ini", {}, false, {}}, added, files, problems);
    for (const package::PackageFile& file : package::FirstVariantFiles(options)) {
        AddFile(folder, file, added, files, problems);
    }
    if (options.Packet == 2) {
        // The second variant is unpacked under the first variant's selections.
        for (const package::PackageFile& file : package::SecondVariantFiles(options)) {
            AddFile(folder / kSecondVariantFolder, file, added, files, problems);
        }
    }
    return problems.empty();
}

int Main(const std::vector<std::string>& args, const fs::path& ownFolder, std::ostream& out, std::ostream& err) {
    std::string from;
    std::string output;
    std::string program = "firmora";
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return 0;
        }
        std::string* value = arg == "--from" ? &from : arg == "--output" ? &output : arg == "--program" ? &program : nullptr;
        if (value == nullptr || i + 1 == args.size()) {
            err << "firmora-pack: " << (value == nullptr ? "unknown option: " : "no value for ") << arg << '\n'
                << kUsage;
            return 2;
        }
        *value = args[++i];
    }
    if (from.empty() || output.empty()) {
        err << "firmora-pack: --from and --output are required\n" << kUsage;
        return 2;
    }
    if (program != "firmora" && program != "firmora-gui") {
        err << "firmora-pack: --program is firmora or firmora-gui, not: " << program << '\n';
        return 2;
    }
    const fs::path programFile = ownFolder / program;
    std::error_code ec;
    if (!fs::is_regular_file(programFile, ec)) {
        err << "firmora-pack: the program " << program << " is not beside firmora-pack (" << programFile.string()
            << ")\n";
        return 1;
    }

    std::vector<platform::BundleFile> files;
    std::vector<std::string> problems;
    if (!CollectPackage(from, files, problems)) {
        err << "firmora-pack: the package in " << from << " is not complete; nothing was written:\n";
        for (const std::string& problem : problems) err << "  " << problem << '\n';
        return 1;
    }
    std::string error;
    if (!platform::WriteProductWithBundle(programFile, files, output, error)) {
        err << "firmora-pack: " << error << '\n';
        return 1;
    }
    out << "firmora-pack: " << output << " carries " << files.size() << " files of " << from << '\n';
    return 0;
}

}  // namespace firmora::pack
