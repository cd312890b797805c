#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <system_error>

#include "platform/last_error.h"
#include "platform/posix/posix_files.h"

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

namespace {

// Writes the new content through `write` into a temporary file beside `path`
// and renames it over `path`; flushed to the device first when `durable`.
template <typename Write>
bool ReplaceWith(const std::filesystem::path& requested, Write&& write, bool durable) {
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
    if (::fchmod(fd, mode) != 0 || !write(fd, error) || (durable && ::fsync(fd) != 0)) {
        if (error == 0) error = errno != 0 ? errno : EIO;
    }
    if (::close(fd) != 0 && error == 0) error = errno;
    if (error == 0 && ::rename(temporary.c_str(), path.c_str()) != 0) error = errno;
    if (error != 0) {
        ::unlink(temporary.c_str());
        return Fail(error);
    }
    // The new file is in place from here on; flushing the folder entry makes
    // the rename survive a power loss, but a folder that cannot be flushed
    // does not undo the replacement, so it is no failure.
    if (durable) SyncFolder(folder);
    return true;
}

}  // namespace

bool PosixFiles::ReplaceAtomically(const std::filesystem::path& path, std::string_view content) {
    return ReplaceWith(
        path, [&](int fd, int& error) { return WriteAll(fd, content) || (error = errno, false); }, true);
}

bool PosixFiles::ReplaceFromSource(const std::filesystem::path& path, ByteSource& source) {
    // Large enough that a read and a write cost little per byte, small
    // enough to stay in the processor's cache between the read, the
    // source's checksum and the write (1 MiB pieces were 40 % slower).
    constexpr size_t kChunk = 128 * 1024;
    const auto buffer = std::make_unique<char[]>(kChunk);
    return ReplaceWith(
        path,
        [&](int fd, int& error) {
            for (;;) {
                const int64_t got = source.Read(std::span<char>(buffer.get(), kChunk));
                if (got == 0) return true;
                if (got < 0) {
                    error = EIO;
                    return false;
                }
                if (!WriteAll(fd, std::string_view(buffer.get(), static_cast<size_t>(got)))) {
                    error = errno;
                    return false;
                }
            }
        },
        false);
}

std::optional<std::string> PosixFiles::ReadWhole(const std::filesystem::path& path, uint64_t maxBytes,
                                                 ReadRefusal& refusal) {
    const auto refuse = [&](ReadRefusal why, int error) -> std::optional<std::string> {
        refusal = why;
        SetLastError(static_cast<uint32_t>(error));
        return std::nullopt;
    };
    // Judged before opening: opening a device or a FIFO can block or act on
    // the device. The opened file is judged again, in case the path changed.
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return refuse(errno == ENOENT ? ReadRefusal::Missing : ReadRefusal::Failed, errno);
    }
    if (S_ISLNK(info.st_mode)) return refuse(ReadRefusal::Link, ELOOP);
    if (!S_ISREG(info.st_mode)) return refuse(ReadRefusal::NotRegular, S_ISDIR(info.st_mode) ? EISDIR : EINVAL);

    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        const int error = errno;
        if (error == ELOOP) return refuse(ReadRefusal::Link, error);
        return refuse(error == ENOENT ? ReadRefusal::Missing : ReadRefusal::Failed, error);
    }
    const auto closeAnd = [&](ReadRefusal why, int error) {
        ::close(fd);
        return refuse(why, error);
    };
    if (::fstat(fd, &info) != 0) return closeAnd(ReadRefusal::Failed, errno);
    if (!S_ISREG(info.st_mode)) return closeAnd(ReadRefusal::NotRegular, EINVAL);
    if (static_cast<uint64_t>(info.st_size) > maxBytes) return closeAnd(ReadRefusal::TooLarge, EFBIG);

    std::string content;
    char buffer[65536];
    for (;;) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0) {
            if (errno == EINTR) continue;
            return closeAnd(ReadRefusal::Failed, errno);
        }
        if (got == 0) break;
        content.append(buffer, static_cast<size_t>(got));
        // The file may have grown since it was measured.
        if (content.size() > maxBytes) return closeAnd(ReadRefusal::TooLarge, EFBIG);
    }
    ::close(fd);
    refusal = ReadRefusal::None;
    return content;
}

FileKind PosixFiles::KindOf(const std::filesystem::path& path) {
    struct stat info {};
    if (::lstat(path.c_str(), &info) != 0) {
        return errno == ENOENT || errno == ENOTDIR ? FileKind::Missing : FileKind::Other;
    }
    if (S_ISLNK(info.st_mode)) return FileKind::Link;
    if (S_ISREG(info.st_mode)) return FileKind::Regular;
    if (S_ISDIR(info.st_mode)) return FileKind::Folder;
    return FileKind::Other;
}

}  // namespace firmora::platform
