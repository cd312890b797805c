#pragma once
// One opened serial device node (termios + poll), behaving the way the tool
// expects a COM port to: unshared, raw binary, Windows-style read and write
// time-outs, a close that may fail and be tried again.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/serial_ports.h"

namespace firmora::platform {

class PosixSerialPort final : public SerialPort {
public:
    // Opens the node for reading and writing, takes it exclusively and puts it
    // into raw mode. Null with LastError (errno) on failure; EBUSY when
    // another open handle, in this or another process, holds the node.
    static std::unique_ptr<PosixSerialPort> Open(const std::string& devicePath);

    ~PosixSerialPort() override;
    PosixSerialPort(const PosixSerialPort&) = delete;
    PosixSerialPort& operator=(const PosixSerialPort&) = delete;

    bool GetLineSettings(LineSettings& out) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetTimeouts(const SerialTimeouts& timeouts) override;
    bool SetQueueSizes(uint32_t inBytes, uint32_t outBytes) override;
    bool Purge(uint32_t flags) override;
    bool ClearErrors(uint32_t& errorMask, SerialQueueStatus* status) override;
    bool Read(uint8_t* buffer, size_t length, size_t& bytesRead) override;
    bool Write(const uint8_t* data, size_t length, size_t& bytesWritten) override;
    bool Close() override;
    bool DeviceGone() const override { return gone_; }

    const std::string& DevicePath() const { return devicePath_; }
    // The descriptor, or -1 once closed.
    int NativeHandle() const { return fd_; }
    const SerialTimeouts& Timeouts() const { return timeouts_; }
    // The sizes last given to SetQueueSizes (0 when never set); recorded only,
    // as terminals have no driver queues to size.
    uint32_t InQueueSize() const { return queueIn_; }
    uint32_t OutQueueSize() const { return queueOut_; }

private:
    PosixSerialPort(int fd, std::string devicePath);

    enum class Wait { Ready, TimedOut, HungUp, Failed };
    enum class Drain { Open, HungUp, Failed };

    // Records a failing call's error; one that means the device has gone
    // makes the loss permanent.
    void NoteError(int error);
    bool CheckOpen() const;
    // Reads what the terminal holds into buffer[got..length), without waiting.
    Drain DrainInput(uint8_t* buffer, size_t length, size_t& got);
    // Waits until the descriptor is ready for `events` or the deadline (in
    // steady-clock nanoseconds since its epoch; negative: no deadline) passes.
    Wait WaitFor(short events, int64_t deadlineNs);
    bool FinishRead(Drain outcome, size_t got, size_t& bytesRead);

    int fd_;
    std::string devicePath_;
    SerialTimeouts timeouts_{};
    uint32_t queueIn_ = 0;
    uint32_t queueOut_ = 0;
    // The settings last applied: the source of the fields termios cannot
    // express (DSR handling, NUL stripping, handshake modes of DTR and RTS,
    // ...) and of the modem lines where the device has none to query.
    LineSettings applied_{};
    bool gone_ = false;
};

}  // namespace firmora::platform
