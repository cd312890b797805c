#pragma once
// The Processes seam on POSIX:
// - a program starts in a session of its own (no terminal, so Ctrl-C on the
//   tool's terminal does not reach it), without arguments, with standard
//   input, output and error on /dev/null, in its own folder, holding none of
//   the tool's other file descriptors (an open serial port stays ours); a
//   thread of its own waits for it, so it never lingers as a zombie;
// - the process list names each process by the file name of its executable
//   (/proc/<pid>/exe), or by its command name when that link cannot be read
//   (another user's process, a kernel thread);
//   and by its parent's id from /proc/<pid>/stat;
// - Terminate sends SIGTERM;
// - a named lock is an flock(2) on "<name>.lock" in the lock folder (the
//   user's private runtime folder): the kernel drops it when its holder ends,
//   however it ends.

#include <filesystem>

#include "platform/processes.h"

namespace firmora::platform {

class PosixProcesses final : public Processes {
public:
    // `lockFolder` holds the named locks' files (Paths::TempFolder()); with an
    // empty folder every CreateNamedLock fails with ENOENT.
    explicit PosixProcesses(std::filesystem::path lockFolder);

    bool StartHidden(const std::filesystem::path& program) override;
    std::vector<ProcessInfo> List() override;
    uint32_t OwnId() override;
    // False with ESRCH for an identifier that names no single process (0, or
    // one too large for a process id: kill(2) would read those as a process
    // group or as every process).
    bool Terminate(uint32_t processId) override;
    std::unique_ptr<NamedLock> CreateNamedLock(const std::string& name, bool& alreadyExisted) override;

    // The lock file a name stands for: characters other than letters, digits,
    // "-", "_" and "." become "_", so no name reaches outside the folder.
    std::filesystem::path LockFileFor(const std::string& name) const;

private:
    std::filesystem::path lockFolder_;
};

}  // namespace firmora::platform
