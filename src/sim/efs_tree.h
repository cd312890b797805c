#pragma once
// EfsTree: the simulated device's embedded file system, in memory. Files and
// folders with modes, sizes, link counts and times; the descriptors and
// folder listings the device hands out; and every operation answering with
// the error number a real device gives (0 when done).
//
// Paths are slash-separated and relative to the root; a leading slash,
// doubled slashes, a trailing slash and "." components are ignored, so
// "/nv//item_files/rfnv/" and "nv/item_files/rfnv" name the same folder.

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace firmora::sim {

// Error numbers the device reports.
inline constexpr int32_t kEfsOk = 0;
inline constexpr int32_t kEfsENOENT = 2;
inline constexpr int32_t kEfsEBADF = 9;
inline constexpr int32_t kEfsEBUSY = 16;
inline constexpr int32_t kEfsEEXIST = 17;
inline constexpr int32_t kEfsENOTDIR = 20;
inline constexpr int32_t kEfsEISDIR = 21;
inline constexpr int32_t kEfsEINVAL = 22;
inline constexpr int32_t kEfsEMFILE = 24;
inline constexpr int32_t kEfsENOSPC = 28;
inline constexpr int32_t kEfsENAMETOOLONG = 36;
inline constexpr int32_t kEfsENOTEMPTY = 39;

// Open flags.
inline constexpr uint32_t kEfsOpenAccessMask = 0x003;  // 0 read only, 1 write only, 2 read and write
inline constexpr uint32_t kEfsOpenCreate = 0x040;
inline constexpr uint32_t kEfsOpenExclusive = 0x080;
inline constexpr uint32_t kEfsOpenTruncate = 0x200;
inline constexpr uint32_t kEfsOpenAppend = 0x400;

// File type bits of a mode; the low nine bits are the permissions.
inline constexpr uint32_t kEfsTypeFile = 0x8000;
inline constexpr uint32_t kEfsTypeFolder = 0x4000;
inline constexpr uint32_t kEfsPermissionBits = 0x1FF;
inline constexpr uint32_t kEfsFileMode = kEfsTypeFile | 0x1B6;      // 0x81B6
inline constexpr uint32_t kEfsFolderMode = kEfsTypeFolder | 0x1FF;  // 0x41FF

struct EfsStat {
    uint32_t mode = 0;
    uint32_t size = 0;
    uint32_t linkCount = 0;
    uint32_t accessTime = 0, modifyTime = 0, changeTime = 0;
};

struct EfsEntry {
    std::string name;
    bool folder = false;
    EfsStat stat;
};

class EfsTree {
public:
    // Longest path and most bytes one read gives.
    static constexpr size_t kMaxPathBytes = 1024;
    static constexpr uint32_t kMaxReadBytes = 1024;
    static constexpr size_t kMaxDescriptors = 32;
    static constexpr size_t kMaxListings = 8;
    static constexpr uint64_t kDefaultCapacityBytes = 32ull << 20;
    static constexpr uint32_t kDefaultEpoch = 1577836800;  // 2020-01-01 00:00:00 UTC

    // `epoch`: the time stamp (seconds) at device time 0; `capacity`: bytes
    // all files together may hold before writes fail with ENOSPC.
    explicit EfsTree(uint32_t epoch = kDefaultEpoch, uint64_t capacity = kDefaultCapacityBytes);

    // "a//b/./c/" -> "a/b/c"; the root is "".
    static std::string Normalize(std::string_view path);

    // Setting up and inspecting (no descriptors, times at the epoch). Both
    // create missing parent folders; AddFile replaces a file. False when a
    // file stands where a folder must be, or the other way round.
    bool AddFolder(std::string_view path);
    bool AddFile(std::string_view path, std::vector<uint8_t> content);
    bool IsFile(std::string_view path) const;
    bool IsFolder(std::string_view path) const;
    std::optional<std::vector<uint8_t>> FileContent(std::string_view path) const;
    // The names in a folder, in listing order.
    std::vector<std::string> Names(std::string_view folder) const;
    uint64_t UsedBytes() const;
    uint64_t capacity() const { return capacity_; }

    // Operations as the device carries them out. `nowMs` is the device's
    // time, which stamps what changes.
    struct OpenResult {
        int32_t fd;  // -1 on failure
        int32_t err;
    };
    // The first free descriptor, counting from 0.
    OpenResult Open(std::string_view path, uint32_t flags, uint32_t mode, uint64_t nowMs);
    int32_t Close(int32_t fd);
    struct ReadResult {
        int32_t count;  // -1 on failure
        int32_t err;
        std::vector<uint8_t> data;
    };
    // At most kMaxReadBytes from `offset`; nothing at or past the end.
    ReadResult Read(int32_t fd, uint32_t offset, uint32_t count, uint64_t nowMs);
    struct WriteResult {
        int32_t count;  // bytes written; -1 when none could be
        int32_t err;    // ENOSPC when not all of them fit
    };
    // Writes at `offset` (at the end with the append flag); a gap before it
    // reads as zeros.
    WriteResult Write(int32_t fd, uint32_t offset, std::span<const uint8_t> data, uint64_t nowMs);
    int32_t Unlink(std::string_view path, uint64_t nowMs);
    int32_t MakeDir(std::string_view path, uint32_t mode, uint64_t nowMs);
    // Only an empty folder.
    int32_t RemoveDir(std::string_view path, uint64_t nowMs);
    struct StatResult {
        int32_t err;
        EfsStat stat;  // zeros on failure
    };
    StatResult Stat(std::string_view path) const;

    // Folder listings: the entries as they were when the listing was opened.
    struct OpenDirResult {
        uint32_t handle;  // 0 on failure
        int32_t err;
    };
    // The first free handle, counting from 1.
    OpenDirResult OpenDir(std::string_view path);
    struct ReadDirResult {
        int32_t err;
        std::optional<EfsEntry> entry;  // none past the last entry
    };
    // Entry `sequence` of the listing, counting from 1, so asking again for
    // the same sequence number gives the same entry.
    ReadDirResult ReadDir(uint32_t handle, uint32_t sequence) const;
    int32_t CloseDir(uint32_t handle);

    // The path an open descriptor or listing refers to.
    std::optional<std::string> DescriptorPath(int32_t fd) const;
    std::optional<std::string> ListingPath(uint32_t handle) const;
    size_t OpenDescriptors() const { return descriptors_.size(); }
    size_t OpenListings() const { return listings_.size(); }
    // A restart of the device: every descriptor and listing goes away.
    void CloseAll();

private:
    struct Node {
        bool folder = false;
        uint32_t mode = 0;
        std::vector<uint8_t> content;
        uint32_t accessTime = 0, modifyTime = 0, changeTime = 0;
    };
    struct Descriptor {
        std::string path;
        uint32_t flags;
    };
    struct Listing {
        std::string path;
        std::vector<EfsEntry> entries;
    };

    uint32_t Seconds(uint64_t nowMs) const;
    // The node at a normalised path (the root is a folder outside the map).
    const Node* Find(const std::string& path) const;
    Node* Find(const std::string& path);
    // 0 when the parent of `path` is a folder, else ENOENT or ENOTDIR.
    int32_t ParentError(const std::string& path) const;
    // The key prefix of everything below a folder ("" for the root).
    static std::string Below(const std::string& folder);
    bool HasChildren(const std::string& folder) const;
    template <typename Fn>
    void ForEachChild(const std::string& folder, Fn&& fn) const;
    EfsStat StatOf(const std::string& path, const Node& node) const;
    void Touch(const std::string& path, uint32_t seconds);
    bool IsOpen(const std::string& path) const;

    uint32_t epoch_;
    uint64_t capacity_;
    Node root_;
    // Normalised path -> node. The keys below a folder (its path and a
    // slash) are neighbours in key order.
    std::map<std::string, Node> nodes_;
    std::map<int32_t, Descriptor> descriptors_;
    std::map<uint32_t, Listing> listings_;
};

}  // namespace firmora::sim
