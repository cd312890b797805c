#include "modeswitch/d1_switch.h"

#include <gtest/gtest.h>

#include "fake_serial.h"
#include "platform/virtual_clock.h"

namespace firmora::modeswitch {
namespace {

class D1SwitchTest : public ::testing::Test {
protected:
    platform::VirtualClock clock;
    testing::FakeSerialPorts ports{clock};
    testing::FakeSerialDevice& device = ports.Device("COM3");
    SerialD1Switch d1{ports, clock};
};

TEST_F(D1SwitchTest, ASwitchTheDeviceNeverAnswersStillCountsAsDelivered) {
    EXPECT_TRUE(d1.SendD1Switch("COM3"));
    EXPECT_EQ(testing::ToText(device.written), "AT+DISK=8,\"D1\"\r\n");
    // 500 ms, then a poll every 800 ms for up to 8 s.
    EXPECT_EQ(clock.TickCount(), 500u + 8000u);
    EXPECT_EQ(device.closes, 1);
    EXPECT_EQ(device.line.baudRate, 115200u);
    EXPECT_EQ(device.timeouts, (platform::SerialTimeouts{platform::kTimeoutMax, 0, 0, 100, 1000}));
}

TEST_F(D1SwitchTest, AReplyEndsTheWait) {
    device.responder = [this](const testing::Bytes&) { device.Deliver("\r\nOK\r\n", 1000); };
    EXPECT_TRUE(d1.SendD1Switch("COM3"));
    EXPECT_EQ(clock.TickCount(), 500u + 800u);
}

TEST_F(D1SwitchTest, APortThatCannotBeOpenedConfiguredOrWrittenIsNotSwitched) {
    ports.refused = {"COM3"};
    EXPECT_FALSE(d1.SendD1Switch("COM3"));
    ports.refused.clear();

    device.failLineSettings = true;
    EXPECT_FALSE(d1.SendD1Switch("COM3"));
    EXPECT_TRUE(device.written.empty());
    device.failLineSettings = false;

    device.failWrites = 1;
    device.failCloses = 3;  // closed on the fourth attempt
    EXPECT_FALSE(d1.SendD1Switch("COM3"));
    EXPECT_FALSE(device.open);
    EXPECT_EQ(clock.TickCount(), 300u);
}

}  // namespace
}  // namespace firmora::modeswitch
