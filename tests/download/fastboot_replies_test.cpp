// The fastboot client against a scripted device: replies no well-behaved boot
// loader sends (long, split, malformed, INFO lines, a DATA of the wrong size)
// must never let a step pass that the device did not confirm.

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "download/adb_api.h"
#include "download/fastboot_client.h"
#include "platform/virtual_clock.h"
#include "recording_reporter.h"
#include "scripted_bulk.h"
#include "test_folder.h"

namespace firmora::download {
namespace {

// The reply that accepts a download of `size` bytes.
std::string Data(uint32_t size) { return "DATA" + DownloadCommand(size).substr(9); }

// A client connected to a device that sends `replies`, whatever is asked.
struct Scripted {
    Scripted(platform::Clock& clock, const std::vector<std::string>& replies)
        : bulk(clock), adb(AdbApi::Bind(bulk)), client(adb, reporter, clock) {
        bulk.Replies(replies);
        EXPECT_TRUE(client.ConnectAdbInterface("usb:1-1:VID_18D1&PID_D00D"));
        EXPECT_TRUE(client.InitAdbConnection());
    }

    std::vector<std::string> InfoLines() const {
        std::vector<std::string> texts;
        for (const auto& line : reporter.lines) {
            if (line.kind == core::kReportInfo) texts.push_back(line.text);
        }
        return texts;
    }

    testing::RecordingReporter reporter;
    testing::ScriptedBulk bulk;
    AdbApi adb;
    FastbootClient client;
};

class FastbootRepliesTest : public ::testing::Test {
protected:
    FastbootRepliesTest() : folder("replies") {}

    // A file of `size` bytes (sparse: its content does not matter here).
    std::string Image(const std::string& name, uint64_t size) {
        const auto path = folder.path() / name;
        std::ofstream(path).close();
        std::filesystem::resize_file(path, size);
        return path.string();
    }

    static void Flash(Scripted& device, const std::string& image, uint32_t size) {
        device.client.FlashImage(image, size, [&] { return device.client.WriteFinishedCmd("boot"); });
    }

    uint64_t Now() const { return clock.TickCount(); }

    testing::TestFolder folder;
    platform::VirtualClock clock;
};

TEST_F(FastbootRepliesTest, OneDeviceMessageIsOneReplyHoweverLong) {
    const std::string text(252, 'x');
    Scripted device(clock, {"OKAY" + text, "FAIL" + text});
    EXPECT_TRUE(device.client.ReceiveOkayReply());
    // The text of the first reply is not taken for the second one.
    EXPECT_FALSE(device.client.ReceiveOkayReply());
    EXPECT_EQ(device.reporter.Errors(),
              std::vector<std::string>{"ERROR, Could not read OKAY reply. Read value:  46 41 49 4C 78 78 78 78 78 78 "
                                       "78 78 78 78 78 78, Error code: 0"});
    EXPECT_TRUE(device.reporter.Has("pAdbReadEndpointSync T: F A 256"));
}

TEST_F(FastbootRepliesTest, SplitMalformedAndOverlongRepliesNeverPass) {
    // Each line: the messages of one reply, and whether it passes.
    const std::vector<std::pair<std::vector<std::string>, bool>> cases = {
        {{"OKAY"}, true},
        {{"OK"}, true},  // a bare "OK" has always been the answer too
        {{"OKA", "Y"}, false},
        {{"FA", "IL"}, false},
        {{"OKAX"}, false},
        {{"okay"}, false},
        {{"OKFAIL"}, false},
        {{""}, false},
        {{"OKAY" + std::string(253, 'x')}, false},  // 257 bytes: longer than any reply
    };
    for (const auto& [messages, passes] : cases) {
        Scripted device(clock, messages);
        EXPECT_EQ(device.client.ReceiveOkayReply(), passes) << messages.front();
        EXPECT_EQ(device.reporter.RunStatus() == 0, passes) << messages.front();
    }
}

TEST_F(FastbootRepliesTest, InfoLinesAreShownWhileTheAnswerIsAwaited) {
    const std::string boot = Image("boot.img", 5000);
    Scripted device(clock, {"INFOchecking size", Data(5000), "OKAY", "INFOwriting boot", "INFO", "OKAY"});
    Flash(device, boot, 5000);

    EXPECT_TRUE(device.reporter.Errors().empty()) << ::testing::PrintToString(device.reporter.Errors());
    EXPECT_EQ(device.bulk.Commands(), (std::vector<std::string>{"download:00001388", "flash:boot"}));
    EXPECT_EQ(device.bulk.DataBytes(), 5000u);
    const auto info = device.InfoLines();
    for (const char* line : {"(bootloader) checking size", "(bootloader) writing boot", "(bootloader) "}) {
        EXPECT_EQ(std::count(info.begin(), info.end(), line), 1) << line;
    }
    EXPECT_EQ(device.bulk.RepliesLeft(), 0u);
}

TEST_F(FastbootRepliesTest, NoImageByteFollowsAnythingButTheRightDataReply) {
    const std::string boot = Image("boot.img", 300000);
    const std::vector<std::pair<std::vector<std::string>, std::string>> refusals = {
        {{"INFOchecking size", "FAILdata too large"}, "FAILdata too large"},
        {{Data(299999)}, "DATA000493df (300000 bytes announced)"},
        {{"DATA000493e0x"}, "DATA000493e0x (300000 bytes announced)"},
        {{"DATA"}, "DATA (300000 bytes announced)"},
        {{"OKAY"}, "OKAY"},
        {{"INFOnot yet", "INFOstill not"}, ""},  // and then nothing within 512 ms
    };
    for (const auto& [replies, shown] : refusals) {
        Scripted device(clock, replies);
        const uint64_t start = Now();
        Flash(device, boot, 300000);

        EXPECT_EQ(device.bulk.DataBytes(), 0u) << shown;
        EXPECT_EQ(device.bulk.Commands(), std::vector<std::string>{"download:000493e0"}) << shown;
        const std::string error = shown.empty()
                                      ? "ERROR, Receive handshake command failed., Error code: " +
                                            std::to_string(ETIMEDOUT)
                                      : "ERROR, Receive handshake command failed. " + shown + ", Error code: 0";
        EXPECT_EQ(device.reporter.Errors(), std::vector<std::string>{error});
        EXPECT_LE(Now() - start, 512u) << shown;  // virtual time: INFO lines do not extend the wait
    }
}

TEST_F(FastbootRepliesTest, ARefusedEraseIsAWarningAndThePlanGoesOn) {
    Scripted device(clock, {"INFOerasing", "FAILpartition is locked"});
    const uint64_t start = Now();
    device.client.EraseEntry("modem");

    EXPECT_EQ(device.reporter.RunStatus(), 0);
    EXPECT_EQ(Now() - start, 5000u);
    EXPECT_FALSE(device.reporter.Has("Erase partiton successfully."));
    const auto info = device.InfoLines();
    EXPECT_NE(std::find(info.begin(), info.end(),
                        "Warning: the erase of modem was not confirmed (FAILpartition is locked); going on after a "
                        "pause"),
              info.end())
        << ::testing::PrintToString(info);

    // Silence is not confirmation either.
    device.client.EraseEntry("cdrom");
    EXPECT_TRUE(device.reporter.Has("Warning: the erase of cdrom was not confirmed (no answer); going on after a pause"));
    EXPECT_EQ(device.reporter.RunStatus(), 0);
}

TEST_F(FastbootRepliesTest, EveryPacketIsCommittedUnderItsOwnNumber) {
    const PacketLayout& system = LayoutOf(PacketStream::System);
    const PacketLayout& qdsp = LayoutOf(PacketStream::Entry);
    // Three system packets, the last one short; twelve qdsp packets, whose
    // numbers stop at the one digit the boot loader reads.
    const struct {
        PacketStream stream;
        const PacketLayout& layout;
        uint32_t packets;
    } images[] = {{PacketStream::System, system, 3}, {PacketStream::Entry, qdsp, 12}};
    for (const auto& image : images) {
        const uint64_t size = static_cast<uint64_t>(image.layout.packetSize) * (image.packets - 1) + 1234;
        const std::string file = Image(std::string(image.layout.partition) + ".img", size);
        std::vector<std::string> replies;
        std::vector<std::string> expected;
        for (uint32_t i = 0; i < image.packets; ++i) {
            const uint32_t length = i + 1 < image.packets ? image.layout.packetSize : 1234;
            replies.insert(replies.end(), {Data(length), "OKAY", "OKAY"});
            expected.push_back(DownloadCommand(length));
            expected.push_back("mutilflash:" + std::to_string(std::min(i, 9u)) + ":" + image.layout.partition);
        }
        Scripted device(clock, replies);
        device.client.FlashImageInPackets(file, static_cast<uint32_t>(size), image.stream);

        EXPECT_TRUE(device.reporter.Errors().empty()) << ::testing::PrintToString(device.reporter.Errors());
        EXPECT_EQ(device.bulk.Commands(), expected) << image.layout.partition;
        EXPECT_EQ(device.bulk.DataBytes(), size) << image.layout.partition;
        EXPECT_EQ(device.bulk.RepliesLeft(), 0u);
    }
}

}  // namespace
}  // namespace firmora::download
