#include "link/diag_commands.h"

#include <gtest/gtest.h>

#include "diag_responder.h"

namespace firmora::testing {
namespace {

class DiagCommandsTest : public DiagBench {
protected:
    core::DeviceChangeFlags flags;
    link::DiagCommands diagCommands{framer, channel, clock, reporter, flags};
};

Bytes PlatformReply(uint8_t code) { return {0x7C, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, code, 0x00, 0x00, 0x00}; }

TEST_F(DiagCommandsTest, PlatformQueryRetriesABadReplyAndReadsByteEight) {
    int replies = 0;
    diag.onRequest = [&](const Bytes&) {
        if (replies++ == 0) {
            diag.ReplyWithBadCrc(PlatformReply(0x42));
        } else {
            diag.Reply(PlatformReply(0x42));
        }
    };
    EXPECT_EQ(diagCommands.QueryPlatformCode(), 0x42);
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(Hex(device.writes[0]), "7C 93 49 7E");
}

TEST_F(DiagCommandsTest, PlatformQueryFailures) {
    // 7C 02 but too short to carry the code: answered, so not asked again.
    diag.onRequest = [&](const Bytes&) { diag.Reply(Bytes{0x7C, 0x02, 0x00, 0x00, 0x01, 0x00}); };
    EXPECT_EQ(diagCommands.QueryPlatformCode(), std::nullopt);
    EXPECT_EQ(diag.requests.size(), 1u);

    // No answer at all: three attempts, each given up after five seconds.
    diag.requests.clear();
    diag.onRequest = nullptr;
    const uint64_t start = clock.TickCount();
    EXPECT_EQ(diagCommands.QueryPlatformCode(), std::nullopt);
    EXPECT_EQ(diag.requests.size(), 3u);
    EXPECT_GE(clock.TickCount() - start, 15000u);

    diag.onRequest = [&](const Bytes&) { diag.Reply(PlatformReply(0x42)); };
    reporter.status = core::kRunStopped;
    EXPECT_EQ(diagCommands.QueryPlatformCode(), std::nullopt);
}

TEST_F(DiagCommandsTest, PowerOffWaitsForItsAcknowledgement) {
    diag.onRequest = [&](const Bytes&) { diag.Reply(Bytes{0x12}, true); };
    EXPECT_EQ(diagCommands.SendPowerOff(), link::DiagAck::Acknowledged);
    EXPECT_EQ(Hex(device.writes[0]), Hex(link::EncodeHdlcFrame(Bytes{0x11}, true)));
    EXPECT_TRUE(reporter.Has("Send poweroff command"));

    // Five reads of five seconds, 100 ms apart, then failure.
    diag.onRequest = nullptr;
    const uint64_t start = clock.TickCount();
    EXPECT_EQ(diagCommands.SendPowerOff(), link::DiagAck::NoAnswer);
    EXPECT_GE(clock.TickCount() - start, 25400u);
    EXPECT_LT(clock.TickCount() - start, 31000u);
}

TEST_F(DiagCommandsTest, ResetClearsTheDeviceFlagsAndWaitsABoundedTime) {
    flags.changeSeen = 1;
    flags.arrivalSeen = 1;
    diag.onRequest = [&](const Bytes&) { diag.Reply(Bytes{0x0C}, true); };
    EXPECT_EQ(diagCommands.SendReset(), link::DiagAck::Acknowledged);
    EXPECT_EQ(flags.changeSeen, 0);
    EXPECT_EQ(flags.arrivalSeen, 0);
    EXPECT_EQ(Hex(device.writes[0]), "7E 0B AB 4E 7E");
    EXPECT_TRUE(reporter.Has("Send reset command"));

    diag.onRequest = [&](const Bytes&) { diag.Reply(Bytes{0x13}, true); };
    EXPECT_EQ(diagCommands.SendReset(), link::DiagAck::NoAnswer);

    diag.onRequest = nullptr;
    const uint64_t start = clock.TickCount();
    EXPECT_EQ(diagCommands.SendReset(), link::DiagAck::NoAnswer);
    EXPECT_LE(clock.TickCount() - start, link::DiagCommands::kResetReplyLimitMs + 1100);

    const int readsBefore = device.readCalls;
    diagCommands.SendResetRequestOnly();
    EXPECT_EQ(Hex(device.writes.back()), "7E 0B AB 4E 7E");
    EXPECT_EQ(device.readCalls, readsBefore);
}

TEST_F(DiagCommandsTest, ModeChangesReadTheRawEcho) {
    diag.onRequest = [&](const Bytes& r) { diag.ReplyRaw({r[0], r[1], r[2], 0xAA, 0xBB, 0x7E, 0, 0, 0, 0}); };
    EXPECT_EQ(diagCommands.DiagModeOffline(), link::DiagAck::Acknowledged);
    EXPECT_EQ(diagCommands.DiagModeReset(), link::DiagAck::Acknowledged);
    EXPECT_EQ(diag.requests, (std::vector<Bytes>{{0x29, 0x01, 0x00}, {0x29, 0x02, 0x00}}));

    diag.requests.clear();
    diag.onRequest = [&](const Bytes&) { diag.ReplyRaw({0x13, 0x29, 0x01, 0x00, 0x7D}); };
    const uint64_t start = clock.TickCount();
    EXPECT_EQ(diagCommands.DiagModeOffline(), link::DiagAck::NoAnswer);
    EXPECT_EQ(diag.requests.size(), 10u);
    EXPECT_GE(clock.TickCount() - start, 9000u);
    EXPECT_TRUE(reporter.Has("Offline cmd rec: 13 29 01 00 7D 00 00 00 00 00"));

    reporter.lines.clear();
    EXPECT_EQ(diagCommands.DiagModeReset(), link::DiagAck::NoAnswer);
    EXPECT_TRUE(reporter.lines.empty());
}

}  // namespace
}  // namespace firmora::testing
