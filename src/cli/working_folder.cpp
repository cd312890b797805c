#include "cli/working_folder.h"

#include <system_error>

#include "app/flash_application.h"
#include "modeswitch/package_programs.h"

namespace firmora::cli {

namespace fs = std::filesystem;

const std::array<HelperProgram, 3> kHelperPrograms = {{
    {"firmora-swivlet", modeswitch::kSwivletProgram},
    {"firmora-rebootle", modeswitch::kRebootleProgram},
    {"firmora-drivlet", modeswitch::kDrivletProgram},
}};

namespace {

// Copies `from` when it is a regular file (through links); false with the
// reason when it is one and cannot be copied. Anything else is passed over.
bool CopyIfPresent(const fs::path& from, const fs::path& to, std::string& problem) {
    std::error_code ec;
    if (!fs::is_regular_file(from, ec)) return true;
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
        problem = "cannot copy " + from.string() + " into the working folder: " + ec.message();
        return false;
    }
    return true;
}

}  // namespace

std::unique_ptr<WorkingFolder> WorkingFolder::Prepare(platform::Processes& processes, const fs::path& tempFolder,
                                                      const fs::path& configFile, const fs::path& programFolder,
                                                      std::string& problem) {
    if (tempFolder.empty()) {
        problem = "the private temporary folder cannot be had";
        return nullptr;
    }
    const fs::path path = tempFolder / kWorkingFolderName;
    bool taken = false;
    std::unique_ptr<platform::NamedLock> lock = processes.CreateNamedLock(app::kWorkingFolderLock, taken);
    if (!lock || taken) {
        problem = taken ? "another firmora run is using the working folder " + path.string() + "; let it end first"
                        : "cannot lock the working folder " + path.string();
        return nullptr;
    }
    std::error_code ec;
    // A link in its place is removed, never followed.
    fs::remove_all(path, ec);
    if (ec || !fs::create_directory(path, ec)) {
        problem = "cannot make the working folder " + path.string() + (ec ? ": " + ec.message() : "");
        return nullptr;
    }
    // From here on the object owns the folder, so a failure below removes it.
    std::unique_ptr<WorkingFolder> folder(new WorkingFolder(std::move(lock), path));

    if (!fs::copy_file(configFile, path / "Config.ini", ec)) {
        problem = "cannot copy " + configFile.string() + " into the working folder: " + ec.message();
        return nullptr;
    }
    const fs::path packageFolder = configFile.parent_path();
    for (const char* library : kPackageLibraries) {
        if (!CopyIfPresent(packageFolder / library, path / library, problem)) return nullptr;
    }
    for (const HelperProgram& program : kHelperPrograms) {
        if (!CopyIfPresent(programFolder / program.builtName, path / program.packageName, problem)) return nullptr;
    }
    return folder;
}

WorkingFolder::~WorkingFolder() {
    std::error_code ec;
    fs::remove_all(path_, ec);
}

}  // namespace firmora::cli
