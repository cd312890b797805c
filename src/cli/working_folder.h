#pragma once
// The run's working folder, "TempFiles" in the user's private temporary
// folder: what a run's worker and the package's programs read besides the
// images. It is made fresh for one run and removed when the run is over:
// a copy of the package's Config.ini (the reset program writes its result
// into it), the library files the package folder holds, and our helper
// programs from beside the firmora program under the names the package uses.
// The images stay in the package folder. The folder's name is fixed (the
// run's bindings find their files by it), so one run at a time may hold it:
// a named lock says which.

#include <array>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/processes.h"

namespace firmora::cli {

inline constexpr const char* kWorkingFolderName = "TempFiles";

// Files of the package that the run's bindings look for in the working folder.
inline constexpr std::array<const char*, 3> kPackageLibraries = {"QMSL_MSVC10R.dll", "AdbWinApi.dll",
                                                                 "AdbWinUsbApi.dll"};

// A helper program as it is built beside firmora, and the name the package
// starts it by.
struct HelperProgram {
    const char* builtName;
    const char* packageName;
};
extern const std::array<HelperProgram, 3> kHelperPrograms;

class WorkingFolder {
public:
    // Takes the lock, makes `tempFolder`/TempFiles afresh (a folder left by
    // an earlier run that ended abruptly is removed first) and fills it. Null
    // with the reason in `problem` when another run holds it or it cannot be
    // made or filled.
    static std::unique_ptr<WorkingFolder> Prepare(platform::Processes& processes,
                                                  const std::filesystem::path& tempFolder,
                                                  const std::filesystem::path& configFile,
                                                  const std::filesystem::path& programFolder, std::string& problem);
    // Removes the folder with everything in it, then lets the lock go.
    ~WorkingFolder();
    WorkingFolder(const WorkingFolder&) = delete;
    WorkingFolder& operator=(const WorkingFolder&) = delete;

    const std::filesystem::path& path() const { return path_; }

private:
    WorkingFolder(std::unique_ptr<platform::NamedLock> lock, std::filesystem::path path)
        : lock_(std::move(lock)), path_(std::move(path)) {}
    std::unique_ptr<platform::NamedLock> lock_;
    std::filesystem::path path_;
};

}  // namespace firmora::cli
