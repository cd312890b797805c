#include "firmora-sim/fastboot_tcp_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <system_error>
#include <vector>

#include "platform/posix/fastboot_tcp_framing.h"

namespace firmora::simtool {

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr int kHandshakeMs = 2000;        // the client gives up after 2 s as well
constexpr int kPresenceCheckMs = 200;     // how soon a vanished device ends a quiet connection

void SetOption(int fd, int level, int name, int value) {
    ::setsockopt(fd, level, name, &value, sizeof value);
}

}  // namespace

FastbootTcpServer::FastbootTcpServer(FastbootEndpoint endpoint, std::mutex& deviceLock)
    : endpoint_(std::move(endpoint)), deviceLock_(deviceLock) {}

FastbootTcpServer::~FastbootTcpServer() {
    Stop();
    if (endpoint_.detach) {
        std::lock_guard<std::mutex> lock(deviceLock_);
        endpoint_.detach();
    }
}

void FastbootTcpServer::Start(uint16_t port) {
    if (thread_.joinable()) return;
    const auto fail = [&](const std::string& what) {
        const int error = errno;
        Stop();
        throw std::system_error(error, std::generic_category(),
                                "fastboot tcp: " + what + " 127.0.0.1:" + std::to_string(port));
    };
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0) fail("socket");
    SetOption(listenFd_, SOL_SOCKET, SO_REUSEADDR, 1);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) fail("bind");
    if (::listen(listenFd_, 4) != 0) fail("listen");
    socklen_t size = sizeof address;
    if (::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&address), &size) != 0) fail("getsockname");
    port_ = ntohs(address.sin_port);
    int wake[2];
    if (::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) fail("pipe");
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    stopping_ = false;
    thread_ = std::thread([this] { Run(); });
}

void FastbootTcpServer::Stop() {
    stopping_ = true;
    if (thread_.joinable()) {
        const uint8_t byte = 1;
        [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
        thread_.join();
    }
    for (int* fd : {&listenFd_, &wakeRead_, &wakeWrite_}) {
        if (*fd >= 0) ::close(*fd);
        *fd = -1;
    }
}

void FastbootTcpServer::Run() {
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd >= 0) Serve(fd);
    }
}

void FastbootTcpServer::Serve(int fd) {
    // Small messages go out at once, and our ACKs do not wait for the
    // delayed-ACK timer: otherwise every command costs ~40 ms.
    SetOption(fd, IPPROTO_TCP, TCP_NODELAY, 1);
    timeval sendLimit{2, 0};  // a host that stops reading must not stall the device
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &sendLimit, sizeof sendLimit);
    if (!DevicePresent() || !Handshake(fd)) {
        ::close(fd);
        return;
    }
    {
        std::lock_guard<std::mutex> lock(writeLock_);
        connection_ = fd;
    }
    connected_ = true;
    std::vector<uint8_t> piece;
    try {
        for (;;) {
            std::array<uint8_t, platform::kFastbootTcpHeaderBytes> header{};
            if (!ReadExact(fd, header.data(), header.size())) break;
            uint64_t length = platform::FastbootTcpPayloadBytes(header);
            if (length == 0) {
                if (!Deliver(nullptr, 0)) break;
                continue;
            }
            piece.resize(static_cast<size_t>(std::min<uint64_t>(length, kPieceBytes)));
            size_t filled = 0;
            bool open = true;
            while (open && length > 0) {
                const size_t want = static_cast<size_t>(std::min<uint64_t>(piece.size() - filled, length));
                const size_t got = ReadSome(fd, piece.data() + filled, want, -1);
                if (got == 0) {
                    open = false;
                    break;
                }
                filled += got;
                length -= got;
                if (filled == piece.size() || length == 0) {
                    open = Deliver(piece.data(), filled);
                    filled = 0;
                }
            }
            if (!open) break;
        }
    } catch (const std::exception&) {
        // The device refused to go on: end this connection, keep serving.
    }
    {
        std::lock_guard<std::mutex> lock(writeLock_);
        connection_ = -1;
    }
    connected_ = false;
    ::close(fd);
    std::lock_guard<std::mutex> lock(deviceLock_);
    if (endpoint_.disconnected) endpoint_.disconnected();
}

bool FastbootTcpServer::Handshake(int fd) {
    std::array<uint8_t, platform::kFastbootTcpHelloBytes> hello{};
    size_t have = 0;
    const auto deadline = Clock::now() + milliseconds(kHandshakeMs);
    while (have < hello.size()) {
        const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now());
        if (left.count() <= 0) return false;
        const size_t got = ReadSome(fd, hello.data() + have, hello.size() - have, static_cast<int>(left.count()));
        if (got == 0) return false;
        have += got;
    }
    // Any version but "00" is answered with ours, 1.
    if (!platform::IsFastbootTcpHello(hello)) return false;
    std::lock_guard<std::mutex> lock(writeLock_);
    return SendAll(fd, platform::kFastbootTcpHello.data(), platform::kFastbootTcpHello.size(), nullptr, 0);
}

size_t FastbootTcpServer::ReadSome(int fd, uint8_t* buffer, size_t length, int timeoutMs) {
    const auto start = Clock::now();
    for (;;) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        int wait = kPresenceCheckMs;
        if (timeoutMs >= 0) {
            const auto spent = std::chrono::duration_cast<milliseconds>(Clock::now() - start);
            const int left = timeoutMs - static_cast<int>(spent.count());
            if (left <= 0) return 0;
            wait = std::min(wait, left);
        }
        const int ready = ::poll(fds, 2, wait);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return 0;
        }
        if (fds[1].revents != 0) return 0;
        if (ready == 0) {
            if (!DevicePresent()) return 0;
            continue;
        }
        // Quick ACK mode lapses after a while; re-arm it before every read.
        SetOption(fd, IPPROTO_TCP, TCP_QUICKACK, 1);
        const ssize_t got = ::recv(fd, buffer, length, 0);
        if (got > 0) return static_cast<size_t>(got);
        if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
        return 0;
    }
}

bool FastbootTcpServer::ReadExact(int fd, uint8_t* buffer, size_t length) {
    size_t have = 0;
    while (have < length) {
        const size_t got = ReadSome(fd, buffer + have, length - have, -1);
        if (got == 0) return false;
        have += got;
    }
    return true;
}

bool FastbootTcpServer::Deliver(const uint8_t* data, size_t length) {
    std::lock_guard<std::mutex> lock(deviceLock_);
    if (endpoint_.present && !endpoint_.present()) return false;
    endpoint_.message(data, length);
    return true;
}

bool FastbootTcpServer::DevicePresent() {
    std::lock_guard<std::mutex> lock(deviceLock_);
    return !endpoint_.present || endpoint_.present();
}

void FastbootTcpServer::Reply(const sim::Bytes& message) {
    const auto header = platform::FastbootTcpHeader(message.size());
    std::lock_guard<std::mutex> lock(writeLock_);
    if (connection_ < 0) return;
    // A failed write ends the connection; the reader sees it close.
    if (!SendAll(connection_, header.data(), header.size(), message.data(), message.size())) {
        ::shutdown(connection_, SHUT_RDWR);
    }
}

bool FastbootTcpServer::SendAll(int fd, const uint8_t* header, size_t headerLength, const uint8_t* data,
                                size_t length) {
    iovec parts[2] = {{const_cast<uint8_t*>(header), headerLength}, {const_cast<uint8_t*>(data), length}};
    iovec* next = parts;
    size_t count = length > 0 ? 2 : 1;
    while (count > 0) {
        msghdr message{};
        message.msg_iov = next;
        message.msg_iovlen = count;
        const ssize_t sent = ::sendmsg(fd, &message, MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        size_t done = static_cast<size_t>(sent);
        while (count > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<uint8_t*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return true;
}

}  // namespace firmora::simtool
