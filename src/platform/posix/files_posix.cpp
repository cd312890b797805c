#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <system_error>

#include "platform/files.h"
#include "platform/last_error.h"

namespace firmora::platform {
namespace {

bool Fail(int error) {
    SetLastError(static_cast<uint32_t>(error));
    return false;
}

bool WriteAll(int fd, std::string_view content) {
    const char* data = content.data();
    size_t left = content.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        data += written;
        left -= static_cast<size_t>(written);
    }
    return true;
}

// The process's file-creation mask, read without changing it: umask(2) can
// only be read by setting it, which would race with other threads creating
// files. When it cannot be read, assume the strictest mask.
mode_t CurrentUmask() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("Umask:", 0) == 0) {
            return static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8) & 0777);
        }
    }
    return 077;
}

// A symbolic link is followed so that the file it names is replaced, not the link.
std::filesystem::path ResolveTarget(const std::filesystem::path& path) {
    std::error_code error;
    if (!std::filesystem::is_symlink(path, error)) return path;
    std::filesystem::path target = std::filesystem::weakly_canonical(path, error);
    return error ? path : target;
}

void SyncFolder(const std::filesystem::path& folder) {
    const int fd = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

}  // namespace

bool ReplaceFileAtomically(const std::filesystem::path& requested, std::string_view content) {
    const std::filesystem::path path = ResolveTarget(requested);
    std::filesystem::path folder = path.parent_path();
    if (folder.empty()) folder = ".";

    mode_t mode;
    struct stat existing {};
    if (::stat(path.c_str(), &existing) == 0) {
        if (!S_ISREG(existing.st_mode)) return Fail(S_ISDIR(existing.st_mode) ? EISDIR : EINVAL);
        mode = existing.st_mode & 0777;
    } else if (errno == ENOENT) {
        mode = 0644 & ~CurrentUmask();
    } else {
        return Fail(errno);
    }

    std::string temporary = (folder / ("." + path.filename().string() + ".XXXXXX")).string();
    // O_CLOEXEC: the tool starts external programs, which must not inherit the file.
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) return Fail(errno);

    int error = 0;
    if (::fchmod(fd, mode) != 0 || !WriteAll(fd, content) || ::fsync(fd) != 0) error = errno;
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return Fail(error);
    }
    // The new file is in place from here on; flushing the folder entry makes
    // the rename survive a power loss, but a folder that cannot be flushed
    // does not undo the replacement, so it is no failure.
    SyncFolder(folder);
    return true;
}

std::optional<std::string> ReadWholeFile(const std::filesystem::path& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        SetLastError(static_cast<uint32_t>(errno));
        return std::nullopt;
    }
    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            const int error = errno;
            ::close(fd);
            SetLastError(static_cast<uint32_t>(error));
            return std::nullopt;
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
    }
    ::close(fd);
    return content;
}

}  // namespace firmora::platform
