#include "link/serial_channel.h"

#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "fake_serial.h"
#include "platform/last_error.h"
#include "recording_reporter.h"

namespace firmora::link {
namespace {

using platform::DtrControl;
using platform::LineSettings;
using platform::RtsControl;
using platform::SerialTimeouts;
using platform::kTimeoutMax;
using testing::FakeSerialDevice;
using testing::FakeSerialPorts;
using testing::RecordingReporter;
using Lines = std::vector<std::string>;

// Every field the opposite of what either channel sets.
LineSettings OddLine() {
    return {9600, 7, platform::Parity::Even, platform::StopBits::Two, false, true, true, true,
            DtrControl::Disable, RtsControl::Handshake, true, true, true, true, true, true, true};
}

class SerialChannelTest : public ::testing::Test {
protected:
    void SetUp() override {
        device.line = OddLine();
        platform::SetLastError(0);
    }
    SerialChannel& Channel(ChannelRole role) {
        channel = std::make_unique<SerialChannel>(role, ports, clock, reporter, options);
        return *channel;
    }
    uint64_t Elapsed() const { return clock.TickCount() - started; }

    platform::VirtualClock clock;
    FakeSerialPorts ports{clock};
    FakeSerialDevice& device = ports.Device("COM3");
    RecordingReporter reporter;
    package::DownloadOptions options;
    std::unique_ptr<SerialChannel> channel;
    uint64_t started = clock.TickCount();
};

TEST_F(SerialChannelTest, PortsFromTenOnUseTheDeviceNamespace) {
    SerialChannel& at = Channel(ChannelRole::At);
    EXPECT_TRUE(at.OpenAtChannel(9));
    EXPECT_TRUE(at.OpenAtChannel(10));
    EXPECT_EQ(ports.opened, (Lines{"COM9", "\\\\.\\COM10"}));
    EXPECT_EQ(ports.Device("COM9").closes, 1);  // re-opening closes the old handle
}

TEST_F(SerialChannelTest, AtChannelIsSetForTextAndKeepsTheDriversOtherFields) {
    EXPECT_TRUE(Channel(ChannelRole::At).OpenAtChannel(3));
    LineSettings expected = OddLine();
    expected.baudRate = 115200;
    expected.dataBits = 8;
    expected.parity = platform::Parity::None;
    expected.stopBits = platform::StopBits::One;
    expected.binary = true;
    expected.parityCheck = false;
    expected.dtr = DtrControl::Enable;
    EXPECT_EQ(device.line, expected);
    EXPECT_EQ(device.timeouts, (SerialTimeouts{kTimeoutMax, 0, 0, 100, 1000}));
    EXPECT_EQ(device.purges, std::vector<uint32_t>{platform::kPurgeAll});
    EXPECT_EQ(device.queueIn, 0u);
    ASSERT_EQ(reporter.lines.size(), 1u);
    EXPECT_EQ(reporter.lines[0].text, "Ready 1......");
    EXPECT_EQ(reporter.lines[0].kind, core::kReportInfo);
}

TEST_F(SerialChannelTest, AtChannelFailures) {
    ports.refused = {"COM7"};
    SerialChannel& at = Channel(ChannelRole::At);
    EXPECT_FALSE(at.ReopenAtChannel(7));
    EXPECT_TRUE(reporter.lines.empty());
    EXPECT_FALSE(at.OpenAtChannel(7));
    EXPECT_FALSE(at.IsOpen());
    EXPECT_EQ(reporter.Texts(), Lines{"ERROR, Fail to connect serial port, Error code: 2"});

    RecordingReporter second;
    SerialChannel other(ChannelRole::At, ports, clock, second, options);
    device.failLineSettings = true;
    EXPECT_FALSE(other.ReopenAtChannel(3));
    EXPECT_TRUE(second.lines.empty());
    EXPECT_FALSE(other.OpenAtChannel(3));
    EXPECT_TRUE(other.IsOpen());
    EXPECT_EQ(second.Texts(), Lines{"ERROR, Fail to config serial port, Error code: 22"});
}

TEST_F(SerialChannelTest, DiagChannelIsSetForFramedPackets) {
    EXPECT_TRUE(Channel(ChannelRole::Diagnostic).OpenDiagChannel(3));
    LineSettings expected;
    expected.dtr = DtrControl::Disable;
    expected.rts = RtsControl::Disable;
    EXPECT_EQ(device.line, expected);
    EXPECT_EQ(device.queueIn, 4096u);
    EXPECT_EQ(device.queueOut, 4096u);
    EXPECT_EQ(device.purges, (std::vector<uint32_t>{platform::kPurgeTxAbort | platform::kPurgeTxClear,
                                                    platform::kPurgeRxAbort | platform::kPurgeRxClear}));
    ASSERT_EQ(reporter.lines.size(), 2u);
    EXPECT_EQ(reporter.lines[0].text, "Opened......");
    EXPECT_EQ(reporter.lines[0].kind, core::kReportTrace);
    EXPECT_EQ(reporter.lines[1].text, "Initial port successful after reset.");
}

TEST_F(SerialChannelTest, DiagTimeoutsDependOnTheProject) {
    const SerialTimeouts slow{1000, 1000, 2000, 1000, 3000};
    const SerialTimeouts usual{kTimeoutMax, kTimeoutMax, 1000, 1, 1000};
    const std::vector<std::tuple<int, SerialTimeouts, uint64_t>> cases = {
        {6, slow, 3000}, {19, slow, 3000}, {20, slow, 3000}, {42, slow, 3000}, {1013, usual, 1000}, {-1, usual, 1000}};
    for (const auto& [project, timeouts, emptyReadMs] : cases) {
        options.ProjectIndex = project;
        SerialChannel& diag = Channel(ChannelRole::Diagnostic);
        ASSERT_TRUE(diag.OpenDiagChannel(3));
        EXPECT_EQ(device.timeouts, timeouts) << project;
        // A one-byte read with nothing arriving returns empty after the time-out.
        uint8_t byte = 0;
        started = clock.TickCount();
        EXPECT_EQ(diag.ReadBytes(&byte, 1), 0u);
        EXPECT_EQ(Elapsed(), emptyReadMs) << project;
    }
}

TEST_F(SerialChannelTest, DiagSetupFailuresAreReportedAndConfigurationGoesOn) {
    device.failQueueSizes = true;
    EXPECT_TRUE(Channel(ChannelRole::Diagnostic).OpenDiagChannel(3));
    EXPECT_EQ(reporter.lines.at(1).text, "warning:SetupComm!");
    EXPECT_EQ(reporter.lines.at(1).kind, core::kReportTrace);

    options.bFastSpeedDownload = true;
    EXPECT_TRUE(Channel(ChannelRole::Diagnostic).OpenDiagChannel(3));
    EXPECT_TRUE(reporter.Has("warning:SetupComm."));
    device.failQueueSizes = false;
    options.m_nBlockSize = 16384;
    EXPECT_TRUE(Channel(ChannelRole::Diagnostic).OpenDiagChannel(3));
    EXPECT_EQ(device.queueIn, 16384u);
    EXPECT_EQ(device.queueOut, 16384u);
    options.m_nBlockSize = -1;  // a broken package value keeps the ordinary queue
    EXPECT_TRUE(Channel(ChannelRole::Diagnostic).OpenDiagChannel(3));
    EXPECT_EQ(device.queueIn, 4096u);
    EXPECT_TRUE(reporter.Errors().empty());

    device.failLineSettings = true;
    device.failTimeouts = true;
    device.purges.clear();
    EXPECT_TRUE(Channel(ChannelRole::Diagnostic).OpenDiagChannel(3));
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, Could not setup COMM port, Error code: 22"});
    EXPECT_EQ(reporter.errorCalls, 2);  // the time-outs failed too
    EXPECT_EQ(device.purges.size(), 2u);
}

TEST_F(SerialChannelTest, DiagChannelThatCannotOpen) {
    ports.refused = {"COM3"};
    SerialChannel& diag = Channel(ChannelRole::Diagnostic);
    EXPECT_FALSE(diag.OpenDiagChannel(3));
    EXPECT_TRUE(reporter.lines.empty());
    diag.ConfigureDiagChannel();
    EXPECT_EQ(reporter.Errors(), Lines{"ERROR, Could not open COMM port, Error code: 2"});
}

TEST_F(SerialChannelTest, FailedWriteIsRetriedSixTimesASecondApart) {
    SerialChannel& diag = Channel(ChannelRole::Diagnostic);
    ASSERT_TRUE(diag.Open(3));
    const uint8_t data[] = {1, 2, 3};
    device.failWrites = 6;
    EXPECT_EQ(diag.WriteBytes(data, sizeof data), 0u);
    EXPECT_EQ(Elapsed(), 6000u);
    EXPECT_EQ(reporter.Texts(), Lines(6, "Write to commport have a warning: 5"));
    EXPECT_EQ(reporter.lines[0].kind, core::kReportInfo);

    device.failWrites = 2;
    EXPECT_EQ(diag.WriteBytes(data, sizeof data), 3u);
    EXPECT_EQ(device.written.size(), 3u);

    options.bFastSpeedDownload = true;
    device.failWrites = 6;
    started = clock.TickCount();
    EXPECT_EQ(diag.WriteBytes(data, sizeof data), 0u);
    EXPECT_EQ(Elapsed(), 1000u);
    EXPECT_EQ(device.failWrites, 5);
}

TEST_F(SerialChannelTest, AGoneDeviceIsNeitherRetriedNorWaitedFor) {
    SerialChannel& diag = Channel(ChannelRole::Diagnostic);
    ASSERT_TRUE(diag.Open(3));
    EXPECT_FALSE(diag.DeviceGone());
    device.gone = true;
    const uint8_t data[] = {1, 2, 3};
    uint8_t buffer[8] = {};
    EXPECT_EQ(diag.WriteBytes(data, sizeof data), 0u);
    EXPECT_EQ(diag.ReadBytes(buffer, sizeof buffer), 0u);
    EXPECT_EQ(diag.ReadBytes(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(diag.DeviceGone());
    EXPECT_EQ(Elapsed(), 0u);
    EXPECT_EQ(reporter.Texts(), (std::vector<std::string>{"Write to commport have a warning: 5",
                                                          "read from commmport have a warning: 5"}));
}

TEST_F(SerialChannelTest, FailedReadWarnsPausesAndGivesNothing) {
    SerialChannel& diag = Channel(ChannelRole::Diagnostic);
    uint8_t buffer[8] = {};
    EXPECT_EQ(diag.ReadBytes(buffer, sizeof buffer), 0u);  // not open
    EXPECT_EQ(reporter.Texts(), Lines{"read from commmport have a warning: 9"});
    EXPECT_EQ(Elapsed(), 500u);

    ASSERT_TRUE(diag.OpenDiagChannel(3));
    device.Deliver(std::string("\x7E\x01"));
    EXPECT_EQ(diag.ReadBytes(buffer, sizeof buffer), 2u);
    device.failReads = 1;
    EXPECT_EQ(diag.ReadBytes(buffer, sizeof buffer), 0u);
    EXPECT_TRUE(reporter.Has("read from commmport have a warning: 5"));
}

TEST_F(SerialChannelTest, CloseIsRetriedTenTimesAHundredMillisecondsApart) {
    SerialChannel& at = Channel(ChannelRole::At);
    ASSERT_TRUE(at.Open(3));
    device.failCloses = 3;
    EXPECT_TRUE(at.CloseChannel("Warning-7"));
    EXPECT_FALSE(at.IsOpen());
    EXPECT_EQ(reporter.Texts(), Lines(3, "Warning-7"));
    EXPECT_EQ(Elapsed(), 300u);

    ASSERT_TRUE(at.Open(3));
    device.failCloses = 10;
    EXPECT_FALSE(at.CloseChannel("Warning-9"));
    EXPECT_TRUE(at.IsOpen());
    EXPECT_EQ(reporter.lines.size(), 13u);
    EXPECT_EQ(Elapsed(), 1300u);
    EXPECT_TRUE(at.CloseChannel("Warning-9"));
}

}  // namespace
}  // namespace firmora::link
