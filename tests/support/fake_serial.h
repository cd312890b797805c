#pragma once
// A scripted serial port for unit tests, on the VirtualClock. The test plays
// the device: it queues bytes that "arrive" at virtual times and answers what
// the tool writes through a responder. Reads honour the time-outs the tool
// set (immediate, first-byte wait, accumulate), advancing virtual time
// instead of waiting.

#include <cerrno>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/serial_ports.h"
#include "platform/virtual_clock.h"

namespace firmora::testing {

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& text);
std::string ToText(const Bytes& bytes);
// "7E 0B AB" style, for assertions that print well.
std::string Hex(const Bytes& bytes);

// The device end of one port, shared by the test and the opened SerialPort.
class FakeSerialDevice {
public:
    explicit FakeSerialDevice(platform::VirtualClock& clock) : clock_(clock) {}

    // Bytes that reach the tool `delayMs` after now (0: already there).
    void Deliver(const Bytes& bytes, uint64_t delayMs = 0);
    void Deliver(const std::string& text, uint64_t delayMs = 0) { Deliver(ToBytes(text), delayMs); }

    // Called with each buffer the tool writes successfully.
    std::function<void(const Bytes& written)> responder;

    // Everything the tool wrote, in order, and each write call's bytes.
    Bytes written;
    std::vector<Bytes> writes;

    // Faults: the next N calls fail with the given error code.
    int failReads = 0;
    int failWrites = 0;
    int failCloses = 0;
    uint32_t failureCode = EIO;
    bool failLineSettings = false;
    bool failTimeouts = false;
    bool failQueueSizes = false;
    uint32_t pendingErrorMask = 0;  // returned (once) by ClearErrors
    // The device has gone (unplugged): every call fails with EIO and the
    // port says so.
    bool gone = false;

    // What the tool set.
    platform::SerialTimeouts timeouts{};
    platform::LineSettings line{};
    uint32_t queueIn = 0, queueOut = 0;
    std::vector<uint32_t> purges;
    int readCalls = 0;
    int closes = 0;
    bool open = false;

    // Bytes not yet read by the tool (arrived or still to arrive).
    size_t PendingBytes() const { return incoming_.size(); }

private:
    friend class FakeSerialPort;
    platform::VirtualClock& clock_;
    std::deque<std::pair<uint64_t, uint8_t>> incoming_;  // (arrival tick, byte), arrival order
};

class FakeSerialPort final : public platform::SerialPort {
public:
    explicit FakeSerialPort(std::shared_ptr<FakeSerialDevice> device);
    ~FakeSerialPort() override;

    bool GetLineSettings(platform::LineSettings& out) override;
    bool SetLineSettings(const platform::LineSettings& settings) override;
    bool SetTimeouts(const platform::SerialTimeouts& timeouts) override;
    bool SetQueueSizes(uint32_t inBytes, uint32_t outBytes) override;
    bool Purge(uint32_t flags) override;
    bool ClearErrors(uint32_t& errorMask, platform::SerialQueueStatus* status) override;
    bool Read(uint8_t* buffer, size_t length, size_t& bytesRead) override;
    bool Write(const uint8_t* data, size_t length, size_t& bytesWritten) override;
    bool Close() override;
    bool DeviceGone() const override { return device_->gone; }

private:
    // False with EIO once the device has gone.
    bool Present();
    size_t TakeArrived(uint8_t* buffer, size_t length);
    std::shared_ptr<FakeSerialDevice> device_;
    bool closed_ = false;
};

// Ports by device name ("COM9", "\\.\COM10").
class FakeSerialPorts final : public platform::SerialPorts {
public:
    explicit FakeSerialPorts(platform::VirtualClock& clock) : clock_(clock) {}

    // The device behind a name; created on first use.
    FakeSerialDevice& Device(const std::string& deviceName);
    std::shared_ptr<FakeSerialDevice> SharedDevice(const std::string& deviceName);
    // Names that fail to open (LastError ENOENT).
    std::vector<std::string> refused;
    std::vector<std::string> opened;

    std::unique_ptr<platform::SerialPort> Open(const std::string& deviceName) override;

private:
    platform::VirtualClock& clock_;
    std::map<std::string, std::shared_ptr<FakeSerialDevice>> devices_;
};

}  // namespace firmora::testing
