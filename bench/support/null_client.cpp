#include "support/null_client.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <vector>

namespace firmora::bench {
namespace {

class Socket {
public:
    explicit Socket(int fd) : fd_(fd) {}
    ~Socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int fd() const { return fd_; }

private:
    int fd_;
};

bool SendAll(int fd, const void* data, size_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    while (length > 0) {
        const ssize_t sent = ::send(fd, bytes, length, MSG_NOSIGNAL);
        if (sent < 0 && errno == EINTR) continue;
        if (sent <= 0) return false;
        bytes += sent;
        length -= static_cast<size_t>(sent);
    }
    return true;
}

bool ReceiveAll(int fd, void* data, size_t length) {
    auto* bytes = static_cast<uint8_t*>(data);
    while (length > 0) {
        const ssize_t got = ::recv(fd, bytes, length, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        bytes += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

void PutLength(uint8_t* header, uint64_t length) {
    for (int i = 7; i >= 0; --i) {
        header[i] = static_cast<uint8_t>(length & 0xff);
        length >>= 8;
    }
}

bool SendFrameHeader(int fd, uint64_t length) {
    uint8_t header[8];
    PutLength(header, length);
    return SendAll(fd, header, sizeof header);
}

bool SendMessage(int fd, std::string_view text) {
    uint8_t header[8];
    PutLength(header, text.size());
    iovec parts[2] = {{header, sizeof header}, {const_cast<char*>(text.data()), text.size()}};
    size_t total = sizeof header + text.size();
    // One writev for both, as a client does; fall back to a loop when short.
    const ssize_t sent = ::writev(fd, parts, 2);
    if (sent < 0) return false;
    if (static_cast<size_t>(sent) == total) return true;
    const size_t done = static_cast<size_t>(sent);
    if (done < sizeof header && !SendAll(fd, header + done, sizeof header - done)) return false;
    const size_t textDone = done > sizeof header ? done - sizeof header : 0;
    return SendAll(fd, text.data() + textDone, text.size() - textDone);
}

// One reply; fails on a transport error or a reply over 256 bytes.
bool ReceiveReply(int fd, std::string& reply) {
    uint8_t header[8];
    if (!ReceiveAll(fd, header, sizeof header)) return false;
    uint64_t length = 0;
    for (const uint8_t byte : header) length = (length << 8) | byte;
    if (length > 256) return false;
    reply.assign(length, '\0');
    return ReceiveAll(fd, reply.data(), length);
}

std::string Command(int fd, const std::string& command, const std::string& expected) {
    std::string reply;
    if (!SendMessage(fd, command)) return command + ": send failed";
    if (!ReceiveReply(fd, reply)) return command + ": no reply";
    if (!reply.starts_with(expected)) return command + ": reply " + reply;
    return {};
}

}  // namespace

std::string NullFlash(uint16_t port, const std::string& partition, uint32_t byteCount, uint32_t frameBytes) {
    Socket socket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (socket.fd() < 0) return std::string("socket: ") + std::strerror(errno);
    const int one = 1;
    ::setsockopt(socket.fd(), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(port);
    if (::connect(socket.fd(), reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        return std::string("connect: ") + std::strerror(errno);
    }
    char handshake[4];
    if (!SendAll(socket.fd(), "FB01", 4) || !ReceiveAll(socket.fd(), handshake, 4) ||
        std::memcmp(handshake, "FB", 2) != 0) {
        return "no FB handshake";
    }

    char download[32];
    std::snprintf(download, sizeof download, "download:%08x", byteCount);
    if (std::string problem = Command(socket.fd(), download, "DATA"); !problem.empty()) return problem;

    // A megabyte of pattern, sent again and again: the bytes need not be a file's.
    std::vector<uint8_t> buffer(1u << 20);
    for (size_t i = 0; i < buffer.size(); ++i) buffer[i] = static_cast<uint8_t>(i * 131 + 7);
    if (frameBytes == 0) {
        if (!SendFrameHeader(socket.fd(), byteCount)) return "data: send failed";
        for (uint64_t left = byteCount; left > 0;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, buffer.size()));
            if (!SendAll(socket.fd(), buffer.data(), piece)) return "data: send failed";
            left -= piece;
        }
    } else {
        // Header and payload of each frame in one writev, as a client does.
        const size_t frame = std::min<size_t>(frameBytes, buffer.size());
        for (uint64_t left = byteCount; left > 0;) {
            const size_t piece = static_cast<size_t>(std::min<uint64_t>(left, frame));
            if (!SendMessage(socket.fd(), std::string_view(reinterpret_cast<const char*>(buffer.data()), piece))) {
                return "data: send failed";
            }
            left -= piece;
        }
    }
    std::string reply;
    if (!ReceiveReply(socket.fd(), reply)) return "data: no reply";
    if (!reply.starts_with("OKAY")) return "data: reply " + reply;
    return Command(socket.fd(), "flash:" + partition, "OKAY");
}

}  // namespace firmora::bench
