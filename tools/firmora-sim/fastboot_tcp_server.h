#pragma once
// The fastboot "tcp:" transport on the device's side, as the Android fastboot
// client speaks it: the client sends "FB01" and gets "FB01" back, then every
// message in either direction is an 8-byte big-endian length and a payload.
//
// The server listens on 127.0.0.1, serves one connection at a time on its own
// thread, and hands what the host sends to a FastbootEndpoint, always under
// the lock its owner gives it. Large frames (image data) are handed on in
// pieces of at most kPieceBytes as they arrive, never held whole. Replies come
// back through Reply(), from whichever thread has them. A connection is
// closed at once while the device is not in its boot loader, and closed when
// the device leaves it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

#include "sim/device_side.h"
#include "sim/virtual_modem.h"

namespace firmora::simtool {

// The device behind the server. Each function is called with the owner's lock held.
struct FastbootEndpoint {
    // Whether the device shows its boot loader now.
    std::function<bool()> present;
    // One host message: a frame's payload, or a piece of a large one.
    std::function<void(const uint8_t* data, size_t length)> message;
    // The connection ended (optional).
    std::function<void()> disconnected;
    // The server is going away: stop calling Reply (optional).
    std::function<void()> detach;
};

class FastbootTcpServer {
public:
    static constexpr size_t kPieceBytes = 1u << 20;

    FastbootTcpServer(FastbootEndpoint endpoint, std::mutex& deviceLock);
    // Serves a virtual modem's boot loader: its replies arrive through the
    // modem's fastboot sink, which the server takes over until it is destroyed.
    FastbootTcpServer(sim::VirtualModem& modem, std::mutex& modemLock)
        : FastbootTcpServer(ModemEndpoint(modem), modemLock) {
        std::lock_guard<std::mutex> lock(modemLock);
        modem.SetFastbootSink([this](const sim::Bytes& reply) { Reply(reply); });
    }
    ~FastbootTcpServer();
    FastbootTcpServer(const FastbootTcpServer&) = delete;
    FastbootTcpServer& operator=(const FastbootTcpServer&) = delete;

    // Listens on 127.0.0.1:`port` (0: a free port) and starts serving.
    // Throws std::system_error when the port cannot be had.
    void Start(uint16_t port);
    // Closes the listener and any connection and joins the thread. Idempotent.
    void Stop();
    // The port listened on (after Start).
    uint16_t port() const { return port_; }
    bool connected() const { return connected_; }

    // Device -> host: one message, framed, on the open connection; dropped
    // when there is none. Any thread.
    void Reply(const sim::Bytes& message);

private:
    static FastbootEndpoint ModemEndpoint(sim::VirtualModem& modem) {
        return {
            [&modem] { return modem.personality() == sim::Personality::Bootloader; },
            [&modem](const uint8_t* data, size_t length) { modem.FastbootHostMessage(data, length); },
            [&modem] { modem.FastbootHostDisconnected(); },
            [&modem] { modem.SetFastbootSink(nullptr); },
        };
    }

    void Run();
    void Serve(int fd);
    bool Handshake(int fd);
    // Reads up to `length` bytes; 0 when the connection ended, the device
    // left its boot loader, or the server is stopping.
    size_t ReadSome(int fd, uint8_t* buffer, size_t length, int timeoutMs);
    bool ReadExact(int fd, uint8_t* buffer, size_t length);
    // Hands bytes to the device; false when it is no longer there.
    bool Deliver(const uint8_t* data, size_t length);
    bool DevicePresent();
    bool SendAll(int fd, const uint8_t* header, size_t headerLength, const uint8_t* data, size_t length);

    FastbootEndpoint endpoint_;
    std::mutex& deviceLock_;
    std::thread thread_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<bool> connected_{false};

    std::mutex writeLock_;  // guards connection_ and the writes on it
    int connection_ = -1;
};

}  // namespace firmora::simtool
