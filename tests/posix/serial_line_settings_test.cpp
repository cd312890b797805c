// Line settings of a POSIX serial port on a pseudo-terminal, which has no
// modem lines and forces 8 data bits without parity.

#include <termios.h>

#include <cerrno>

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/posix/posix_serial_port.h"
#include "serial_pty.h"

namespace firmora::platform {
namespace {

using testing::PtyPair;

class SerialLineSettingsTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok());
        port_ = PosixSerialPort::Open(pty_.slavePath());
        ASSERT_NE(port_, nullptr) << "errno " << LastError();
    }

    LineSettings Current() {
        LineSettings s;
        EXPECT_TRUE(port_->GetLineSettings(s));
        return s;
    }

    termios Termios() {
        termios t{};
        EXPECT_EQ(::tcgetattr(port_->NativeHandle(), &t), 0);
        return t;
    }

    PtyPair pty_;
    std::unique_ptr<PosixSerialPort> port_;
};

TEST_F(SerialLineSettingsTest, EveryFieldComesBackAsSet) {
    LineSettings s;
    s.baudRate = 9600;
    s.parityCheck = true;
    s.ctsOutFlow = true;
    s.dsrOutFlow = true;
    s.dtr = DtrControl::Disable;  // modem lines: a pty refuses, the call must not
    s.rts = RtsControl::Disable;
    s.dsrSensitivity = true;
    s.txContinueOnXoff = true;
    s.xonXoffOut = true;
    s.xonXoffIn = true;
    s.errorCharReplace = true;
    s.nullStrip = true;
    s.abortOnError = true;
    ASSERT_TRUE(port_->SetLineSettings(s)) << "errno " << LastError();
    EXPECT_EQ(Current(), s);

    const termios t = Termios();
    EXPECT_EQ(::cfgetospeed(&t), static_cast<speed_t>(B9600));
    EXPECT_EQ(::cfgetispeed(&t), static_cast<speed_t>(B9600));
    EXPECT_NE(t.c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), static_cast<tcflag_t>(INPCK | IXON | IXOFF));
    EXPECT_EQ(t.c_lflag & (ECHO | ICANON | ISIG), 0u);

    // What the AT channel sets, over what was there.
    LineSettings at = s;
    at.baudRate = 115200;
    at.parityCheck = false;
    at.dtr = DtrControl::Enable;
    at.ctsOutFlow = at.xonXoffOut = at.xonXoffIn = false;
    ASSERT_TRUE(port_->SetLineSettings(at));
    EXPECT_EQ(Current(), at);
    EXPECT_EQ(Termios().c_cflag & CRTSCTS, 0u);
}

TEST_F(SerialLineSettingsTest, HandshakeModesShareTheHardwareFlowFlag) {
    LineSettings s;
    s.rts = RtsControl::Handshake;
    s.ctsOutFlow = false;
    s.dtr = DtrControl::Handshake;
    ASSERT_TRUE(port_->SetLineSettings(s));
    EXPECT_NE(Termios().c_cflag & CRTSCTS, 0u);
    EXPECT_EQ(Current(), s);
}

TEST_F(SerialLineSettingsTest, UnsupportedSettingsAreRefusedAndChangeNothing) {
    LineSettings good;
    good.baudRate = 57600;
    ASSERT_TRUE(port_->SetLineSettings(good));

    auto with = [&](auto change) {
        LineSettings s = good;
        change(s);
        return s;
    };
    const LineSettings refused[] = {
        with([](LineSettings& s) { s.baudRate = 14400; }),
        with([](LineSettings& s) { s.baudRate = 0; }),
        with([](LineSettings& s) { s.dataBits = 4; }),
        with([](LineSettings& s) { s.dataBits = 9; }),
        with([](LineSettings& s) { s.stopBits = StopBits::OnePointFive; }),
        with([](LineSettings& s) { s.dataBits = 5, s.stopBits = StopBits::Two; }),
        with([](LineSettings& s) { s.rts = RtsControl::Toggle; }),
        // The pseudo-terminal driver drops the frame format and keeps the
        // speed, so tcsetattr reports success; the port must not, and must
        // not keep the half-applied speed either.
        with([](LineSettings& s) { s.baudRate = 9600, s.dataBits = 7, s.parity = Parity::Even; }),
    };
    for (const LineSettings& s : refused) {
        SetLastError(0);
        EXPECT_FALSE(port_->SetLineSettings(s))
            << s.baudRate << " " << int(s.dataBits) << " " << int(s.stopBits) << " " << int(s.parity);
        EXPECT_EQ(LastError(), static_cast<uint32_t>(EINVAL));
        EXPECT_EQ(Current(), good);
    }
}

TEST_F(SerialLineSettingsTest, ChangesMadeOutsideThePortAreReported) {
    termios t = Termios();
    ::cfsetispeed(&t, B230400);
    ::cfsetospeed(&t, B230400);
    t.c_cflag |= CRTSCTS;
    ASSERT_EQ(::tcsetattr(port_->NativeHandle(), TCSANOW, &t), 0);

    const LineSettings s = Current();
    EXPECT_EQ(s.baudRate, 230400u);
    EXPECT_EQ(s.dataBits, 8);
    EXPECT_EQ(s.parity, Parity::None);
    EXPECT_EQ(s.stopBits, StopBits::One);
    EXPECT_TRUE(s.ctsOutFlow);
}

}  // namespace
}  // namespace firmora::platform
