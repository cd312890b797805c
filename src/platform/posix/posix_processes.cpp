#include "platform/posix/posix_processes.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <climits>
#include <fstream>
#include <optional>
#include <string_view>
#include <system_error>
#include <thread>

#include "platform/last_error.h"

extern char** environ;

namespace firmora::platform {
namespace {

constexpr int kFirstInheritedFd = 3;  // after standard input, output and error

bool Fail(int error) {
    SetLastError(static_cast<uint32_t>(error));
    return false;
}

// Releases the spawn attributes and file actions on every path out.
struct SpawnSetup {
    posix_spawn_file_actions_t actions{};
    posix_spawnattr_t attributes{};
    SpawnSetup() {
        posix_spawn_file_actions_init(&actions);
        posix_spawnattr_init(&attributes);
    }
    ~SpawnSetup() {
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
    }
    SpawnSetup(const SpawnSetup&) = delete;
    SpawnSetup& operator=(const SpawnSetup&) = delete;

    // 0 or the error of the first step that failed.
    int Prepare(const std::filesystem::path& folder) {
        int error = posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        if (error == 0) error = posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
        if (error == 0) error = posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        if (error == 0) error = posix_spawn_file_actions_addclosefrom_np(&actions, kFirstInheritedFd);
        if (error == 0) error = posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
        // Default dispositions and no blocked signals: the tool's own handlers
        // and masks (Ctrl-C as Stop) are not the program's.
        sigset_t all;
        sigset_t none;
        sigfillset(&all);
        sigemptyset(&none);
        if (error == 0) error = posix_spawnattr_setsigdefault(&attributes, &all);
        if (error == 0) error = posix_spawnattr_setsigmask(&attributes, &none);
        if (error == 0) {
            error = posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSID | POSIX_SPAWN_SETSIGDEF |
                                                              POSIX_SPAWN_SETSIGMASK);
        }
        return error;
    }
};

// Waits for the child on a thread of its own so that it is reaped whenever it
// ends, without the caller waiting. The thread needs nothing of ours.
void ReapWhenDone(pid_t pid) {
    try {
        std::thread([pid] {
            int status = 0;
            while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
            }
        }).detach();
    } catch (const std::system_error&) {
        // No thread to be had: the child is reaped when the tool ends.
    }
}

// The process id a /proc entry's name stands for; nullopt for other entries.
std::optional<uint32_t> ProcessIdOf(std::string_view name) {
    uint32_t id = 0;
    const auto [last, error] = std::from_chars(name.data(), name.data() + name.size(), id);
    if (error != std::errc() || last != name.data() + name.size() || id == 0) return std::nullopt;
    return id;
}

std::string ExecutableName(const std::string& processFolder) {
    std::error_code error;
    std::filesystem::path executable = std::filesystem::read_symlink(processFolder + "/exe", error);
    if (!error) {
        std::string name = executable.filename().string();
        constexpr std::string_view kDeleted = " (deleted)";  // the file was replaced or removed while it ran
        if (name.size() > kDeleted.size() && name.ends_with(kDeleted)) name.resize(name.size() - kDeleted.size());
        if (!name.empty()) return name;
    }
    std::string command;
    std::ifstream comm(processFolder + "/comm");
    std::getline(comm, command);
    return command;
}

// The parent's id from /proc/<pid>/stat: "pid (command) state ppid ...".
// The command may itself hold ")" and blanks, so the fields are read after
// its last ")". 0 when the entry cannot be read.
uint32_t ParentIdOf(const std::string& processFolder) {
    std::ifstream file(processFolder + "/stat");
    std::string stat;
    std::getline(file, stat);
    const size_t close = stat.rfind(')');
    if (close == std::string::npos || close + 4 > stat.size()) return 0;
    const size_t ppid = stat.find(' ', close + 2);  // after ") " and the state
    if (ppid == std::string::npos) return 0;
    uint32_t id = 0;
    const char* first = stat.data() + ppid + 1;
    std::from_chars(first, stat.data() + stat.size(), id);
    return id;
}

class FlockNamedLock final : public NamedLock {
public:
    explicit FlockNamedLock(int fd) : fd_(fd) {}
    ~FlockNamedLock() override { ::close(fd_); }  // closing the last descriptor releases the lock
    FlockNamedLock(const FlockNamedLock&) = delete;
    FlockNamedLock& operator=(const FlockNamedLock&) = delete;

private:
    int fd_;
};

}  // namespace

PosixProcesses::PosixProcesses(std::filesystem::path lockFolder) : lockFolder_(std::move(lockFolder)) {}

bool PosixProcesses::StartHidden(const std::filesystem::path& requested) {
    std::error_code ec;
    const std::filesystem::path program = std::filesystem::absolute(requested, ec);
    if (ec) return Fail(ec.value());
    SpawnSetup setup;
    if (const int error = setup.Prepare(program.parent_path()); error != 0) return Fail(error);
    std::string path = program.string();
    char* argv[] = {path.data(), nullptr};
    pid_t pid = 0;
    if (const int error = posix_spawn(&pid, path.c_str(), &setup.actions, &setup.attributes, argv, environ);
        error != 0) {
        return Fail(error);
    }
    ReapWhenDone(pid);
    return true;
}

std::vector<ProcessInfo> PosixProcesses::List() {
    std::vector<ProcessInfo> list;
    DIR* proc = ::opendir("/proc");
    if (!proc) {
        SetLastError(static_cast<uint32_t>(errno));
        return list;
    }
    while (const dirent* entry = ::readdir(proc)) {
        const std::optional<uint32_t> id = ProcessIdOf(entry->d_name);
        if (!id) continue;
        const std::string folder = std::string("/proc/") + entry->d_name;
        std::string name = ExecutableName(folder);
        if (name.empty()) continue;  // ended while we looked
        list.push_back({*id, std::move(name), ParentIdOf(folder)});
    }
    ::closedir(proc);
    return list;
}

uint32_t PosixProcesses::OwnId() { return static_cast<uint32_t>(::getpid()); }

bool PosixProcesses::Terminate(uint32_t processId) {
    if (processId == 0 || processId > static_cast<uint32_t>(INT_MAX)) return Fail(ESRCH);
    if (::kill(static_cast<pid_t>(processId), SIGTERM) != 0) return Fail(errno);
    return true;
}

std::filesystem::path PosixProcesses::LockFileFor(const std::string& name) const {
    std::string file = name;
    for (char& c : file) {
        const bool plain = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                           c == '-' || c == '_' || c == '.';
        if (!plain) c = '_';
    }
    return lockFolder_ / (file + ".lock");
}

std::unique_ptr<NamedLock> PosixProcesses::CreateNamedLock(const std::string& name, bool& alreadyExisted) {
    alreadyExisted = false;
    if (lockFolder_.empty()) {
        Fail(ENOENT);
        return nullptr;
    }
    const std::filesystem::path file = LockFileFor(name);
    const int fd = ::open(file.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) {
        Fail(errno);
        return nullptr;
    }
    int result;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0) {
        if (errno != EWOULDBLOCK) {
            Fail(errno);
            ::close(fd);
            return nullptr;
        }
        // Held elsewhere: like a named mutex opened a second time, the caller
        // still gets an object and learns that it was not first.
        alreadyExisted = true;
    }
    return std::make_unique<FlockNamedLock>(fd);
}

}  // namespace firmora::platform
