#include "platform/posix/tcp_usb_bulk.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>
#include <span>
#include <utility>
#include <vector>

#include "platform/last_error.h"
#include "platform/posix/fastboot_tcp_framing.h"

namespace firmora::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;
using Deadline = std::optional<SteadyClock::time_point>;

constexpr char kPrefix[] = "tcp:";
constexpr size_t kReceiveBytes = 64 * 1024;  // what one recv may take beyond what is needed
constexpr uint8_t kBulkInAddress = 0x81;
constexpr uint8_t kBulkOutAddress = 0x01;
constexpr uint32_t kReportedPacketSize = 512;  // a high-speed bulk packet

bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
}

Deadline DeadlineAfter(uint32_t timeoutMs) {
    if (timeoutMs == 0) return std::nullopt;
    return SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
}

enum class Wait { Ready, TimedOut, Failed };

// Waits until `fd` is ready for `events` (or has hung up) or the deadline passes.
Wait WaitFor(int fd, short events, const Deadline& deadline) {
    for (;;) {
        int waitMs = -1;
        if (deadline) {
            const auto left = *deadline - SteadyClock::now();
            if (left <= SteadyClock::duration::zero()) return Wait::TimedOut;
            // Round up, so that a deadline under a millisecond away is waited for.
            waitMs = static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
        }
        pollfd p{fd, events, 0};
        const int ready = ::poll(&p, 1, waitMs);
        if (ready > 0) return Wait::Ready;
        if (ready < 0 && errno != EINTR) return Wait::Failed;
    }
}

void SetOption(int fd, int level, int name, int value) { ::setsockopt(fd, level, name, &value, sizeof value); }

// The socket and what both directions keep between calls.
struct Connection {
    int fd = -1;
    std::string path;
    std::atomic<bool> open{true};
    std::atomic<bool> peerClosed{false};
    // A write stopped inside a message: the byte stream no longer frames.
    std::atomic<bool> writeBroken{false};

    // A read stopped inside a message (or refused one too long): the byte
    // stream no longer frames.
    std::atomic<bool> readBroken{false};

    FastbootTcpReceiver rx;

    ~Connection() { Shut(); }

    void Shut() {
        if (open.exchange(false) && fd >= 0) ::close(fd);
        fd = -1;
    }

    bool Usable() const {
        if (!open) return Fail(EBADF);
        return true;
    }

    // Receives until at least `length` bytes are buffered.
    bool Fill(size_t length, const Deadline& deadline) {
        while (rx.Buffered() < length) {
            if (peerClosed) return Fail(ECONNRESET);
            const Wait wait = WaitFor(fd, POLLIN, deadline);
            if (wait == Wait::TimedOut) return Fail(ETIMEDOUT);
            if (wait == Wait::Failed) return Fail(static_cast<uint32_t>(errno));
#ifdef TCP_QUICKACK
            // Quick ACK mode lapses; without it the device's next message may
            // wait for our delayed ACK.
            SetOption(fd, IPPROTO_TCP, TCP_QUICKACK, 1);
#endif
            const std::span<uint8_t> room = rx.Room(std::max(length - rx.Buffered(), kReceiveBytes));
            const ssize_t got = ::recv(fd, room.data(), room.size(), 0);
            rx.Received(static_cast<size_t>(std::max<ssize_t>(got, 0)));
            if (got == 0) {
                peerClosed = true;
                return Fail(ECONNRESET);
            }
            if (got < 0 && errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK) {
                const int error = errno;
                peerClosed = true;
                return Fail(static_cast<uint32_t>(error));
            }
        }
        return true;
    }

    // Sends header and payload as one stream; `sent` counts both.
    bool Send(const uint8_t* header, size_t headerLength, const uint8_t* data, size_t length, size_t& sent,
              const Deadline& deadline) {
        sent = 0;
        const size_t total = headerLength + length;
        while (sent < total) {
            iovec parts[2];
            size_t count = 0;
            if (sent < headerLength) parts[count++] = {const_cast<uint8_t*>(header) + sent, headerLength - sent};
            const size_t dataDone = sent > headerLength ? sent - headerLength : 0;
            if (length > dataDone) parts[count++] = {const_cast<uint8_t*>(data) + dataDone, length - dataDone};
            msghdr message{};
            message.msg_iov = parts;
            message.msg_iovlen = count;
            const ssize_t done = ::sendmsg(fd, &message, MSG_NOSIGNAL);
            if (done > 0) {
                sent += static_cast<size_t>(done);
                continue;
            }
            if (done < 0 && errno == EINTR) continue;
            if (done < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return Fail(static_cast<uint32_t>(errno));
            const Wait wait = WaitFor(fd, POLLOUT, deadline);
            if (wait == Wait::TimedOut) return Fail(ETIMEDOUT);
            if (wait == Wait::Failed) return Fail(static_cast<uint32_t>(errno));
        }
        return true;
    }
};

class TcpTransport final : public BulkTransport {
public:
    explicit TcpTransport(std::unique_ptr<Connection> connection) : c_(std::move(connection)) {}

    bool Describe(BulkInterfaceInfo& info) override;
    bool Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Close() override {
        if (!c_->Usable()) return false;
        c_->Shut();
        return true;
    }

private:
    std::unique_ptr<Connection> c_;
};

bool TcpTransport::Describe(BulkInterfaceInfo& info) {
    if (!c_->Usable()) return false;
    info = BulkInterfaceInfo{};  // fastboot's class, subclass and protocol; two endpoints
    info.name = c_->path;
    for (auto* endpoint : {&info.in, &info.out}) {
        endpoint->maxPacketSize = kReportedPacketSize;
        endpoint->maxTransferSize = UINT32_MAX;  // one message carries any write
    }
    info.in.endpointAddress = kBulkInAddress;
    info.out.endpointAddress = kBulkOutAddress;
    return true;
}

bool TcpTransport::Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!c_->Usable()) return false;
    if (c_->writeBroken || c_->peerClosed) return Fail(EPIPE);
    const auto header = FastbootTcpHeader(length);
    size_t sent = 0;
    const bool ok = c_->Send(header.data(), header.size(), data, length, sent, DeadlineAfter(timeoutMs));
    transferred = static_cast<uint32_t>(sent > header.size() ? sent - header.size() : 0);
    if (!ok && sent > 0) c_->writeBroken = true;
    return ok;
}

bool TcpTransport::Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    Connection& c = *c_;
    if (!c.Usable()) return false;
    if (c.readBroken) return Fail(EPROTO);
    const Deadline deadline = DeadlineAfter(timeoutMs);
    // The whole message, so that one split across TCP segments still arrives whole.
    for (size_t needed = 0;;) {
        switch (c.rx.Look(length, needed)) {
            case FastbootTcpReceiver::Next::TooLong:
                c.readBroken = true;
                return Fail(EOVERFLOW);
            case FastbootTcpReceiver::Next::Message:
                transferred = static_cast<uint32_t>(c.rx.TakeMessage(buffer));
                return true;
            case FastbootTcpReceiver::Next::NeedBytes:
                if (!c.Fill(needed, deadline)) return false;
                break;
        }
    }
}

// Connects to one address within the deadline; the socket is non-blocking.
int ConnectTo(const addrinfo& address, const Deadline& deadline) {
    const int fd = ::socket(address.ai_family, address.ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK,
                            address.ai_protocol);
    if (fd < 0) return -1;
    int error = 0;
    if (::connect(fd, address.ai_addr, address.ai_addrlen) != 0) {
        error = errno;
        if (error == EINPROGRESS) {
            const Wait wait = WaitFor(fd, POLLOUT, deadline);
            error = wait == Wait::TimedOut ? ETIMEDOUT : wait == Wait::Failed ? errno : 0;
            if (error == 0) {
                socklen_t size = sizeof error;
                if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0) error = errno;
            }
        }
    }
    if (error != 0) {
        ::close(fd);
        errno = error;
        return -1;
    }
    return fd;
}

int Connect(const TcpTarget& target) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* addresses = nullptr;
    const std::string service = std::to_string(target.port);
    const int resolved = ::getaddrinfo(target.host.c_str(), service.c_str(), &hints, &addresses);
    if (resolved != 0) {
        SetLastError(resolved == EAI_SYSTEM && errno != 0 ? static_cast<uint32_t>(errno) : EHOSTUNREACH);
        return -1;
    }
    const Deadline deadline = DeadlineAfter(TcpUsbBulk::kConnectMs);
    int fd = -1;
    int error = ECONNREFUSED;
    for (const addrinfo* a = addresses; a != nullptr && fd < 0; a = a->ai_next) {
        fd = ConnectTo(*a, deadline);
        if (fd < 0) error = errno;
    }
    ::freeaddrinfo(addresses);
    if (fd < 0) SetLastError(static_cast<uint32_t>(error));
    return fd;
}

bool Handshake(Connection& c) {
    const Deadline deadline = DeadlineAfter(TcpUsbBulk::kHandshakeMs);
    size_t sent = 0;
    if (!c.Send(kFastbootTcpHello.data(), kFastbootTcpHello.size(), nullptr, 0, sent, deadline)) return false;
    if (!c.Fill(kFastbootTcpHelloBytes, deadline)) {
        // A device that will not talk to us closes the connection.
        if (LastError() == ECONNRESET) SetLastError(ECONNREFUSED);
        return false;
    }
    std::array<uint8_t, kFastbootTcpHelloBytes> reply{};
    c.rx.Consume(reply.data(), reply.size());
    return IsFastbootTcpHello(reply) || Fail(EPROTO);
}

std::optional<uint16_t> ParsePort(const std::string& text) {
    if (text.empty() || text.size() > 5 || text.front() < '0' || text.front() > '9') return std::nullopt;
    uint16_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value == 0) return std::nullopt;
    return value;
}

}  // namespace

std::optional<TcpTarget> TcpUsbBulk::ParseTarget(const std::string& devicePath) {
    if (devicePath.rfind(kPrefix, 0) != 0) return std::nullopt;
    const std::string rest = devicePath.substr(sizeof kPrefix - 1);
    TcpTarget target{{}, kDefaultPort};
    std::string portText;
    bool hasPort = false;
    if (!rest.empty() && rest.front() == '[') {
        const size_t close = rest.find(']');
        if (close == std::string::npos) return std::nullopt;
        target.host = rest.substr(1, close - 1);
        const std::string after = rest.substr(close + 1);
        if (!after.empty()) {
            if (after.front() != ':') return std::nullopt;
            hasPort = true;
            portText = after.substr(1);
        }
    } else {
        const size_t colon = rest.find(':');
        target.host = rest.substr(0, colon);
        if (colon != std::string::npos) {
            hasPort = true;
            portText = rest.substr(colon + 1);
        }
    }
    if (target.host.empty()) return std::nullopt;
    if (hasPort) {
        const auto port = ParsePort(portText);
        if (!port) return std::nullopt;  // also a bare IPv6 address: its colons are no port
        target.port = *port;
    }
    return target;
}

std::unique_ptr<BulkTransport> TcpUsbBulk::Open(const std::string& devicePath) {
    const auto target = ParseTarget(devicePath);
    if (!target) {
        SetLastError(EINVAL);
        return nullptr;
    }
    const int fd = Connect(*target);
    if (fd < 0) return nullptr;
    auto connection = std::make_unique<Connection>();
    connection->fd = fd;
    connection->path = devicePath;
    // Commands and replies are small: each must leave at once rather than
    // wait for the ACK of the one before.
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    if (!Handshake(*connection)) return nullptr;  // the connection closes with it
    return std::make_unique<TcpTransport>(std::move(connection));
}

}  // namespace firmora::platform
