#pragma once
// EFS2 packets of the DIAG protocol: the requests the tool sends to the
// device's embedded file system and accessors for the replies. Requests are
// packets before framing; every number is 32-bit little-endian unless noted.
// Reply accessors check the header (4B 13 and the sub-command) and the
// length, and give nothing for a reply that is too short to hold the field.

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace firmora::link {

inline constexpr uint8_t kDiagSubsystemCommand = 0x4B;
inline constexpr uint8_t kDiagSubsystemEfs2 = 0x13;

// EFS2 sub-commands (16-bit, after 4B 13).
enum class EfsCommand : uint16_t {
    Open = 0x02,
    Close = 0x03,
    Read = 0x04,
    Write = 0x05,
    Unlink = 0x08,
    MakeDir = 0x09,
    RemoveDir = 0x0A,
    OpenDir = 0x0B,
    ReadDir = 0x0C,
    CloseDir = 0x0D,
    Stat = 0x0F,
    Probe = 0x13,  // sent before a file is opened for writing
};

// The tool keeps at most one file and one folder listing open, and relies on
// the device handing out exactly these.
inline constexpr uint32_t kEfsFileDescriptor = 0;
inline constexpr uint32_t kEfsDirHandle = 1;

inline constexpr uint32_t kEfsOpenReadFlags = 0x000;   // read only
inline constexpr uint32_t kEfsOpenReadMode = 0x124;
inline constexpr uint32_t kEfsOpenWriteFlags = 0x241;  // write, create, truncate
inline constexpr uint32_t kEfsOpenWriteMode = 0x1B6;
inline constexpr uint16_t kEfsMakeDirMode = 0x01FF;

// Mode of a folder entry as the device lists it.
inline constexpr uint16_t kEfsModePlainFile = 0x81B6;
inline constexpr uint16_t kEfsModeFolder = 0x41FF;

// Error numbers the operations tell apart.
inline constexpr int32_t kEfsNoSuchPath = 2;
inline constexpr int32_t kEfsFolderExists = 6;

// The longest device path a request carries (a device answers "name too
// long" beyond it); a path holding a zero byte would end early.
inline constexpr size_t kEfsMaxPathBytes = 1024;
bool EfsPathFits(std::string_view path);

// Requests.
std::vector<uint8_t> EfsOpenRequest(uint32_t flags, uint32_t mode, std::string_view path);
// The file operations name the descriptor the device handed out; the tool
// itself always has kEfsFileDescriptor.
std::vector<uint8_t> EfsCloseRequest(uint32_t fd = kEfsFileDescriptor);
// Read `count` bytes at `offset` from the open file.
std::vector<uint8_t> EfsReadRequest(uint32_t count, uint32_t offset, uint32_t fd = kEfsFileDescriptor);
std::vector<uint8_t> EfsWriteRequest(uint32_t offset, std::span<const uint8_t> data,
                                     uint32_t fd = kEfsFileDescriptor);
std::vector<uint8_t> EfsUnlinkRequest(std::string_view path);
std::vector<uint8_t> EfsMakeDirRequest(std::string_view path);
std::vector<uint8_t> EfsRemoveDirRequest(std::string_view path);
std::vector<uint8_t> EfsOpenDirRequest(std::string_view path);
// Sequence numbers count 1, 2, 3 ...; only one byte of them is ever set.
std::vector<uint8_t> EfsReadDirRequest(uint8_t sequence);
std::vector<uint8_t> EfsCloseDirRequest();
std::vector<uint8_t> EfsStatRequest(std::string_view path);
std::vector<uint8_t> EfsProbeRequest();

// Replies. `reply` is the packet without its CRC.
bool IsEfsReply(std::span<const uint8_t> reply, EfsCommand command);
// The 32-bit little-endian word at `offset`, if the reply holds it.
std::optional<uint32_t> ReplyWord(std::span<const uint8_t> reply, size_t offset);
// The error number at byte 4 of a close, unlink, make-folder, remove-folder,
// close-listing or probe reply.
std::optional<int32_t> EfsReplyErrno(std::span<const uint8_t> reply, EfsCommand command);

struct EfsOpenReply {
    int32_t fd;
    int32_t err;
};
std::optional<EfsOpenReply> ParseEfsOpenReply(std::span<const uint8_t> reply);

struct EfsReadReply {
    uint32_t fd;
    uint32_t offset;
    int32_t bytesRead;
    int32_t err;
    // Everything after the 20 header bytes (a sound device sends bytesRead of
    // them); a view into the parsed reply, valid as long as the reply is.
    std::span<const uint8_t> data;
};
std::optional<EfsReadReply> ParseEfsReadReply(std::span<const uint8_t> reply);

struct EfsWriteReply {
    uint32_t fd;
    uint32_t offset;
    int32_t bytesWritten;
    int32_t err;
};
std::optional<EfsWriteReply> ParseEfsWriteReply(std::span<const uint8_t> reply);

struct EfsStatReply {
    int32_t err;
    uint32_t mode;
    uint32_t size;
    uint32_t linkCount;
};
// Needs the fields up to the link count; the time stamps after it are not used.
std::optional<EfsStatReply> ParseEfsStatReply(std::span<const uint8_t> reply);

struct EfsOpenDirReply {
    uint32_t dirHandle;
    int32_t err;
};
std::optional<EfsOpenDirReply> ParseEfsOpenDirReply(std::span<const uint8_t> reply);

struct EfsReadDirReply {
    uint32_t dirHandle;
    uint32_t sequence;
    int32_t err;
    uint32_t entryType;  // 0 file, 1 folder
    uint32_t mode;
    uint32_t size;
    uint32_t accessTime, modifyTime, changeTime;
    // From byte 40 up to its terminating zero (or the end of the reply).
    std::string name;
};
// Needs the fixed fields up to byte 40; a reply without a name gives an empty one.
std::optional<EfsReadDirReply> ParseEfsReadDirReply(std::span<const uint8_t> reply);

// One reply of a folder listing as the removal of a folder of plain files
// reads it. The mode is the 16 bits at byte 20; the listing ends with the
// first entry without one (either byte zero).
struct ListingEntry {
    enum class Kind {
        End,        // no mode: the listing is over
        Folder,     // a subfolder
        Other,      // neither a plain file nor a folder: skipped
        PlainFile,  // `name` is the file's
        Unusable,   // not a listing reply, or a plain file without a usable name
    };
    Kind kind;
    std::string name;
};
// A plain file's name must be one entry of the folder, no longer than
// `maxNameBytes`: the tool removes it as "<folder>/<name>", and a name such
// as "../x" or "a/b" would reach a file elsewhere.
ListingEntry ReadListingEntry(std::span<const uint8_t> reply, size_t maxNameBytes);

}  // namespace firmora::link
