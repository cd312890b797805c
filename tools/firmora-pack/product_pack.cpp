#include "product_pack.h"

#include <map>
#include <ostream>
#include <set>
#include <system_error>

#include "package/config_parser.h"
#include "package/image_verification.h"
#include "package/package_unpack.h"
#include "platform/dialogs.h"
#include "platform/posix/posix_files.h"

namespace firmora::pack {
namespace {

namespace fs = std::filesystem;

constexpr const char* kUsage =
    "usage: firmora-pack --from DIR --output FILE [--program firmora|firmora-gui]\n"
    "  makes a product executable: a copy of the program beside firmora-pack\n"
    "  carrying the package in DIR (Config.ini, the images and the programs);\n"
    "  nothing is written when a file is missing or start-up would refuse an image\n";

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

// The package folder as the working folder will hold it once the package is
// unpacked at start-up: only the files the package carries (and those copied
// from outside), under their names there. What the image checks write (the
// programmer's binary) stays in memory, so checking leaves the folder as it
// was.
class UnpackedView final : public platform::Files {
public:
    explicit UnpackedView(const fs::path& folder) : folder_(folder.lexically_normal()) {}

    void Add(const std::string& name, const fs::path& source) { files_[Key(folder_ / name)] = source; }

    bool ReplaceAtomically(const fs::path& path, std::string_view content) override {
        written_[Key(path)] = std::string(content);
        return true;
    }
    bool ReplaceFromSource(const fs::path&, platform::ByteSource&) override { return false; }
    std::optional<std::string> ReadWhole(const fs::path& path, uint64_t maxBytes,
                                         platform::ReadRefusal& refusal) override {
        if (const auto it = written_.find(Key(path)); it != written_.end()) return it->second;
        if (const auto it = files_.find(Key(path)); it != files_.end()) {
            return real_.ReadWhole(it->second, maxBytes, refusal);
        }
        refusal = platform::ReadRefusal::Missing;
        return std::nullopt;
    }
    platform::FileKind KindOf(const fs::path& path) override {
        if (Key(path) == folder_.string()) return platform::FileKind::Folder;
        if (written_.count(Key(path))) return platform::FileKind::Regular;
        const auto it = files_.find(Key(path));
        return it == files_.end() ? platform::FileKind::Missing : real_.KindOf(it->second);
    }
    std::optional<std::vector<platform::FolderEntry>> ListFolder(const fs::path& folder) override {
        if (Key(folder) != folder_.string()) return std::nullopt;
        std::set<std::string> names;
        for (const auto& [path, source] : files_) names.insert(fs::path(path).filename().string());
        for (const auto& [path, content] : written_) names.insert(fs::path(path).filename().string());
        std::vector<platform::FolderEntry> entries;
        for (const std::string& name : names) entries.push_back({name, KindOf(folder_ / name)});
        return entries;
    }
    std::optional<uint64_t> SizeOf(const fs::path& path) override {
        if (const auto it = written_.find(Key(path)); it != written_.end()) return it->second.size();
        const auto it = files_.find(Key(path));
        return it == files_.end() ? std::nullopt : real_.SizeOf(it->second);
    }

private:
    static std::string Key(const fs::path& path) { return path.lexically_normal().string(); }

    fs::path folder_;
    std::map<std::string, fs::path> files_;    // the unpacked name's path, and where its bytes are now
    std::map<std::string, std::string> written_;
    platform::PosixFiles real_;
};

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

// The messages start-up would show when it checks the images of the package
// in `folder`; none when it would accept them.
std::vector<std::string> CheckUnpackedImages(const fs::path& folder, package::DownloadOptions options) {
    UnpackedView view(folder);
    for (const package::PackageFile& file : package::FirstVariantFiles(options)) {
        view.Add(file.file, file.outside.empty() ? folder / file.file : file.outside);
    }
    // Start-up names the plan's files by their path in the working folder,
    // those copied from outside too.
    for (std::string& entry : options.FastbootFileNameList) {
        if (entry == "erase") continue;
        const size_t separator = entry.find_last_of("\\/");
        if (separator != std::string::npos) entry.erase(0, separator + 1);
    }
    platform::ScriptedDialogs dialogs;
    package::CheckImages({view, dialogs}, options, folder.lexically_normal().string());
    // Every box start-up would show: a programmer that does not convert has
    // its own before the check that then fails.
    std::vector<std::string> shown;
    for (const platform::ScriptedDialogs::Shown& box : dialogs.shown()) {
        std::string text = box.text;
        if (!text.empty() && text.back() == '\n') text.pop_back();
        shown.push_back(text);
    }
    return shown;
}

}  // namespace

bool CollectPackage(const fs::path& folder, package::DownloadOptions& options,
                    std::vector<platform::BundleFile>& files, std::vector<std::string>& problems) {
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
    package::DownloadOptions options;
    if (!CollectPackage(from, options, files, problems)) {
        err << "firmora-pack: the package in " << from << " is not complete; nothing was written:\n";
        for (const std::string& problem : problems) err << "  " << problem << '\n';
        return 1;
    }
    if (const std::vector<std::string> refused = CheckUnpackedImages(from, options); !refused.empty()) {
        err << "firmora-pack: the images in " << from << " would be refused at start-up; nothing was written:\n";
        for (const std::string& message : refused) err << "  " << message << '\n';
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
