#include "link/hdlc_framer.h"

#include <algorithm>

#include <gtest/gtest.h>

#include "diag_responder.h"

namespace firmora::testing {
namespace {

using link::FrameReadOutcome;
using link::HdlcFramer;

class HdlcFramerTest : public DiagBench {
protected:
    // Bytes that are already on the line when the read starts.
    void Arrive(const Bytes& bytes, uint64_t delayMs = 0) { device.Deliver(bytes, delayMs); }
    Bytes Frame(const Bytes& packet, bool leadingFlag = false) { return link::EncodeHdlcFrame(packet, leadingFlag); }
    Bytes Received() const { return Bytes(framer.Received().begin(), framer.Received().end()); }
};

TEST_F(HdlcFramerTest, SendsTheFinishedPacketAfterClearingAndPurging) {
    device.responder = nullptr;
    device.pendingErrorMask = 12;
    framer.BuildPacket(Bytes{0x0B});
    framer.SendFrame();
    framer.SendFrameWithLeadingFlag();
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(Hex(device.writes[0]), "0B AB 4E 7E");
    EXPECT_EQ(Hex(device.writes[1]), "7E 0B AB 4E 7E");
    EXPECT_EQ(device.purges.back(), platform::kPurgeAll);
    ASSERT_EQ(reporter.lines.size(), 1u);
    EXPECT_EQ(reporter.lines[0].text, "There is a warning in OutQue: 12");
    EXPECT_EQ(reporter.lines[0].kind, core::kReportInfo);

    // The framer builds exactly what the codec encodes.
    const Bytes packet = {0x4B, 0x13, 0x7E, 0x7D, 0x00, 0x5E};
    framer.BuildPacket(packet);
    EXPECT_EQ(Hex(Bytes(framer.FinishedFrame().begin(), framer.FinishedFrame().end())), Hex(Frame(packet)));
}

TEST_F(HdlcFramerTest, OverflowedPacketIsReplacedByTheFixedFrame) {
    framer.BeginPacket();
    for (size_t i = 0; i < HdlcFramer::kPacketContentLimit - 2; ++i) ASSERT_TRUE(framer.AppendByte(0x00));
    EXPECT_TRUE(framer.AppendByte(0x7E));  // an escaped pair still fits at 36856
    EXPECT_EQ(framer.PacketLength(), HdlcFramer::kPacketContentLimit);
    EXPECT_FALSE(framer.PacketOverflowed());

    framer.BeginPacket();
    for (size_t i = 0; i < HdlcFramer::kPacketContentLimit - 1; ++i) ASSERT_TRUE(framer.AppendByte(0x00));
    EXPECT_FALSE(framer.AppendByte(0x7D));  // a pair at 36857 does not
    EXPECT_TRUE(framer.PacketOverflowed());
    EXPECT_FALSE(framer.AppendByte(0x00));  // and nothing is taken any more
    framer.FinishPacket();
    framer.SendFrame();
    EXPECT_EQ(Hex(device.writes.back()), "03 00 03 33 1B 7E");

    // A packet that fits but leaves no room for its CRC overflows as well.
    framer.BeginPacket();
    for (size_t i = 0; i < HdlcFramer::kPacketContentLimit - 1; ++i) framer.AppendByte(0x00);
    framer.FinishPacket();
    EXPECT_TRUE(framer.PacketOverflowed());
    EXPECT_EQ(framer.FinishedFrame().size(), 6u);
}

TEST_F(HdlcFramerTest, FrameReadersStoreTheUnescapedFrame) {
    const Bytes packet = {0x4B, 0x13, 0x7E, 0x00};
    Bytes expected = packet;
    const uint16_t crc = link::Crc16X25(packet);
    expected.push_back(static_cast<uint8_t>(crc & 0xFF));
    expected.push_back(static_cast<uint8_t>(crc >> 8));

    Arrive(Frame(packet));  // no leading flag: optional for frame readers
    link::FrameReadResult r = framer.ReadFrame();
    ASSERT_TRUE(r.ok());
    EXPECT_EQ(r.code, expected.size());
    EXPECT_EQ(Received(), expected);
    EXPECT_EQ(Bytes(framer.ReceivedPacket().begin(), framer.ReceivedPacket().end()), packet);

    Arrive(Bytes{0x7E, 0x7E});
    Arrive(Frame(packet));
    r = framer.ReadFrameWhole();
    ASSERT_TRUE(r.ok());
    expected.push_back(0x7E);  // the closing flag is kept and counted
    EXPECT_EQ(r.code, expected.size());
    EXPECT_EQ(Received(), expected);
}

TEST_F(HdlcFramerTest, BrokenFramesGiveTheirFailureAndLeaveNoStaleReply) {
    Arrive(Frame(Bytes{0x02}, true));
    ASSERT_TRUE(framer.ReadFrame().ok());

    Bytes badCrc = Frame(Bytes{0x4B, 0x13, 0x03, 0x00, 0x00});
    badCrc[2] ^= 0x40;
    Arrive(badCrc);
    link::FrameReadResult r = framer.ReadFrame();
    EXPECT_EQ(r.outcome, FrameReadOutcome::BadCrc);
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(framer.Received().empty());

    Arrive(Bytes{0x02, 0x7E});
    r = framer.ReadFrame();
    EXPECT_EQ(r.outcome, FrameReadOutcome::TooShort);
    EXPECT_EQ(r.code, 4);

    Arrive(Frame(Bytes(link::kHdlcMaxFrameBytes, 0x11)));
    r = framer.ReadFrameWhole();
    EXPECT_EQ(r.outcome, FrameReadOutcome::TooLong);
    EXPECT_EQ(r.code, 5);
}

TEST_F(HdlcFramerTest, ResponseReadersNeedAFlagAndGiveResponseCodes) {
    struct Case {
        Bytes packet;
        uint16_t code;
    };
    for (const Case& c : {Case{{0x02}, 0}, Case{{0x03, 0x00, 0x05}, 5}, Case{{0x03, 0x01, 0x02}, 0x0102},
                          Case{{0x02, 0x00}, 0xFF}, Case{{0x12}, 0xFF}}) {
        // The unflagged copy in front is hunted over, not taken.
        Arrive(Frame(c.packet));
        Arrive(Frame(c.packet, true));
        const link::FrameReadResult r = framer.ReadResponseTimed();
        ASSERT_TRUE(r.ok()) << Hex(c.packet);
        EXPECT_EQ(r.code, c.code) << Hex(c.packet);
        EXPECT_EQ(device.PendingBytes(), 0u);
    }
}

TEST_F(HdlcFramerTest, TimedReadersGiveUpAfterFiveSecondsOfSilenceWithoutInventingBytes) {
    link::FrameReadResult r = framer.ReadFrame();
    EXPECT_EQ(r.outcome, FrameReadOutcome::TimedOut);
    EXPECT_EQ(r.code, 0xFF);
    EXPECT_GE(clock.TickCount(), 5000u);
    EXPECT_LT(clock.TickCount(), 6100u);

    const uint64_t start = clock.TickCount();
    r = framer.ReadResponseTimed();
    EXPECT_EQ(r.outcome, FrameReadOutcome::TimedOut);
    EXPECT_EQ(r.code, 7);
    EXPECT_GE(clock.TickCount() - start, 5000u);

    // A frame cut off after an escape times out instead of being completed by a made-up byte.
    Arrive(Bytes{0x0B, 0x7D});
    EXPECT_EQ(framer.ReadFrame().outcome, FrameReadOutcome::TimedOut);

    // A byte is waited for until the limit, long after the first two seconds.
    Arrive(Frame(Bytes{0x0B}), 4500);
    EXPECT_TRUE(framer.ReadFrame().ok());
    EXPECT_EQ(Received(), (Bytes{0x0B, 0xAB, 0x4E}));
}

TEST_F(HdlcFramerTest, WaitingEndsWhenTheRunStopsOrTheGivenLimitPasses) {
    clock.ScheduleIn(30000, [this] { reporter.status = core::kRunStopped; });
    link::FrameReadResult r = framer.ReadResponse();
    EXPECT_EQ(r.outcome, FrameReadOutcome::Stopped);
    EXPECT_EQ(r.code, 0xFFFE);
    EXPECT_GE(clock.TickCount(), 30000u);
    EXPECT_EQ(framer.ReadResponse().code, 0xFFFE);
    EXPECT_EQ(framer.ReadFrame().code, 0xFFFE);

    reporter.status = 0;
    const uint64_t start = clock.TickCount();
    r = framer.ReadResponse(10000);
    EXPECT_EQ(r.outcome, FrameReadOutcome::TimedOut);
    EXPECT_EQ(r.code, 7);
    EXPECT_LT(clock.TickCount() - start, 11100u);
}

TEST_F(HdlcFramerTest, WholeFrameReaderGivesUpOnASilentDevice) {
    // An unattended run must not hang on a device that never answers.
    const uint64_t start = clock.TickCount();
    const link::FrameReadResult r = framer.ReadFrameWhole();
    EXPECT_EQ(r.outcome, FrameReadOutcome::TimedOut);
    EXPECT_EQ(r.code, link::kFrameTimedOut);
    EXPECT_GT(clock.TickCount() - start, link::HdlcFramer::kTimedReadLimitMs);

    // Within the limit it still takes a frame with its closing flag.
    Arrive(Frame(Bytes{0x0B}), 4000);
    EXPECT_TRUE(framer.ReadFrameWhole().ok());
    EXPECT_EQ(Received(), (Bytes{0x0B, 0xAB, 0x4E, 0x7E}));
}

TEST_F(HdlcFramerTest, ReadersEndAtOnceWhenTheDeviceHasGone) {
    device.gone = true;
    const uint64_t start = clock.TickCount();
    for (const link::FrameReadResult r : {framer.ReadFrame(), framer.ReadFrameWhole(), framer.ReadResponse(),
                                          framer.ReadResponseTimed()}) {
        EXPECT_EQ(r.outcome, FrameReadOutcome::DeviceGone);
    }
    EXPECT_EQ(clock.TickCount(), start);
    // One warning for the loss, not one per read.
    const std::vector<std::string> texts = reporter.Texts();
    EXPECT_EQ(std::count(texts.begin(), texts.end(), "read from commmport have a warning: 5"), 1);
}

TEST_F(HdlcFramerTest, ReadersReportPendingLineErrors) {
    device.pendingErrorMask = 2;
    Arrive(Frame(Bytes{0x02}, true));
    EXPECT_TRUE(framer.ReadResponse().ok());
    EXPECT_TRUE(reporter.Has("There is a warning in InQue: 2"));
}

}  // namespace
}  // namespace firmora::testing
