#include "link/hdlc_codec.h"

#include <gtest/gtest.h>

#include <random>

#include "fake_serial.h"
#include "link/crc16.h"

namespace firmora::link {
namespace {

using testing::Bytes;
using testing::Hex;

TEST(HdlcEncode, EdgeCasesByteForByte) {
    struct Case {
        Bytes packet;
        bool leadingFlag;
        Bytes frame;
    };
    const Case cases[] = {
        {{0x0B}, false, {0x0B, 0xAB, 0x4E, 0x7E}},
        {{0x0B}, true, {0x7E, 0x0B, 0xAB, 0x4E, 0x7E}},
        {{0x7C}, false, {0x7C, 0x93, 0x49, 0x7E}},
        {{0x03, 0x00, 0x03}, false, {0x03, 0x00, 0x03, 0x33, 0x1B, 0x7E}},
        // Reserved values in the packet, then in each CRC byte (0x937E, 0x7D38).
        {{0x7E, 0x7D}, false, [] {
             Bytes f = {0x7D, 0x5E, 0x7D, 0x5D};
             const uint8_t p[] = {0x7E, 0x7D};
             const uint16_t crc = Crc16X25(p);
             f.push_back(static_cast<uint8_t>(crc & 0xFF));
             f.push_back(static_cast<uint8_t>(crc >> 8));
             f.push_back(0x7E);
             return f;
         }()},
        {{0x60}, false, {0x60, 0x7D, 0x5E, 0x93, 0x7E}},
        {{0x19}, false, {0x19, 0x38, 0x7D, 0x5D, 0x7E}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Hex(EncodeHdlcFrame(c.packet, c.leadingFlag)), Hex(c.frame)) << Hex(c.packet);
    }
}

TEST(HdlcDecode, RoundTripsEveryByteValue) {
    std::mt19937 random(3);
    for (int round = 0; round < 50; ++round) {
        Bytes packet(1 + random() % 300);
        for (auto& b : packet) b = static_cast<uint8_t>(random() % 4 == 0 ? 0x7D + random() % 2 : random());
        const HdlcDecoded decoded = DecodeHdlcFrame(EncodeHdlcFrame(packet, round % 2 == 0));
        ASSERT_TRUE(decoded.ok());
        EXPECT_EQ(decoded.packet, packet);
    }
}

TEST(HdlcDecode, RefusesBrokenFrames) {
    Bytes badCrc = EncodeHdlcFrame(Bytes{0x4B, 0x13, 0x03, 0x00});
    badCrc[1] ^= 0x01;
    EXPECT_EQ(DecodeHdlcFrame(badCrc).error, HdlcError::BadCrc);
    EXPECT_EQ(DecodeHdlcFrame(Bytes{0x7E, 0x02, 0xAA, 0x7E}).error, HdlcError::TooShort);
    EXPECT_EQ(DecodeHdlcFrame(Bytes{0x0B, 0xAB, 0x4E}).error, HdlcError::Incomplete);

    const Bytes largest(kHdlcMaxFrameBytes - kHdlcCrcBytes, 0x11);
    EXPECT_TRUE(DecodeHdlcFrame(EncodeHdlcFrame(largest)).ok());
    const Bytes tooLong(kHdlcMaxFrameBytes - kHdlcCrcBytes + 1, 0x11);
    EXPECT_EQ(DecodeHdlcFrame(EncodeHdlcFrame(tooLong)).error, HdlcError::TooLong);
}

TEST(HdlcDeframer, StreamOfFramesAndStartRules) {
    Bytes stream = {0x55};  // a stray byte before the first flag
    for (const Bytes& p : {Bytes{0x01, 0x7E}, Bytes{0x02, 0x03}}) {
        const Bytes f = EncodeHdlcFrame(p, true);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    auto read = [&stream](HdlcDeframer::Start start, int& failures) {
        HdlcDeframer deframer(start);
        std::vector<Bytes> out;
        for (uint8_t b : stream) {
            const auto status = deframer.Feed(b);
            if (status == HdlcDeframer::Status::Failed) ++failures;
            if (status == HdlcDeframer::Status::Complete) {
                out.emplace_back(deframer.Packet().begin(), deframer.Packet().end());
            }
        }
        return out;
    };
    const std::vector<Bytes> both = {{0x01, 0x7E}, {0x02, 0x03}};
    // Waiting for a flag drops the stray byte; taking any byte makes it a frame of its own, too short.
    int failures = 0;
    EXPECT_EQ(read(HdlcDeframer::Start::AfterFlag, failures), both);
    EXPECT_EQ(failures, 0);
    EXPECT_EQ(read(HdlcDeframer::Start::AnyByte, failures), both);
    EXPECT_EQ(failures, 1);
}

}  // namespace
}  // namespace firmora::link
