#include "link/at_channel.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "fake_serial.h"
#include "package/download_options.h"
#include "platform/last_error.h"
#include "recording_reporter.h"

namespace firmora::link {
namespace {

using testing::FakeSerialDevice;
using testing::FakeSerialPorts;
using testing::RecordingReporter;
using testing::ToText;
using Lines = std::vector<std::string>;

class AtChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(serial.ReopenAtChannel(4));
        platform::SetLastError(0);  // failure lines quote it
    }

    // The device answers each write with these pieces, each `delay` ms after the write.
    void Answer(std::vector<std::pair<std::string, uint64_t>> pieces) {
        device.responder = [this, pieces](const testing::Bytes&) {
            writtenAt = clock.TickCount();
            for (const auto& [text, delay] : pieces) clock.ScheduleIn(delay, [this, text] { device.Deliver(text); });
        };
    }
    void Answer(const std::string& text) { Answer({{text, 0}}); }

    AtChannel Channel(bool fast = false) { return AtChannel(serial, clock, reporter, fast); }
    uint64_t Elapsed() const { return clock.TickCount() - started; }
    std::string Sent() const { return ToText(device.written); }

    platform::VirtualClock clock;
    FakeSerialPorts ports{clock};
    FakeSerialDevice& device = ports.Device("COM4");
    RecordingReporter reporter;
    package::DownloadOptions options;
    SerialChannel serial{ChannelRole::At, ports, clock, reporter, options};
    uint64_t started = clock.TickCount();
    uint64_t writtenAt = 0;
};

TEST_F(AtChannelTest, QueryValueRunsFromFirstColonToTheFinalOk) {
    Answer("\r\n+TAG: 12,\"AB\"\r\n\r\nOK\r\n");
    std::string value;
    EXPECT_TRUE(Channel().AtQuery("AT+TAG?\r\n\r\n", value));
    EXPECT_EQ(value, " 12,\"AB\"\r\n\r\n");
    EXPECT_EQ(Sent(), "AT+TAG?\r\n\r\n");
    EXPECT_EQ(reporter.Texts(), Lines{"Read......"});
    EXPECT_EQ(Elapsed(), 800u);
}

TEST_F(AtChannelTest, QueryWithoutColonKeepsTheEcho) {
    Answer("AT+CFUN=5\r\r\nOK\r\n");
    std::string value;
    EXPECT_TRUE(Channel().AtQuery("AT+CFUN=5\r\n\r\n", value));
    EXPECT_EQ(value, "AT+CFUN=5\r\r\n");
}

TEST_F(AtChannelTest, ValueHoldingTheLettersOkIsKeptWhole) {
    // In one read, split inside the value, and with the final OK arriving
    // last: only an OK line of its own ends the reply.
    const std::vector<std::pair<std::vector<std::pair<std::string, uint64_t>>, std::string>> scripts = {
        {{{"\r\n+MVTSN: SN0OK1\r\n\r\nOK\r\n", 0}}, " SN0OK1\r\n\r\n"},
        {{{"\r\n+MVTSN: SN0", 0}, {"OK1\r\n", 900}, {"\r\nOK\r\n", 1700}}, " SN0OK1\r\n\r\n"},
        {{{"\r\n+MVTSN: SN0OK1\r\n", 0}, {"\r\nOK\r\n", 2500}}, " SN0OK1\r\n\r\n"},
        {{{"\r\n+MVTSN: SN0OK", 0}, {"1\r\n\r\nOK\r\n", 900}}, " SN0OK1\r\n\r\n"},
        {{{"\r\n+TESTINF2: RF CAL OK\r\n", 0}, {"\r\nOK\r\n", 900}}, " RF CAL OK\r\n\r\n"},
        {{{"\r\n+TESTINF2: RF CAL OK  ", 0}, {"\r\n\r\nOK\r\n", 900}}, " RF CAL OK  \r\n\r\n"},
        // A line of the value that starts with OK is not yet the result.
        {{{"\r\n+T: a\r\nOK", 0}, {"AY\r\n\r\nOK\r\n", 900}}, " a\r\nOKAY\r\n\r\n"},
        // A value ending in ERROR is no refusal.
        {{{"\r\n+TESTINF2: RF CAL ERROR", 0}, {"\r\n\r\nOK\r\n", 900}}, " RF CAL ERROR\r\n\r\n"},
    };
    for (const auto& [script, expected] : scripts) {
        SCOPED_TRACE(expected);
        Answer(script);
        std::string value;
        EXPECT_TRUE(Channel().AtQuery("AT+MVTSN=0,5\r\n\r\n", value));
        EXPECT_EQ(value, expected);
    }
}

TEST_F(AtChannelTest, PartialReplyIsNotTakenForSuccess) {
    Answer("\r\n+MVTSN: SN0OK1\r\n");
    std::string value = "untouched";
    EXPECT_FALSE(Channel().AtQuery("AT+MVTSN=0,5\r\n\r\n", value));
    EXPECT_EQ(value, "untouched");
}

TEST_F(AtChannelTest, OkThatIsNotALineOfItsOwnIsNeverTheResult) {
    Answer("+X: 1 OK\r\n");
    std::string value = "untouched";
    EXPECT_FALSE(Channel().AtQuery("AT+X?\r\n", value));
    EXPECT_EQ(value, "untouched");
    EXPECT_GE(Elapsed(), 8000u);
}

TEST_F(AtChannelTest, AnOkLineLeftUnendedCountsOnlyOnceTheWaitIsOver) {
    Answer("\r\n+TAG: 12,\"AB\"\r\n\r\nOK");
    std::string value;
    EXPECT_TRUE(Channel().AtQuery("AT+TAG?\r\n\r\n", value));
    EXPECT_EQ(value, " 12,\"AB\"\r\n\r\n");
    EXPECT_GE(Elapsed(), 8000u);
    EXPECT_EQ(reporter.Texts(), Lines{"Read......"});

    started = clock.TickCount();
    Answer("\r\nOK");
    EXPECT_TRUE(Channel().AtWriteValue("AT+X=", "1", "Fail"));
    EXPECT_GE(Elapsed(), 8000u);
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(AtChannelTest, AnErrorLineFailsTheQueryEvenWhenOkFollows) {
    // Whole, or with the OK in a later read: the error text is no value.
    const std::vector<std::vector<std::pair<std::string, uint64_t>>> scripts = {
        {{"\r\nERROR\r\n\r\nOK\r\n", 0}},
        {{"\r\n+CME ERROR: 10\r\n", 0}, {"\r\nOK\r\n", 900}},
    };
    for (const auto& script : scripts) {
        Answer(script);
        std::string value = "untouched";
        EXPECT_FALSE(Channel().AtQuery("AT+T?\r\n", value));
        EXPECT_EQ(value, "untouched");
        std::string block = "untouched";
        EXPECT_FALSE(Channel().AtQueryContexts("AT+CGDCONT?\r\n\r\n", block));
        EXPECT_EQ(block, "untouched");
    }
    EXPECT_TRUE(reporter.lines.empty());
}

TEST_F(AtChannelTest, RefusedQueryFailsAtOnceWithoutAReport) {
    for (const std::string reply : {"\r\nERROR\r\n", "\r\n+CME ERROR: 10\r\n"}) {
        Answer(reply);
        started = clock.TickCount();
        EXPECT_FALSE(Channel().AtQuery("AT+GMI\r\n\r\n"));
        EXPECT_EQ(Elapsed(), 800u);
    }
    EXPECT_TRUE(reporter.lines.empty());
}

TEST_F(AtChannelTest, SilentDeviceFailsAfterEightSecondsWithoutAReport) {
    EXPECT_FALSE(Channel().AtQuery("AT+MVTSN=0,5\r\n\r\n"));
    EXPECT_GE(Elapsed(), 8000u);
    EXPECT_LE(Elapsed(), 9000u);
    EXPECT_EQ(device.readCalls, 10);
    EXPECT_TRUE(reporter.lines.empty());

    // The boot-loader command and fast-download packages poll every 100 ms.
    device.readCalls = 0;
    EXPECT_FALSE(Channel().AtQuery("at+syscmd=sys_reboot bootloader\r\n\r\n"));
    EXPECT_EQ(device.readCalls, 80);
    device.readCalls = 0;
    EXPECT_FALSE(Channel(true).AtQuery("AT\r\n"));
    EXPECT_EQ(device.readCalls, 80);
}

TEST_F(AtChannelTest, EachReadAsksForOneByteLessThanItsBuffer) {
    // The line end after "OK" is byte 512: a 511-byte read misses it.
    Answer("\r\n+V: " + std::string(501, 'x') + "\r\nOK\r\n");
    EXPECT_TRUE(Channel().AtQuery("AT+V?\r\n"));
    EXPECT_EQ(Elapsed(), 1600u);

    started = clock.TickCount();
    Answer(std::string(123, 'x') + "\r\nOK\r\n");
    EXPECT_TRUE(Channel().AtWriteValue("AT+V=", "1", "Fail"));
    EXPECT_EQ(Elapsed(), 1600u);
}

TEST_F(AtChannelTest, QueryWriteFailureIsReportedButTheWaitGoesOn) {
    device.failWrites = 1;
    device.Deliver("\r\nOK\r\n", 500);
    EXPECT_TRUE(Channel().AtQuery("AT\r\n"));
    EXPECT_EQ(reporter.Texts(), (Lines{"ERROR, Could not send command to serial port, Error code: 5", "Read......"}));
}

TEST_F(AtChannelTest, QueryReadFailureFailsTheRun) {
    Answer("\r\nOK\r\n");
    device.failReads = 1;
    std::string value;
    EXPECT_FALSE(Channel().AtQueryAfterEcho("at!autoins?\r\n\r\n", value));
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, Could not read from serial port, Error code: 5"});
}

TEST_F(AtChannelTest, ContextBlockRunsFromFirstContextThroughTheLineBreakBeforeOk) {
    const std::string c1 = "+CGDCONT: 1,\"IP\",\"OKNET\",\"0.0.0.0\",0,0\r\n";
    std::string many;  // more than one 1023-byte read holds
    for (int k = 2; k <= 16; ++k) {
        many += "+CGDCONT: " + std::to_string(k) + ",\"IPV4V6\",\"apn" + std::string(60, 'a') + "\",\"\",0,0\r\n";
    }
    Answer({{"AT+CGDCONT?\r\r\n" + c1, 0}, {many + "\r\nOK\r\n", 300}});
    std::string block;
    EXPECT_TRUE(Channel().AtQueryContexts("AT+CGDCONT?\r\n\r\n", block));
    EXPECT_EQ(block, c1 + many + "\r\n");
    EXPECT_EQ(reporter.Texts(), Lines{"Read......"});

    Answer("\r\n\r\nOK\r\n");  // no contexts: from the first character
    EXPECT_TRUE(Channel().AtQueryContexts("AT+CGDCONT?\r\n\r\n", block));
    EXPECT_EQ(block, "\r\n\r\n");
}

TEST_F(AtChannelTest, ModeValueIsWhatFollowsTheEcho) {
    Answer({{"at!auto", 0}, {"ins?\r\r\n!AUTOINS: 1\r\n\r\nOK\r\n", 900}});
    std::string value;
    EXPECT_TRUE(Channel().AtQueryAfterEcho("at!autoins?\r\n\r\n", value));
    EXPECT_EQ(value, "\r\r\n!AUTOINS: 1\r\n\r\n");

    Answer("\r\n1\r\n\r\nOK\r\n");  // no echo: from the first character
    EXPECT_TRUE(Channel().AtQueryAfterEcho("at!autoins?\r\n\r\n", value));
    EXPECT_EQ(value, "\r\n1\r\n\r\n");
}

TEST_F(AtChannelTest, RebootDoesNotWaitForAReplyAndSucceedsEvenWhenTheWriteFails) {
    EXPECT_TRUE(Channel().AtSendReboot("at+syscmd=sys_reboot bootloader\r\n\r\n"));
    EXPECT_EQ(Sent(), "at+syscmd=sys_reboot bootloader\r\n\r\n");
    EXPECT_EQ(device.readCalls, 0);
    EXPECT_EQ(Elapsed(), 100u);

    device.failWrites = 1;
    EXPECT_TRUE(Channel().AtSendReboot("at+syscmd=sys_reboot bootloader\r\n\r\n"));
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, Could not send command to serial port, Error code: 5"});
}

TEST_F(AtChannelTest, WriteBuildsItsCommandFromPrefixAndValue) {
    Answer("\r\nOK\r\n");
    EXPECT_TRUE(Channel().AtWriteValue("AT+MVTSN=1,5,", "\"SN01\"", "Fail to write SN"));
    EXPECT_TRUE(Channel(true).AtWriteValue("AT\r\n", std::nullopt, "", AtWritePolicy::Quiet()));
    ASSERT_EQ(device.writes.size(), 2u);
    EXPECT_EQ(ToText(device.writes[0]), "AT+MVTSN=1,5,\"SN01\"\r\n");
    EXPECT_EQ(ToText(device.writes[1]), "AT\r\n");
    EXPECT_EQ(Elapsed(), 800u + 300u);
    EXPECT_TRUE(reporter.lines.empty());
}

TEST_F(AtChannelTest, WriteRefusalFollowsThePolicy) {
    Answer("\r\n+CME ERROR: 4\r\n");
    EXPECT_FALSE(Channel().AtWriteValue("AT+X=", "1", "", AtWritePolicy::Quiet()));
    EXPECT_TRUE(reporter.lines.empty());
    EXPECT_TRUE(Channel().AtWriteValue("AT+CLLEN=", "5", "Fail to write CLLEN",
                                       AtWritePolicy::UnsupportedIsSuccess("Could not support command:CLLEN")));
    EXPECT_EQ(reporter.lines.back().text, "Could not support command:CLLEN");
    EXPECT_EQ(reporter.lines.back().kind, core::kReportInfo);
    EXPECT_FALSE(Channel().AtWriteValue("AT+CUIT87=", "PASS", "Fail to write UIT87"));
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, Fail to write UIT87, Error code: 0"});
}

TEST_F(AtChannelTest, EchoOfAValueHoldingOkDoesNotCountAsTheAnswer) {
    Answer({{"AT+MVTSN=1,5,\"SN0OK1\"\r", 0}, {"\r\nERROR\r\n", 1000}});
    EXPECT_FALSE(Channel().AtWriteValue("AT+MVTSN=1,5,", "\"SN0OK1\"", "Fail to write SN"));
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, Fail to write SN, Error code: 0"});
}

TEST_F(AtChannelTest, WriteTimeOutFailsUnlessQuiet) {
    EXPECT_FALSE(Channel().AtWriteValue("AT\r\n", std::nullopt, "", AtWritePolicy::Quiet()));
    EXPECT_GE(Elapsed(), 8000u);
    EXPECT_TRUE(reporter.lines.empty());
    EXPECT_FALSE(Channel().AtWriteValue("AT+GMI=", "\"x\"", "Fail to write GMI",
                                        AtWritePolicy::UnsupportedIsSuccess("Could not support command:GMI")));
    EXPECT_EQ(reporter.Texts(), Lines{"ERROR, Fail to write GMI, Error code: 0"});
    reporter.status = 0;
    EXPECT_FALSE(Channel().AtWriteValue("AT+WIFICAL=", "\"1\"", "Fail to wifi cal"));
    EXPECT_EQ(reporter.Errors().back(), "ERROR, Fail to wifi cal, Error code: 0");
}

TEST_F(AtChannelTest, WriteCallFailures) {
    device.failWrites = 1;
    EXPECT_FALSE(Channel().AtWriteValue("AT+X=", "1", "Fail"));
    EXPECT_EQ(Elapsed(), 0u);
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, ->Could not send command to serial port, Error code: 5"});
    device.failWrites = 1;
    EXPECT_FALSE(Channel().AtWriteSlow("AT+CGDCONT=", "1,\"IP\",\"a\"", "Fail to write APN1"));
    EXPECT_EQ(reporter.errorCalls, 2);

    // A failed read ends the write without a word.
    Answer("\r\nOK\r\n");
    device.failReads = 2;
    EXPECT_FALSE(Channel().AtWriteValue("AT+X=", "1", "Fail"));
    EXPECT_FALSE(Channel().AtWriteSlow("AT+X=", "1", "Fail"));
    EXPECT_EQ(reporter.errorCalls, 2);
}

TEST_F(AtChannelTest, SlowWriteWaitsBeforeAndBetweenReads) {
    Answer("\r\nOK\r\n");
    EXPECT_TRUE(Channel(true).AtWriteSlow("AT+CGDCONT=", "1,\"IP\",\"a\"", "Fail to write APN1"));
    EXPECT_EQ(writtenAt, 3000u);
    EXPECT_EQ(Elapsed(), 5300u);
    EXPECT_EQ(ToText(device.writes.back()), "AT+CGDCONT=1,\"IP\",\"a\"\r\n");

    started = clock.TickCount();
    EXPECT_TRUE(Channel().AtWriteSlow("at!autoins=", "1", "Fail to write mode"));
    EXPECT_EQ(Elapsed(), 5800u);
    EXPECT_TRUE(reporter.lines.empty());
}

TEST_F(AtChannelTest, SlowWriteKeepsWaitingAfterAnError) {
    Answer({{"\r\nERROR\r\n", 0}, {"\r\nOK\r\n", 4000}});
    EXPECT_TRUE(Channel().AtWriteSlow("at!autoins=", "1", "Fail to write mode"));
    EXPECT_EQ(device.readCalls, 2);

    started = clock.TickCount();
    Answer("\r\nERROR\r\n");
    EXPECT_FALSE(Channel().AtWriteSlow("at!autoins=", "1", "Fail to write mode"));
    EXPECT_GE(Elapsed(), 3000u + 8000u);
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, Fail to write mode, Error code: 0"});
}

TEST(AtTextTest, StripHelpers) {
    EXPECT_EQ(StripLineBreaks("\r\n 1,\"IP\"\r\n\r\n"), " 1,\"IP\"");
    EXPECT_EQ(StripLineBreaksAndQuotes("\r\n 1,\"IP\"\r\n\r\n"), " 1,IP");
}

TEST(AtTextTest, ReplyCollectionSkipsNulsAndIsBounded) {
    std::string reply;
    const uint8_t bytes[] = {'O', 0, 'K'};
    AppendReplyBytes(reply, bytes, sizeof bytes);
    EXPECT_EQ(reply, "OK");
    const std::vector<uint8_t> flood(kMaxReplyBytes, 'x');
    AppendReplyBytes(reply, flood.data(), flood.size());
    EXPECT_EQ(reply.size(), kMaxReplyBytes);
}

TEST(AtTextTest, ResultCodes) {
    EXPECT_EQ(FindFinalOk("x\rOK\r"), 2u);
    EXPECT_FALSE(FindFinalOk("x\rOK"));
    EXPECT_EQ(FindFinalOk("x\rOK  ", ReplyWait::Over), 2u);
    EXPECT_EQ(FindFinalOk("\r\nOKAY\r\nOK \r\n"), 8u);
    EXPECT_FALSE(FindFinalOk("\r\nOKAY\r\n", ReplyWait::Over));
    EXPECT_FALSE(FindFinalOk("+X: 1 OK\r\n", ReplyWait::Over));
    EXPECT_FALSE(FindFinalOkAfterCrLf("x\rOK\r\n"));
    EXPECT_FALSE(FindFinalOkAfterCrLf("\r\nOK"));
    EXPECT_EQ(FindFinalOkAfterCrLf("\r\nOK", ReplyWait::Over), 2u);
    EXPECT_FALSE(FindFinalOkAfterCrLf("+CGDCONT: 1,\"IP\",\"a\" OK", ReplyWait::Over));
    EXPECT_TRUE(HasErrorResult("AT+X\r\r\n+CMS ERROR: 500\r\n"));
    EXPECT_FALSE(HasErrorResult("COMMAND ERROR\r\n"));
    EXPECT_FALSE(HasErrorResult("\r\n+T: UIT87:ERROR,UIT89:PASS\r\n"));
}

}  // namespace
}  // namespace firmora::link
