#include "platform/posix/posix_paths.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <system_error>
#include <vector>

#include "platform/last_error.h"

namespace firmora::platform {
namespace {

std::filesystem::path Fail(int error) {
    SetLastError(static_cast<uint32_t>(error));
    return {};
}

bool IsOwnerOnlyFolder(const std::string& folder, uid_t uid) {
    struct stat info {};
    return ::lstat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && info.st_uid == uid &&
           (info.st_mode & 077) == 0;
}

// Creates `folder` owner-only when missing and makes sure that what is there
// is a real folder of ours, never a link another user planted or a folder
// somebody else owns. Opened without following links and checked through the
// open descriptor, so that nothing can be swapped in between check and use.
std::filesystem::path PreparePrivateFolder(const std::filesystem::path& folder, uid_t uid) {
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return Fail(errno);
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return Fail(errno == ELOOP ? ENOTDIR : errno);
    struct stat info {};
    int error = 0;
    if (::fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISDIR(info.st_mode)) {
        error = ENOTDIR;
    } else if (info.st_uid != uid) {
        error = EACCES;
    } else if ((info.st_mode & 077) != 0 && ::fchmod(fd, 0700) != 0) {
        error = errno;
    }
    ::close(fd);
    return error != 0 ? Fail(error) : folder;
}

}  // namespace

std::optional<std::string> SystemEnvironment(const char* name) {
    const char* value = std::getenv(name);
    return value ? std::optional<std::string>(value) : std::nullopt;
}

std::optional<std::string> NonEmptyVariable(const EnvLookup& env, const char* name) {
    std::optional<std::string> value = env(name);
    if (!value || value->empty()) return std::nullopt;
    return value;
}

std::optional<std::string> XdgFolderVariable(const EnvLookup& env, const char* name) {
    std::optional<std::string> value = NonEmptyVariable(env, name);
    if (!value || value->front() != '/') return std::nullopt;
    return value;
}

std::filesystem::path HomeFolder(const EnvLookup& env) {
    if (std::optional<std::string> home = NonEmptyVariable(env, "HOME")) return *home;
    long size = ::sysconf(_SC_GETPW_R_SIZE_MAX);
    std::vector<char> buffer(size > 0 ? static_cast<size_t>(size) : 16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(::geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found &&
        found->pw_dir && found->pw_dir[0] != '\0') {
        return found->pw_dir;
    }
    return {};
}

PosixPaths::PosixPaths(EnvLookup env) : env_(std::move(env)) {}

std::filesystem::path PosixPaths::TempFolder() {
    const uid_t uid = ::geteuid();
    if (std::optional<std::string> runtime = XdgFolderVariable(env_, "XDG_RUNTIME_DIR");
        runtime && IsOwnerOnlyFolder(*runtime, uid)) {
        return PreparePrivateFolder(std::filesystem::path(*runtime) / "firmora", uid);
    }
    const std::string base = NonEmptyVariable(env_, "TMPDIR").value_or("/tmp");
    return PreparePrivateFolder(std::filesystem::path(base) / ("firmora-" + std::to_string(uid)),
                                uid);
}

std::filesystem::path PosixPaths::SystemRoot() {
    std::filesystem::path root;
    if (std::optional<std::string> explicitRoot = NonEmptyVariable(env_, "FIRMORA_SYSTEM_ROOT")) {
        root = *explicitRoot;
    } else if (std::optional<std::string> state = XdgFolderVariable(env_, "XDG_STATE_HOME")) {
        root = std::filesystem::path(*state) / "firmora" / "root";
    } else {
        const std::filesystem::path home = HomeFolder(env_);
        if (home.empty()) return Fail(ENOENT);
        root = home / ".local" / "state" / "firmora" / "root";
    }
    std::error_code error;
    std::filesystem::create_directories(root, error);
    if (error) return Fail(error.value());
    return root;
}

std::filesystem::path PosixPaths::ProgramFolder() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return Fail(error.value());
    return program.parent_path();
}

}  // namespace firmora::platform
