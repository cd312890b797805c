#pragma once
// The tool's own files on the machine: the reads and writes whose exact
// behaviour matters (backups, settings, Config.ini, the NV tables).

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace firmora::platform {

inline constexpr uint64_t kMebibyte = 1024 * 1024;

// What a path names, its last part not followed when it is a symbolic link.
enum class FileKind { Missing, Regular, Folder, Link, Other };

// One entry of a folder listing, its kind taken as KindOf gives it.
struct FolderEntry {
    std::string name;
    FileKind kind = FileKind::Other;
};

// Why a read gave no content.
enum class ReadRefusal { None, Missing, Link, NotRegular, TooLarge, Failed };

// Bytes read in pieces, so that a large file is written without being held
// whole.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills the front of `buffer`: the count read, 0 at the end, -1 when the
    // bytes cannot be read (then Error() says why).
    virtual int64_t Read(std::span<char> buffer) = 0;
    virtual std::string Error() const = 0;
};

class Files {
public:
    virtual ~Files() = default;

    // Replaces `path` with `content` so that a reader sees either the old
    // file or the new one, never a part. A symbolic link is followed, so the
    // file it names is replaced. False on failure (LastError set); the old
    // file then stays as it was.
    virtual bool ReplaceAtomically(const std::filesystem::path& path, std::string_view content) = 0;

    // The whole content of a regular file of at most `maxBytes`. A symbolic
    // link as the last part of the path is not followed, and a device, FIFO,
    // folder or larger file is refused before anything is read from it.
    // nullopt with `refusal` (and LastError) set otherwise.
    virtual std::optional<std::string> ReadWhole(const std::filesystem::path& path, uint64_t maxBytes,
                                                 ReadRefusal& refusal) = 0;

    // Replaces `path` with all the bytes of `source`, as ReplaceAtomically
    // does, but without flushing them to the device: for files that are
    // made anew at every start (the unpacked package), where a power loss
    // costs nothing but a rewrite. False when the source fails or the file
    // cannot be written; the old file then stays and no partial one is left.
    virtual bool ReplaceFromSource(const std::filesystem::path& path, ByteSource& source) = 0;

    virtual FileKind KindOf(const std::filesystem::path& path) = 0;

    // The entries of a folder ("." and ".." left out), ordered by name so
    // that every scan of the same folder meets them in the same order;
    // nullopt when it cannot be listed. Standard library by default.
    virtual std::optional<std::vector<FolderEntry>> ListFolder(const std::filesystem::path& folder);

    // The size of a regular file, a symbolic link as the last part not
    // followed; nullopt for anything else. Standard library by default.
    virtual std::optional<uint64_t> SizeOf(const std::filesystem::path& path);
};

// The sentence for a refused read: the file and the reason.
std::string RefusalSentence(const std::filesystem::path& path, ReadRefusal refusal, uint64_t maxBytes);

// ReadWhole with, on failure, a sentence naming the file and the reason
// ("... is larger than 4194304 bytes").
std::optional<std::string> ReadFileUpTo(Files& files, const std::filesystem::path& path, uint64_t maxBytes,
                                        std::string& error);

// The bytes of the file at `path` read in pieces; nullptr with `error` when
// it cannot be opened.
std::unique_ptr<ByteSource> ReadInPieces(const std::filesystem::path& path, std::string& error);

}  // namespace firmora::platform
