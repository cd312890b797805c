#pragma once
// CRC-16/X-25: the frame check sequence of asynchronous HDLC (RFC 1662) that
// guards every DIAG frame. Reflected polynomial 0x8408, register preset to
// 0xFFFF, ones' complement of the register as the result. Pure functions, so
// the device side of a simulated modem can use them as well as the tool.

#include <cstdint>
#include <span>

namespace firmora::link {

inline constexpr uint16_t kCrc16X25Polynomial = 0x8408;  // 0x1021 bit-reflected
inline constexpr uint16_t kCrc16X25Init = 0xFFFF;
// What the register holds after it has run over a packet and its own
// (complemented, low byte first) CRC: the mark of an intact frame.
inline constexpr uint16_t kCrc16X25GoodResidue = 0xF0B8;

// Runs one byte through the register (no final complement).
uint16_t Crc16X25Step(uint16_t reg, uint8_t byte);
// Runs bytes through the register (no final complement).
uint16_t Crc16X25Update(uint16_t reg, std::span<const uint8_t> bytes);
// The CRC of `bytes`: preset, run, complement. It is sent low byte first.
uint16_t Crc16X25(std::span<const uint8_t> bytes);

}  // namespace firmora::link
