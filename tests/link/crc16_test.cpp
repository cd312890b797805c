#include "link/crc16.h"

#include <gtest/gtest.h>

#include <random>
#include <string_view>
#include <vector>

namespace firmora::link {
namespace {

std::span<const uint8_t> AsBytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

// Bit by bit, straight from the definition, to hold the table against.
uint16_t BitwiseCrc(std::span<const uint8_t> bytes) {
    uint16_t reg = 0xFFFF;
    for (uint8_t b : bytes) {
        reg ^= b;
        for (int i = 0; i < 8; ++i) reg = (reg & 1) ? (reg >> 1) ^ 0x8408 : reg >> 1;
    }
    return static_cast<uint16_t>(~reg);
}

TEST(Crc16X25, KnownValues) {
    EXPECT_EQ(Crc16X25(AsBytes("123456789")), 0x906E);
    EXPECT_EQ(Crc16X25({}), 0x0000);
    const uint8_t reset[] = {0x0B};
    EXPECT_EQ(Crc16X25(reset), 0x4EAB);
}

TEST(Crc16X25, TableAgreesWithTheBitwiseDefinition) {
    for (int value = 0; value < 256; ++value) {
        const uint8_t one[] = {static_cast<uint8_t>(value)};
        ASSERT_EQ(Crc16X25(one), BitwiseCrc(one)) << value;
    }
    std::mt19937 random(7);
    std::vector<uint8_t> packet(1500);
    for (auto& b : packet) b = static_cast<uint8_t>(random());
    EXPECT_EQ(Crc16X25(packet), BitwiseCrc(packet));
}

}  // namespace
}  // namespace firmora::link
