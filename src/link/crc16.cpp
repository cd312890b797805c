#include "link/crc16.h"

#include <array>

namespace firmora::link {

namespace {

constexpr std::array<uint16_t, 256> MakeTable() {
    std::array<uint16_t, 256> table{};
    for (unsigned i = 0; i < table.size(); ++i) {
        uint16_t reg = static_cast<uint16_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 1u) ? static_cast<uint16_t>((reg >> 1) ^ kCrc16X25Polynomial)
                             : static_cast<uint16_t>(reg >> 1);
        }
        table[i] = reg;
    }
    return table;
}

constexpr std::array<uint16_t, 256> kTable = MakeTable();

}  // namespace

uint16_t Crc16X25Step(uint16_t reg, uint8_t byte) {
    return static_cast<uint16_t>((reg >> 8) ^ kTable[(reg ^ byte) & 0xFFu]);
}

uint16_t Crc16X25Update(uint16_t reg, std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) reg = Crc16X25Step(reg, byte);
    return reg;
}

uint16_t Crc16X25(std::span<const uint8_t> bytes) {
    return static_cast<uint16_t>(~Crc16X25Update(kCrc16X25Init, bytes));
}

}  // namespace firmora::link
