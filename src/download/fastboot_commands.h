#pragma once
// The fastboot commands the tool sends, with the write time-out of each, and
// the sizes that shape image transfers.

#include <cstdint>
#include <string>

namespace firmora::download {

// Image data are counted in chunks of this size: the byte counter, the gauge
// and the write-failure diagnostics move one chunk at a time.
inline constexpr uint32_t kChunkSize = 4096;
// They travel in bulk writes of up to this many whole chunks (the last write
// holds the remainder), each with the chunk write time-out. One transport
// message per chunk costs the device far more than the bytes themselves.
inline constexpr uint32_t kImageWriteBytes = 1024 * 1024;
static_assert(kImageWriteBytes % kChunkSize == 0);
inline constexpr uint32_t kChunkWriteTimeoutMs = 120000;
// One device message is one reply: a four-byte status ("OKAY", "FAIL",
// "DATA", or "INFO" for progress text before the answer) and up to 252 bytes
// of text. Every reply is read whole into a buffer of this size.
inline constexpr uint32_t kReplyBytes = 256;
inline constexpr uint32_t kReplyStatusBytes = 4;
// "download:" and the device's answer to it (INFO lines included).
inline constexpr uint32_t kHandshakeWriteTimeoutMs = 500;
inline constexpr uint32_t kHandshakeReplyTimeoutMs = 512;
// The answer to a flash, erase or reboot command (INFO lines included).
inline constexpr uint32_t kReplyTimeoutMs = 300000;
// What the worker waits after an erase that brought no "OKAY".
inline constexpr uint32_t kEraseReplyPauseMs = 5000;

inline constexpr uint32_t kFlashWriteTimeoutMs = 80000;   // "flash:", "erase:", "mutilflash:"
inline constexpr uint32_t kFixedFlashTimeoutMs = 60000;   // most fixed flash commands, "reboot"

// "download:" and the byte count as eight lower-case hexadecimal digits.
std::string DownloadCommand(uint32_t byteCount);
// "mutilflash:", the packet index as one digit (9 for every index past 9),
// ":" and the partition.
std::string PacketFlashCommand(const std::string& partition, uint32_t packetIndex);

// The nine single images' flash commands.
enum class FixedFlash { Boot, Primary, Secondary, Kernel, Ramdisk, System, Recovery, Userdata, Reckernel };

struct FixedFlashCommand {
    const char* command;    // "flash:boot"
    const char* name;       // the operation's name in reports
    uint32_t timeoutMs;
};

const FixedFlashCommand& CommandOf(FixedFlash flash);

// Images that travel in numbered packets, each committed with "mutilflash:".
enum class PacketStream {
    System,  // the system single image
    Entry,   // a packet-mode plan entry ("qdsp")
};

struct PacketLayout {
    const char* partition;
    uint32_t packetSize;
    uint32_t maxPackets;
};

const PacketLayout& LayoutOf(PacketStream stream);

}  // namespace firmora::download
