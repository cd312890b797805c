#pragma once
// A pseudo-terminal pair for the serial port tests: the test holds the master
// and plays the device; the port under test opens the slave node by path.

#include <pty.h>
#include <poll.h>
#include <unistd.h>

#include <string>

namespace firmora::testing {

class PtyPair {
public:
    PtyPair() {
        char name[128] = {};
        int slave = -1;
        if (::openpty(&master_, &slave, name, nullptr, nullptr) == 0) {
            ::close(slave);  // the port under test opens its own
            slavePath_ = name;
        }
    }
    ~PtyPair() { CloseMaster(); }
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    bool ok() const { return master_ >= 0 && !slavePath_.empty(); }
    const std::string& slavePath() const { return slavePath_; }

    // The device sends these bytes to the port.
    bool Send(const std::string& bytes) {
        size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::write(master_, bytes.data() + done, bytes.size() - done);
            if (n <= 0) return false;
            done += static_cast<size_t>(n);
        }
        return true;
    }

    // What the port sent, until `count` bytes or `timeoutMs` without any.
    std::string Receive(size_t count, int timeoutMs = 5000) {
        std::string got;
        while (got.size() < count) {
            pollfd p{master_, POLLIN, 0};
            if (::poll(&p, 1, timeoutMs) <= 0 || !(p.revents & POLLIN)) break;
            char chunk[4096];
            const ssize_t n = ::read(master_, chunk, sizeof chunk);
            if (n <= 0) break;
            got.append(chunk, static_cast<size_t>(n));
        }
        return got;
    }

    // Unplugging the device: the slave side is hung up.
    void CloseMaster() {
        if (master_ >= 0) ::close(master_);
        master_ = -1;
    }

private:
    int master_ = -1;
    std::string slavePath_;
};

// Waits until `fd` has input (bytes written to the master reach the slave
// through the kernel's deferred flip buffer, not at once).
inline bool WaitReadable(int fd, int timeoutMs = 5000) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, timeoutMs) == 1 && (p.revents & POLLIN);
}

}  // namespace firmora::testing
