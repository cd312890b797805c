// Reads, writes, purges and hang-ups of a POSIX serial port against a
// pseudo-terminal. These tests run in real time, on loaded machines and under
// sanitizers, so they assert no speed: a read that must not wait is given a
// time-out far longer than kGenerous, and kGenerous only tells returning from
// waiting out that time-out. Exact timing belongs in a benchmark.

#include <cerrno>
#include <chrono>
#include <string>
#include <thread>

#include <gtest/gtest.h>

#include "platform/last_error.h"
#include "platform/posix/posix_serial_port.h"
#include "serial_pty.h"

namespace firmora::platform {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;
using testing::PtyPair;

constexpr SerialTimeouts kImmediate{kTimeoutMax, 0, 0, 0, 0};
constexpr auto kGenerous = 30s;
// A read time-out that no passing run comes near (two minutes).
constexpr uint32_t kLongWaitMs = 120'000;

class SerialPortIoTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(pty_.ok());
        port_ = PosixSerialPort::Open(pty_.slavePath());
        ASSERT_NE(port_, nullptr) << "errno " << LastError();
    }

    struct ReadResult {
        bool ok = false;
        std::string bytes;
        std::chrono::steady_clock::duration took{};
    };

    ReadResult ReadUnder(const SerialTimeouts& timeouts, size_t length) {
        EXPECT_TRUE(port_->SetTimeouts(timeouts));
        std::string buffer(length, '\0');
        size_t got = 99;
        const auto start = std::chrono::steady_clock::now();
        ReadResult r;
        r.ok = port_->Read(reinterpret_cast<uint8_t*>(buffer.data()), length, got);
        r.took = std::chrono::steady_clock::now() - start;
        EXPECT_LE(got, length);
        r.bytes = buffer.substr(0, got);
        return r;
    }

    // Waits (polling the receive queue) until `count` bytes have reached the port.
    void WaitQueued(uint32_t count) {
        const auto until = std::chrono::steady_clock::now() + kGenerous;
        SerialQueueStatus status;
        uint32_t mask = 0;
        do {
            ASSERT_TRUE(port_->ClearErrors(mask, &status));
            if (status.inQueue >= count) return;
            std::this_thread::sleep_for(1ms);
        } while (std::chrono::steady_clock::now() < until);
        FAIL() << "only " << status.inQueue << " of " << count << " bytes arrived";
    }

    // The device sends `text` after `delay`, from another thread.
    std::jthread SendLater(Ms delay, std::string text) {
        return std::jthread([this, delay, text] {
            std::this_thread::sleep_for(delay);
            pty_.Send(text);
        });
    }

    PtyPair pty_;
    std::unique_ptr<PosixSerialPort> port_;
};

TEST_F(SerialPortIoTest, EveryByteValuePassesUnchangedBothWays) {
    std::string all;
    for (int b = 0; b < 256; ++b) all.push_back(static_cast<char>(b));

    size_t written = 0;
    ASSERT_TRUE(port_->Write(reinterpret_cast<const uint8_t*>(all.data()), all.size(), written));
    EXPECT_EQ(written, all.size());
    EXPECT_EQ(pty_.Receive(all.size()), all);

    ASSERT_TRUE(pty_.Send(all));
    const ReadResult r = ReadUnder({0, 0, 5000, 0, 0}, all.size());
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, all);
    // Raw mode: nothing was echoed back to the device.
    EXPECT_EQ(pty_.Receive(1, 100), "");
}

TEST_F(SerialPortIoTest, ImmediateReadReturnsAtOnceWithWhatHasArrived) {
    ReadResult r = ReadUnder(kImmediate, 16);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "");
    EXPECT_LT(r.took, kGenerous);

    ASSERT_TRUE(pty_.Send("OK\r\n"));
    WaitQueued(4);
    r = ReadUnder(kImmediate, 16);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "OK\r\n");
}

TEST_F(SerialPortIoTest, FirstByteModeWaitsOnlyForTheFirstByte) {
    const SerialTimeouts firstByte{kTimeoutMax, kTimeoutMax, kLongWaitMs, 0, 0};
    {
        auto device = SendLater(50ms, "A");
        const ReadResult r = ReadUnder(firstByte, 16);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.bytes, "A");
        EXPECT_LT(r.took, kGenerous);
    }
    // Bytes already there come back without waiting for more.
    ASSERT_TRUE(pty_.Send("xy"));
    WaitQueued(2);
    ReadResult r = ReadUnder(firstByte, 16);
    EXPECT_EQ(r.bytes, "xy");
    EXPECT_LT(r.took, kGenerous);

    // Nothing at all: nothing, after the constant.
    r = ReadUnder({kTimeoutMax, kTimeoutMax, 300, 0, 0}, 1);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "");
    EXPECT_GE(r.took, 240ms);
    EXPECT_LT(r.took, kGenerous);
}

TEST_F(SerialPortIoTest, AccumulateWaitsForTheLengthWithinIntervalAndTotal) {
    {
        auto first = SendLater(20ms, "12");
        auto second = SendLater(120ms, "345");
        const ReadResult r = ReadUnder({1000, 0, 0, 0, 0}, 5);
        EXPECT_TRUE(r.ok);
        EXPECT_EQ(r.bytes, "12345");
    }
    ASSERT_TRUE(pty_.Send("abc"));
    WaitQueued(3);
    ReadResult r = ReadUnder({100, 0, 0, 0, 0}, 10);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "abc");
    EXPECT_GE(r.took, 80ms);
    EXPECT_LT(r.took, kGenerous);

    r = ReadUnder({0, 0, 300, 0, 0}, 10);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "");
    EXPECT_GE(r.took, 240ms);
    EXPECT_LT(r.took, kGenerous);

    // max * 4096 ms does not fit the clock: it must mean no total limit,
    // not a limit already past.
    auto device = SendLater(100ms, "z");
    r = ReadUnder({50, kTimeoutMax, 1000, 0, 0}, 4096);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "z");
}

TEST_F(SerialPortIoTest, HangUpFailsReadsAndWritesWithIoError) {
    EXPECT_FALSE(port_->DeviceGone());
    {
        std::jthread unplug([this] {
            std::this_thread::sleep_for(50ms);
            pty_.CloseMaster();
        });
        SetLastError(0);
        const ReadResult r = ReadUnder({0, 0, 0, 0, 0}, 10);  // no limit at all
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.bytes, "");
        EXPECT_EQ(LastError(), static_cast<uint32_t>(EIO));
        EXPECT_LT(r.took, kGenerous);
    }
    for (const SerialTimeouts& t : {kImmediate, SerialTimeouts{kTimeoutMax, kTimeoutMax, kLongWaitMs, 0, 0}}) {
        SetLastError(0);
        const ReadResult r = ReadUnder(t, 10);
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(LastError(), static_cast<uint32_t>(EIO));
        EXPECT_LT(r.took, kGenerous);
    }
    const uint8_t byte = 'A';
    size_t written = 9;
    SetLastError(0);
    EXPECT_FALSE(port_->Write(&byte, 1, written));
    EXPECT_EQ(written, 0u);
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EIO));
    // The loss is told apart from a failed call, so that nobody retries.
    EXPECT_TRUE(port_->DeviceGone());
}

TEST_F(SerialPortIoTest, OnlyALostDeviceCountsAsGone) {
    // A refused setting fails the call but leaves the device there.
    LineSettings line;
    ASSERT_TRUE(port_->GetLineSettings(line));
    line.dataBits = 4;
    EXPECT_FALSE(port_->SetLineSettings(line));
    EXPECT_TRUE(ReadUnder(kImmediate, 4).ok);
    EXPECT_FALSE(port_->DeviceGone());

    pty_.CloseMaster();
    const uint8_t byte = 'A';
    size_t written = 0;
    EXPECT_FALSE(port_->Write(&byte, 1, written));
    EXPECT_TRUE(port_->DeviceGone());
}

TEST_F(SerialPortIoTest, BytesReadBeforeAHangUpAreNotLost) {
    ASSERT_TRUE(pty_.Send("ok"));
    WaitQueued(2);
    std::jthread unplug([this] {
        std::this_thread::sleep_for(50ms);
        pty_.CloseMaster();
    });
    ReadResult r = ReadUnder({0, 0, 0, 0, 0}, 10);
    EXPECT_TRUE(r.ok);
    EXPECT_EQ(r.bytes, "ok");
    r = ReadUnder({0, 0, 0, 0, 0}, 10);
    EXPECT_FALSE(r.ok);
    EXPECT_EQ(LastError(), static_cast<uint32_t>(EIO));
}

TEST_F(SerialPortIoTest, WriteTimeOutIsSuccessWithThePartialCount) {
    // Nobody reads the master: the terminal's buffers fill up.
    ASSERT_TRUE(port_->SetTimeouts({kTimeoutMax, 0, 0, 0, 200}));
    const std::string big(1 << 20, 'w');
    size_t written = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(port_->Write(reinterpret_cast<const uint8_t*>(big.data()), big.size(), written));
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GT(written, 0u);
    EXPECT_LT(written, big.size());
    EXPECT_GE(took, 160ms);
    EXPECT_LT(took, kGenerous);
}

TEST_F(SerialPortIoTest, PurgeDiscardsReceivedBytesAndClearErrorsCountsThem) {
    ASSERT_TRUE(pty_.Send("stale"));
    WaitQueued(5);
    uint32_t mask = 7;
    SerialQueueStatus status;
    ASSERT_TRUE(port_->ClearErrors(mask, &status));
    EXPECT_EQ(mask, 0u);
    EXPECT_EQ(status.inQueue, 5u);

    EXPECT_TRUE(port_->Purge(kPurgeTxAbort | kPurgeRxAbort));  // nothing to abort
    ASSERT_TRUE(port_->ClearErrors(mask, &status));
    EXPECT_EQ(status.inQueue, 5u);

    EXPECT_TRUE(port_->Purge(kPurgeRxAbort | kPurgeRxClear));
    ASSERT_TRUE(port_->ClearErrors(mask, &status));
    EXPECT_EQ(status.inQueue, 0u);
    EXPECT_EQ(ReadUnder(kImmediate, 16).bytes, "");
}

}  // namespace
}  // namespace firmora::platform
