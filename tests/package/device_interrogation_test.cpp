#include "package/device_interrogation.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fake_serial.h"
#include "platform/virtual_clock.h"
#include "recording_log.h"

namespace firmora::package {
namespace {

using testing::ToText;

constexpr const char* kAtiReply =
    "\r\nManufacturer: Firmora\r\nModel: FM9x15 LTE\r\nRevision: v2.0.2\r\nIMEI: 353456789012348\r\n\r\nOK\r\n";

// A device on COM7 that answers each command it knows after 50 ms, in
// pieces of the given size (0: whole).
class InterrogationTest : public ::testing::Test {
protected:
    InterrogationTest() {
        Answer(device);
        replies["ATI\r\n"] = kAtiReply;
        replies["AT+MVTSW\r\n\r\n"] = "\r\n+MVTSW: MDM9x15.LTE.VQA0012.v2.0.2\r\n\r\nOK\r\n";
        replies["at+mvtinf=0,2\r\n\r\n"] = "\r\n+MVTINF: MDM9x15\r\n\r\nOK\r\n";
        replies["AT+PMU\r\n\r\n"] = "\r\n+PMU: PM 8019\r\n\r\nOK\r\n";
    }

    void Answer(testing::FakeSerialDevice& port) {
        port.responder = [this, &port](const testing::Bytes& written) {
            const std::string command = ToText(written);
            sent.push_back(command);
            const auto reply = replies.find(command);
            if (reply == replies.end()) return;
            const std::string& text = reply->second;
            const size_t piece = pieceBytes == 0 ? text.size() : pieceBytes;
            for (size_t at = 0, n = 0; at < text.size(); at += piece, ++n) {
                port.Deliver(text.substr(at, piece), 50 + n * pieceGapMs);
            }
        };
    }

    DeviceInterrogation& Probe(const std::string& packageName = "MDM9x15") {
        interrogation = std::make_unique<DeviceInterrogation>(ports, clock, log, packageName);
        return *interrogation;
    }
    // ProbeQuery on an open handle of COM7.
    bool Query(const std::string& command, std::string& result) {
        auto port = ports.Open("COM7");
        port->SetTimeouts({platform::kTimeoutMax, 0, 0, 100, 1000});
        return ProbeQuery(*port, clock, command, result);
    }

    platform::VirtualClock clock;
    testing::FakeSerialPorts ports{clock};
    testing::FakeSerialDevice& device = ports.Device("COM7");
    testing::RecordingLog log;
    std::map<std::string, std::string> replies;
    size_t pieceBytes = 0;
    uint64_t pieceGapMs = 100;
    std::vector<std::string> sent;
    std::unique_ptr<DeviceInterrogation> interrogation;
};

TEST_F(InterrogationTest, AnAtPortPassesWithItsReadingsAndEveryStepLogged) {
    DeviceInterrogation& probe = Probe();
    EXPECT_TRUE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(probe.Readings().DeviceRevision, "v2.0.2");
    EXPECT_EQ(probe.Readings().DeviceSoftwareVersion, "MDM9x15.LTE.VQA0012.v2.0.2");
    EXPECT_EQ(probe.Readings().BoardType, "");
    EXPECT_EQ(sent, (std::vector<std::string>{"ATI\r\n", "AT+MVTSW\r\n\r\n", "at+mvtinf=0,2\r\n\r\n"}));
    EXPECT_EQ(log.Lines(), (std::vector<std::string>{"Start Send ATI COM7", "Send ATI COM7 OK",
                                                      "Start Send AT+MVTSW COM7", "Send AT+MVTSW COM7 OK",
                                                      "Start Send at+mvtinf=0,2 COM7", "Send at+mvtinf=0,2 COM7 OK",
                                                      "Close Port COM7"}));
    EXPECT_EQ(device.line.baudRate, 115200u);
    EXPECT_EQ(device.line.dtr, platform::DtrControl::Enable);
    EXPECT_EQ(device.timeouts, (platform::SerialTimeouts{platform::kTimeoutMax, 0, 0, 100, 1000}));
    EXPECT_EQ(device.closes, 1);
    EXPECT_FALSE(device.open);
}

TEST_F(InterrogationTest, PortsAboveNineAreOpenedWithTheDevicePrefix) {
    Answer(ports.Device("\\\\.\\COM12"));
    EXPECT_TRUE(Probe().ProbeAtPort("COM12"));
    EXPECT_EQ(ports.opened, (std::vector<std::string>{"\\\\.\\COM12"}));
}

TEST_F(InterrogationTest, APortThatAnswersAtiWithoutOkIsClosedAndNotListed) {
    replies["ATI\r\n"] = "\r\nManufacturer: Firmora\r\n";
    DeviceInterrogation& probe = Probe();
    EXPECT_FALSE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(sent.size(), 1u);
    EXPECT_EQ(log.Lines().back(), "Close Port COM7");
    EXPECT_EQ(device.closes, 1);

    // Silence costs the first pause and ten more.
    replies.erase("ATI\r\n");
    const uint64_t start = clock.TickCount();
    EXPECT_FALSE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(clock.TickCount() - start, 1100u);
}

TEST_F(InterrogationTest, TheRevisionStartsOneCharacterAfterTheColon) {
    DeviceInterrogation& probe = Probe();
    replies["ATI\r\n"] = "Revision:v2.0.2\r\nIMEI: 1\r\nOK\r\n";
    EXPECT_TRUE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(probe.Readings().DeviceRevision, "2.0.2");
    // Without an IMEI line the revision ends with its line.
    replies["ATI\r\n"] = "Revision: v2.0.3\r\nModel: X\r\nOK\r\n";
    EXPECT_TRUE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(probe.Readings().DeviceRevision, "v2.0.3");
    replies["ATI\r\n"] = "Model: X\r\nOK\r\n";
    EXPECT_TRUE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(probe.Readings().DeviceRevision, "");
}

TEST_F(InterrogationTest, AnInfoQueryAnsweredWithErrorFailsAfterTheOthersPassed) {
    replies["at+mvtinf=0,2\r\n\r\n"] = "\r\nERROR\r\n";
    DeviceInterrogation& probe = Probe();
    EXPECT_FALSE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(probe.Readings().DeviceSoftwareVersion, "MDM9x15.LTE.VQA0012.v2.0.2");
    EXPECT_FALSE(log.Has("Send at+mvtinf=0,2 COM7 OK"));
    EXPECT_EQ(device.closes, 1);
}

TEST_F(InterrogationTest, AFailedVersionQueryEmptiesTheVersion) {
    DeviceInterrogation& probe = Probe();
    ASSERT_TRUE(probe.ProbeAtPort("COM7"));
    replies["AT+MVTSW\r\n\r\n"] = "\r\n+CME ERROR: 4\r\n";
    EXPECT_FALSE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(probe.Readings().DeviceSoftwareVersion, "");
    EXPECT_EQ(probe.Readings().DeviceRevision, "v2.0.2");
}

TEST_F(InterrogationTest, TheBoardTypeIsAskedForOnlyByTheDualBoardPackages) {
    replies["AT+PMU\r\n\r\n"] = "\r\n+PMU: GMT 1\r\n\r\nOK\r\n";
    DeviceInterrogation& zt72 = Probe("ZT72");
    EXPECT_TRUE(zt72.ProbeAtPort("COM7"));
    EXPECT_EQ(zt72.Readings().BoardType, "ZT73");
    EXPECT_EQ(sent.back(), "AT+PMU\r\n\r\n");

    replies["AT+PMU\r\n\r\n"] = "\r\n+PMU: TI\r\n\r\nOK\r\n";
    DeviceInterrogation& zt67 = Probe("ZT6711");
    EXPECT_TRUE(zt67.ProbeAtPort("COM7"));
    EXPECT_EQ(zt67.Readings().BoardType, "ZT6718");

    // A failed query does not fail the probe; the last text decides.
    replies["AT+PMU\r\n\r\n"] = "\r\nERROR\r\n";
    EXPECT_TRUE(zt67.ProbeAtPort("COM7"));
    EXPECT_EQ(zt67.Readings().BoardType, "ZT6711");

    sent.clear();
    EXPECT_TRUE(Probe("ZT700").ProbeAtPort("COM7"));
    EXPECT_EQ(sent.size(), 3u);
}

TEST_F(InterrogationTest, AHandleThatWillNotCloseIsTriedAgainByTheNextProbe) {
    DeviceInterrogation& probe = Probe();
    device.failCloses = 10;
    EXPECT_TRUE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(log.Count("Warning-34"), 10u);
    EXPECT_TRUE(device.open);
    device.failCloses = 1;
    probe.ProbeAtPort("COM7");
    EXPECT_EQ(log.Count("Warning-27"), 1u);
    EXPECT_EQ(device.closes, 2);
}

TEST_F(InterrogationTest, EachFailingStepClosesWithItsWarning) {
    device.failLineSettings = true;
    device.failCloses = 1;
    EXPECT_FALSE(Probe().ProbeAtPort("COM7"));
    EXPECT_TRUE(log.Has("Warning-29"));
    device.failLineSettings = false;

    device.failWrites = 1;
    device.failCloses = 1;
    EXPECT_FALSE(Probe().ProbeAtPort("COM7"));
    EXPECT_TRUE(log.Has("Warning-30"));
    EXPECT_FALSE(device.open);

    ports.refused = {"COM7"};
    EXPECT_FALSE(Probe().ProbeAtPort("COM7"));
    EXPECT_FALSE(Probe().ProbeAtPort("LPT1"));
}

TEST_F(InterrogationTest, AReplySplitOverReadsIsJudgedOnEverythingReceived) {
    pieceBytes = 7;
    pieceGapMs = 60;
    DeviceInterrogation& probe = Probe();
    EXPECT_TRUE(probe.ProbeAtPort("COM7"));
    EXPECT_EQ(probe.Readings().DeviceRevision, "v2.0.2");
    EXPECT_EQ(probe.Readings().DeviceSoftwareVersion, "MDM9x15.LTE.VQA0012.v2.0.2");
}

TEST_F(InterrogationTest, AQueryEndsAtTheFirstErrorAndAfterTenSilentReads) {
    std::string result = "kept";
    replies["AT+X\r\n"] = "\r\nERROR\r\n";
    EXPECT_FALSE(Query("AT+X\r\n", result));
    EXPECT_EQ(device.readCalls, 1);
    EXPECT_EQ(result, "kept");

    device.readCalls = 0;
    EXPECT_FALSE(Query("AT+SILENT\r\n", result));
    EXPECT_EQ(device.readCalls, 10);

    // A device that keeps talking never makes it read past its buffer.
    replies["AT+TALK\r\n"] = std::string(5000, 'x');
    EXPECT_FALSE(Query("AT+TALK\r\n", result));

    device.failReads = 1;
    replies["AT\r\n"] = "OK\r\n";
    EXPECT_FALSE(Query("AT\r\n", result));
}

TEST_F(InterrogationTest, EachQueryTakesItsOwnPartOfTheReply) {
    std::string result;
    replies["AT+CGMR\r\n\r\n"] = "\r\nMDM9X15-VQA0012-V2.0.2\r\n\r\nOK\r\n";
    ASSERT_TRUE(Query("AT+CGMR\r\n\r\n", result));
    EXPECT_EQ(result, "VQA0012-V2.0.2");
    replies["AT+CGMR\r\n\r\n"] = "\r\nVWA0016 b\r\nOK\r\n";
    ASSERT_TRUE(Query("AT+CGMR\r\n\r\n", result));
    EXPECT_EQ(result, "VWA0016 b");
    replies["AT+CGMR\r\n\r\n"] = "\r\nM9615\r\nOK\r\n";
    result = "kept";
    EXPECT_FALSE(Query("AT+CGMR\r\n\r\n", result));
    EXPECT_EQ(result, "kept");

    ASSERT_TRUE(Query("AT+PMU\r\n\r\n", result));
    EXPECT_EQ(result, "PM8019");

    replies["at+mvtinf=0,2\r\n\r\n"] = "\r\n+MVTINF: X\r\nOK\r\n";
    ASSERT_TRUE(Query("at+mvtinf=0,2\r\n\r\n", result));
    EXPECT_EQ(result, "");
}

TEST_F(InterrogationTest, TheSoftwareVersionIsTheTaggedLineOrTheFirstPlainOne) {
    std::string result;
    replies["AT+MVTSW\r\n\r\n"] = "+MVTSW:  ZT73.3.VQA.1234 \r\nOK\r\n";
    ASSERT_TRUE(Query("AT+MVTSW\r\n\r\n", result));
    EXPECT_EQ(result, "ZT73.3.VQA.1234");
    // Echo on, no tag.
    replies["AT+MVTSW\r\n\r\n"] = "AT+MVTSW\r\r\n\r\nRE78_51.3.VQA0012\r\n\r\nOK\r\n";
    ASSERT_TRUE(Query("AT+MVTSW\r\n\r\n", result));
    EXPECT_EQ(result, "RE78_51.3.VQA0012");
    replies["AT+MVTSW\r\n\r\n"] = "\r\nOK\r\n";
    ASSERT_TRUE(Query("AT+MVTSW\r\n\r\n", result));
    EXPECT_EQ(result, "");
}

}  // namespace
}  // namespace firmora::package
