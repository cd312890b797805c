#pragma once
// Serial port seam: the behaviour the tool relies on from a COM port, in the
// terms the tool uses (device names "COM9" and "\\.\COM10", line settings,
// Windows-style time-outs, purge, error masks). All calls are synchronous.
// Every failing call records a code with SetLastError (last_error.h).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace firmora::platform {

// The largest 32-bit value: "max" in the time-out tables.
inline constexpr uint32_t kTimeoutMax = 0xFFFFFFFFu;

// Read and write time-outs with their Windows meaning (milliseconds):
// - read interval max, per byte 0, constant 0: a read returns at once with
//   what has arrived, possibly nothing;
// - read interval max, per byte max, constant N (0 < N < max): a read returns
//   at once with what has arrived, or waits up to N ms for the first byte and
//   then returns what is there;
// - otherwise a read waits up to per-byte * length + constant ms in all and
//   returns early when the gap between two bytes exceeds the interval.
// A write may take up to per-byte * length + constant ms.
struct SerialTimeouts {
    uint32_t readInterval = 0;
    uint32_t readMultiplier = 0;
    uint32_t readConstant = 0;
    uint32_t writeMultiplier = 0;
    uint32_t writeConstant = 0;

    bool operator==(const SerialTimeouts&) const = default;
};

enum class Parity : uint8_t { None, Odd, Even, Mark, Space };
enum class StopBits : uint8_t { One, OnePointFive, Two };
enum class DtrControl : uint8_t { Disable, Enable, Handshake };
enum class RtsControl : uint8_t { Disable, Enable, Handshake, Toggle };

// The fields of a port's line settings that the tool reads and sets.
struct LineSettings {
    uint32_t baudRate = 115200;
    uint8_t dataBits = 8;
    Parity parity = Parity::None;
    StopBits stopBits = StopBits::One;
    bool binary = true;
    bool parityCheck = false;
    bool ctsOutFlow = false;
    bool dsrOutFlow = false;
    DtrControl dtr = DtrControl::Enable;
    RtsControl rts = RtsControl::Enable;
    bool dsrSensitivity = false;
    bool txContinueOnXoff = false;
    bool xonXoffOut = false;
    bool xonXoffIn = false;
    bool errorCharReplace = false;
    bool nullStrip = false;
    bool abortOnError = false;

    bool operator==(const LineSettings&) const = default;
};

// Purge flags, combinable.
enum PurgeFlags : uint32_t {
    kPurgeTxAbort = 0x1,
    kPurgeRxAbort = 0x2,
    kPurgeTxClear = 0x4,
    kPurgeRxClear = 0x8,
    kPurgeAll = 0xF,
};

// Error mask bits returned by ClearErrors.
enum SerialErrorBits : uint32_t {
    kSerialErrorRxOverflow = 0x1,  // input buffer overflow
    kSerialErrorOverrun = 0x2,     // character buffer overrun
    kSerialErrorParity = 0x4,
    kSerialErrorFrame = 0x8,
    kSerialErrorBreak = 0x10,
};

struct SerialQueueStatus {
    uint32_t inQueue = 0;   // bytes received, not yet read
    uint32_t outQueue = 0;  // bytes not yet sent
};

// One opened port. Destroying it closes it (ignoring a failure).
class SerialPort {
public:
    virtual ~SerialPort() = default;

    virtual bool GetLineSettings(LineSettings& out) = 0;
    virtual bool SetLineSettings(const LineSettings& settings) = 0;
    virtual bool SetTimeouts(const SerialTimeouts& timeouts) = 0;
    // Driver queue sizes; implementations without driver queues accept and record them.
    virtual bool SetQueueSizes(uint32_t inBytes, uint32_t outBytes) = 0;
    virtual bool Purge(uint32_t flags) = 0;
    // Clears the pending error state; returns the error mask of SerialErrorBits.
    virtual bool ClearErrors(uint32_t& errorMask, SerialQueueStatus* status) = 0;
    // Reads up to `length` bytes under the current time-outs. A time-out is
    // success with fewer bytes (possibly none); false is a failed call.
    virtual bool Read(uint8_t* buffer, size_t length, size_t& bytesRead) = 0;
    // Writes the buffer; false is a failed call (bytesWritten tells how much went out).
    virtual bool Write(const uint8_t* data, size_t length, size_t& bytesWritten) = 0;
    // Closes the port. False leaves it open so that the caller may try again.
    virtual bool Close() = 0;
    // True once a call found the device behind the port gone (hung up,
    // unplugged, removed: EIO, ENODEV, ENXIO). Every later call fails the
    // same way, so a caller stops retrying and ends its exchange at once.
    virtual bool DeviceGone() const = 0;
};

class SerialPorts {
public:
    virtual ~SerialPorts() = default;
    // Opens a port for reading and writing, unshared, by the device name the
    // tool builds ("COM9", "\\.\COM10"). Returns null on failure.
    virtual std::unique_ptr<SerialPort> Open(const std::string& deviceName) = 0;
};

// How a read behaves under a set of time-outs, so that every implementation
// (POSIX, simulated, test fakes) waits the same way.
struct ReadWaitPlan {
    enum class Mode {
        Immediate,  // return at once with what has arrived, possibly nothing
        FirstByte,  // what has arrived, else wait up to firstByteMs for the first byte
        Accumulate  // wait for `length` bytes within the limits below
    };
    Mode mode = Mode::Immediate;
    uint32_t firstByteMs = 0;
    std::optional<uint64_t> totalMs;     // Accumulate: overall limit (none: no limit)
    std::optional<uint32_t> intervalMs;  // Accumulate: largest gap between two bytes
};
ReadWaitPlan PlanRead(const SerialTimeouts& timeouts, size_t length);

// The COM number of "COM9" or "\\.\COM10" (case-insensitive "COM"); nullopt otherwise.
std::optional<int> ParseComName(const std::string& deviceName);

}  // namespace firmora::platform
