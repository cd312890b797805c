#pragma once
// One serial port of the virtual modem on a pseudo-terminal. The host opens
// the slave node like any serial device; the bridge keeps the master, hands
// what the host writes to a handler and writes the modem's output back.
// Hanging the bridge up closes the master, which the host sees as the device
// leaving (POLLHUP, EIO).
//
// The host may close and reopen the slave any number of times. While no host
// has it open, output is dropped as a real port drops it, rather than left
// for the next opener to read as stale bytes.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace firmora::simtool {

class PtyBridge {
public:
    // Called on the bridge's thread with each chunk the host wrote.
    using HostBytesHandler = std::function<void(const uint8_t* data, size_t length)>;

    // Opens a pseudo-terminal, raw on both ends, and starts the bridge's
    // thread. Throws std::system_error when the system refuses.
    explicit PtyBridge(HostBytesHandler onHostBytes);
    // Hangs up and joins.
    ~PtyBridge();
    PtyBridge(const PtyBridge&) = delete;
    PtyBridge& operator=(const PtyBridge&) = delete;

    // The slave's device node ("/dev/pts/7").
    const std::string& devicePath() const { return devicePath_; }

    // Modem -> host. Never blocks; thread-safe.
    void Send(const uint8_t* data, size_t length);

    // Asks the thread to close the master and end, without waiting for it:
    // safe to call while holding a lock the host-bytes handler takes.
    void Hangup();
    // Hangup, then waits for the thread. Not from the handler itself.
    void Close();

    // True while a host has the slave open (as last seen by the thread).
    bool HostConnected() const { return hostConnected_.load(); }

    // Output the bridge keeps for a host that does not read; beyond it new
    // output is dropped, as a device's transmit buffer would overflow.
    static constexpr size_t kMaxPendingOutput = size_t{4} << 20;
    // How long the thread waits before looking again for a host while none
    // has the slave open (the master reports a hang-up continuously then).
    static constexpr int kNoHostBackoffMs = 20;

private:
    void Run();
    void Wake();
    // Reads everything the host has written; false once the host has gone.
    bool ReadHost();
    // Writes what the master takes without blocking; false once the host has gone.
    bool WritePending();
    void DropPending();

    HostBytesHandler onHostBytes_;
    std::string devicePath_;
    int master_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;

    std::mutex outLock_;
    std::vector<uint8_t> pending_;
    bool stopping_ = false;

    std::atomic<bool> hostConnected_{false};
    std::thread thread_;
};

}  // namespace firmora::simtool
