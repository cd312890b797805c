#include "modeswitch/command_sets.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "link/at_channel.h"
#include "link/serial_channel.h"
#include "package/project_table.h"
#include "sim_diag_stack.h"

namespace firmora::modeswitch {
namespace {

using testing::ToText;

const std::string kDiag1 = "AT+DIAG=1\r\n\r\n";
const std::string kDiskD1 = "AT+DISK=8,\"D1\"\r\n\r\n";
const std::string kCdrom = "AT+CDROM=1\r\n\r\n";
const std::string kMvtReset = "AT+MVTRESET\r\n\r\n";

// The worker's AT channel on COM7 of a scripted device that answers the
// commands it is given ("OK" or an error) and keeps silent at the others,
// beside a diagnostic channel on COM3 with a simulated DIAG device.
class CommandSetsTest : public testing::SimDiagStack {
protected:
    CommandSetsTest() {
        Start({});
        atDevice.responder = [this](const testing::Bytes& written) {
            const std::string command = ToText(written);
            sentAt.push_back(command);
            const auto reply = replies.find(command);
            if (reply != replies.end()) atDevice.Deliver("\r\n" + reply->second + "\r\n", 50);
        };
        atChannel.OpenAtChannel(7);
        reporter.Clear();
    }
    std::vector<std::string> SentDiag() {
        std::vector<std::string> requests;
        for (const testing::Bytes& write : device.writes) requests.push_back(testing::Hex(write));
        return requests;
    }

    testing::FakeSerialDevice& atDevice = ports.Device("COM7");
    link::SerialChannel atChannel{link::ChannelRole::At, ports, clock, reporter, options};
    link::AtChannel at{atChannel, clock, reporter, false};
    std::map<std::string, std::string> replies;
    std::vector<std::string> sentAt;
};

TEST_F(CommandSetsTest, AStartSetGoesOnPastADiagRequestTheDeviceNeverAnswers) {
    replies["AT+CFUN=1\r\n\r\n"] = "OK";
    RunStartAtSet({kDiag1, "AT+CFUN=1\r\n\r\n"}, at, clock, reporter, false);
    EXPECT_EQ(sentAt, (std::vector<std::string>{kDiag1, "AT+CFUN=1\r\n\r\n"}));
    EXPECT_EQ(reporter.RunStatus(), core::kRunHealthy);
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(CommandSetsTest, AStartSetStopsAtTheFirstOtherFailureWithItsEntryNumber) {
    replies["AT+A\r\n\r\n"] = "OK";
    replies["AT+B\r\n\r\n"] = "ERROR";
    replies["AT+C\r\n\r\n"] = "OK";
    RunStartAtSet({"AT+A\r\n\r\n", "AT+B\r\n\r\n", "AT+C\r\n\r\n"}, at, clock, reporter, false);
    EXPECT_EQ(sentAt, (std::vector<std::string>{"AT+A\r\n\r\n", "AT+B\r\n\r\n"}));
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Fail to send command(start) :2"), std::string::npos);
}

TEST_F(CommandSetsTest, SleepEntriesPauseAndSendNothing) {
    RunStartAtSet({"AT%SLEEP=3000\r\n\r\n", "AT%SLEEP\r\n\r\n", "AT%SLEEP= soon\r\n\r\n"}, at, clock, reporter, false);
    EXPECT_EQ(clock.TickCount(), 3000u);
    RunEndAtSet({"AT%SLEEP = 1500 \r\n\r\n"}, at, diag, clock, reporter);
    EXPECT_EQ(clock.TickCount(), 4500u);
    EXPECT_TRUE(sentAt.empty());
}

TEST_F(CommandSetsTest, TheDiskSwitchIsNotSentAgainAfterDiscoverySentIt) {
    replies[kDiskD1] = "OK";
    RunStartAtSet({kDiskD1}, at, clock, reporter, true);
    EXPECT_TRUE(sentAt.empty());
    RunStartAtSet({kDiskD1}, at, clock, reporter, false);
    EXPECT_EQ(sentAt, (std::vector<std::string>{kDiskD1}));
}

TEST_F(CommandSetsTest, AFailedRunSendsNoEntryOfEitherSet) {
    reporter.ReportError("earlier failure");
    replies["AT+A\r\n\r\n"] = "OK";
    RunStartAtSet({"AT%SLEEP=3000\r\n\r\n", "AT+A\r\n\r\n"}, at, clock, reporter, false);
    RunEndAtSet({"AT%RESET\r\n\r\n", "AT+A\r\n\r\n"}, at, diag, clock, reporter);
    EXPECT_TRUE(sentAt.empty());
    EXPECT_TRUE(device.writes.empty());
    EXPECT_EQ(clock.TickCount(), 0u);
}

TEST_F(CommandSetsTest, AnEndSetStopsOnlyWhenTheCdromOrResetCommandFails) {
    replies["AT+X\r\n\r\n"] = "ERROR";
    replies[kMvtReset] = "OK";
    RunEndAtSet({"AT+X\r\n\r\n", kCdrom, kMvtReset}, at, diag, clock, reporter);
    EXPECT_EQ(sentAt, (std::vector<std::string>{"AT+X\r\n\r\n", kCdrom}));
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Fail to send command(end) :2[AT+CDROM=1\r\n\r\n]"), std::string::npos);
}

TEST_F(CommandSetsTest, ResetInTheEndSetIsTheDiagOfflineThenResetModeChange) {
    replies[kCdrom] = "OK";
    RunEndAtSet({"AT%RESET\r\n\r\n", kCdrom}, at, diag, clock, reporter);
    // Each request is acknowledged at once: one offline, one reset.
    EXPECT_EQ(SentDiag(), (std::vector<std::string>{"29 01 00 31 40 7E", "29 02 00 59 6A 7E"}));
    EXPECT_EQ(sentAt, (std::vector<std::string>{kCdrom}));
    EXPECT_TRUE(reporter.Errors().empty());

    // A closed diagnostic channel fails both quietly; the set goes on.
    channel.CloseOnce();
    sentAt.clear();
    RunEndAtSet({"AT%RESET\r\n\r\n", kCdrom}, at, diag, clock, reporter);
    EXPECT_EQ(sentAt, (std::vector<std::string>{kCdrom}));
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(CommandSetsTest, TheDiskModeCommandFollowsTheProjectAndTheSelections) {
    EXPECT_EQ(DiskModeCommandFor(package::kProjectRE78_51), kDiskD1);
    EXPECT_EQ(DiskModeCommandFor(48), kDiskD1);
    EXPECT_EQ(DiskModeCommandFor(23), "AT+DISK=8,\"D2\"\r\n\r\n");
    EXPECT_EQ(DiskModeCommandFor(package::kProjectXL82_31), "");
    EXPECT_EQ(DiskModeCommandFor(package::kProjectMDM9x15), "");

    package::DownloadOptions o;
    o.ProjectIndex = package::kProjectXH70_31;
    o.bAMSSFile = true;
    EXPECT_TRUE(DiskModeCommandWanted(o, core::kRunHealthy));
    EXPECT_TRUE(DiskModeCommandWanted(o, 5));
    o.bEFS = true;
    EXPECT_FALSE(DiskModeCommandWanted(o, core::kRunHealthy));
    o.bPCSuite = true;
    EXPECT_TRUE(DiskModeCommandWanted(o, core::kRunHealthy));

    package::DownloadOptions variant;
    variant.ProjectIndex = package::kProjectRE78_51;
    EXPECT_FALSE(DiskModeCommandWanted(variant, core::kRunHealthy));
    variant.VersionVariant = package::VersionVariantKind::B;
    EXPECT_TRUE(DiskModeCommandWanted(variant, core::kRunHealthy));
    EXPECT_FALSE(DiskModeCommandWanted(variant, core::kRunStopped));
}

TEST_F(CommandSetsTest, AFailedDiskModeCommandIsTheRunsFailure) {
    package::DownloadOptions o;
    o.ProjectIndex = 13;
    o.bPCSuite = true;
    replies["AT+DISK=8,\"D2\"\r\n\r\n"] = "ERROR";
    SendDiskModeCommand(o, at, reporter);
    EXPECT_EQ(sentAt, (std::vector<std::string>{"AT+DISK=8,\"D2\"\r\n\r\n"}));
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Fail to set from modem start"), std::string::npos);

    // A project without a command sends nothing.
    sentAt.clear();
    o.ProjectIndex = package::kProjectMDM9x15;
    reporter.Clear();
    SendDiskModeCommand(o, at, reporter);
    EXPECT_TRUE(sentAt.empty());
}

}  // namespace
}  // namespace firmora::modeswitch
