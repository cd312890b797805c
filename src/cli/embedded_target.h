#pragma once
// What the package this program carries runs over, for every front end of
// the main window (the command line's and the desktop window's): the
// package itself, the target's seams (a modem, or the virtual modem with
// --simulate), this machine's files, folders and named locks.

#include <memory>
#include <string>

#include "app/flash_application.h"
#include "cli/run_platform.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "platform/posix/posix_processes.h"

namespace firmora::cli {

// The target's programs (the virtual modem's, when simulated) with this
// machine's named locks: a second firmora, simulated or not, is refused
// while one runs, as both would use the same working folder.
class MachineLockedProcesses final : public platform::Processes {
public:
    MachineLockedProcesses(platform::Processes& programs, platform::Processes& locks)
        : programs_(programs), locks_(locks) {}
    bool StartHidden(const std::filesystem::path& program) override { return programs_.StartHidden(program); }
    std::vector<platform::ProcessInfo> List() override { return programs_.List(); }
    uint32_t OwnId() override { return programs_.OwnId(); }
    bool Terminate(uint32_t processId) override { return programs_.Terminate(processId); }
    std::unique_ptr<platform::NamedLock> CreateNamedLock(const std::string& name, bool& alreadyExisted) override {
        return locks_.CreateNamedLock(name, alreadyExisted);
    }

private:
    platform::Processes& programs_;
    platform::Processes& locks_;
};

class EmbeddedTarget {
public:
    // Null when the program carries no package (`problem` says why, the exit
    // status is a failure) or the target cannot be opened (as RunPlatform::Open).
    static std::unique_ptr<EmbeddedTarget> Open(const RunOptions& options, std::string& problem, int& exitCode);

    // The application's seams over this target, with the front end's boxes and trace.
    app::ApplicationServices Services(platform::Dialogs& dialogs, const preserve::ProductNvTables& tables,
                                      core::LineLog& trace, platform::DeviceEnumerator* devices = nullptr);

    RunPlatform& target() { return *target_; }
    platform::Files& files() { return files_; }
    platform::Paths& paths() { return paths_; }

private:
    EmbeddedTarget(std::unique_ptr<platform::ResourceBundle> bundle, std::unique_ptr<RunPlatform> target);

    std::unique_ptr<platform::ResourceBundle> bundle_;
    std::unique_ptr<RunPlatform> target_;
    platform::PosixFiles files_;
    platform::PosixPaths paths_;
    platform::PosixProcesses machineLocks_;
    MachineLockedProcesses processes_;
};

}  // namespace firmora::cli
