#pragma once
// The DIAG NV item packets, shared by the worker's own NV requests and the
// diagnostic library's client: command (0x26 read, 0x27 write), item number
// (2 bytes, little-endian), 128 data bytes, status (2 bytes, little-endian).
// A reply has the same layout, carrying the device's status.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace firmora::link {

inline constexpr uint8_t kDiagNvRead = 0x26;
inline constexpr uint8_t kDiagNvWrite = 0x27;
inline constexpr size_t kDiagNvItemBytes = 128;
inline constexpr size_t kDiagNvPacketBytes = 1 + 2 + kDiagNvItemBytes + 2;
using DiagNvPacket = std::array<uint8_t, kDiagNvPacketBytes>;

// A request; `data` beyond 128 bytes is ignored, short data is padded with zeros.
DiagNvPacket DiagNvRequest(uint8_t command, uint16_t item, std::span<const uint8_t> data, uint16_t status);
// A reply to exactly this request: its command, its item and every field.
bool IsDiagNvReplyTo(std::span<const uint8_t> reply, uint8_t command, uint16_t item);
// The status of a reply IsDiagNvReplyTo accepted.
uint16_t DiagNvReplyStatus(std::span<const uint8_t> reply);

}  // namespace firmora::link
