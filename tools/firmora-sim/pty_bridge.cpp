#include "firmora-sim/pty_bridge.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>

namespace firmora::simtool {
namespace {

[[noreturn]] void ThrowErrno(const char* what) { throw std::system_error(errno, std::generic_category(), what); }

void MakeRaw(int fd) {
    termios t{};
    if (::tcgetattr(fd, &t) != 0) ThrowErrno("tcgetattr");
    ::cfmakeraw(&t);
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    if (::tcsetattr(fd, TCSANOW, &t) != 0) ThrowErrno("tcsetattr");
}

void CloseFd(int& fd) {
    if (fd >= 0) ::close(fd);
    fd = -1;
}

}  // namespace

PtyBridge::PtyBridge(HostBytesHandler onHostBytes) : onHostBytes_(std::move(onHostBytes)) {
    int slave = -1;
    if (::openpty(&master_, &slave, nullptr, nullptr, nullptr) != 0) ThrowErrno("openpty");
    try {
        // Raw on the slave, which is what the host sees until it sets its own
        // modes, and on the master, so that nothing is echoed or translated.
        MakeRaw(slave);
        MakeRaw(master_);
        char name[256] = {};
        if (::ptsname_r(master_, name, sizeof name) != 0) ThrowErrno("ptsname_r");
        devicePath_ = name;
        // The host opens its own handle; ours would hide its hang-ups.
        CloseFd(slave);
        if (::fcntl(master_, F_SETFL, ::fcntl(master_, F_GETFL) | O_NONBLOCK) != 0 ||
            ::fcntl(master_, F_SETFD, FD_CLOEXEC) != 0)
            ThrowErrno("fcntl");
        int wake[2];
        if (::pipe2(wake, O_NONBLOCK | O_CLOEXEC) != 0) ThrowErrno("pipe2");
        wakeRead_ = wake[0];
        wakeWrite_ = wake[1];
        thread_ = std::thread([this] { Run(); });
    } catch (...) {
        CloseFd(slave);
        CloseFd(master_);
        CloseFd(wakeRead_);
        CloseFd(wakeWrite_);
        throw;
    }
}

PtyBridge::~PtyBridge() {
    Close();
    CloseFd(wakeRead_);
    CloseFd(wakeWrite_);
}

void PtyBridge::Wake() {
    const char byte = 1;
    // A full pipe already holds a wake-up; nothing is lost.
    [[maybe_unused]] const ssize_t n = ::write(wakeWrite_, &byte, 1);
}

void PtyBridge::Send(const uint8_t* data, size_t length) {
    if (length == 0) return;
    {
        std::lock_guard<std::mutex> lock(outLock_);
        if (stopping_ || pending_.size() + length > kMaxPendingOutput) return;
        pending_.insert(pending_.end(), data, data + length);
    }
    Wake();
}

void PtyBridge::Hangup() {
    {
        std::lock_guard<std::mutex> lock(outLock_);
        if (stopping_) return;
        stopping_ = true;
    }
    Wake();
}

void PtyBridge::Close() {
    Hangup();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
}

bool PtyBridge::ReadHost() {
    uint8_t buffer[4096];
    // A bounded number of reads per round, so that a host that writes without
    // pause still gets its replies.
    for (int round = 0; round < 16; ++round) {
        const ssize_t n = ::read(master_, buffer, sizeof buffer);
        if (n > 0) {
            onHostBytes_(buffer, static_cast<size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return true;
        // EIO (or end of file): the last host handle on the slave has closed.
        return false;
    }
    return true;
}

bool PtyBridge::WritePending() {
    std::lock_guard<std::mutex> lock(outLock_);
    size_t done = 0;
    bool hostThere = true;
    while (done < pending_.size()) {
        const ssize_t n = ::write(master_, pending_.data() + done, pending_.size() - done);
        if (n > 0) {
            done += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        hostThere = false;
        break;
    }
    pending_.erase(pending_.begin(), pending_.begin() + static_cast<std::ptrdiff_t>(done));
    return hostThere;
}

void PtyBridge::DropPending() {
    std::lock_guard<std::mutex> lock(outLock_);
    pending_.clear();
}

void PtyBridge::Run() {
    bool hostAbsent = false;
    // The first look at the master after a pause does not wait, so that a
    // host that has arrived is noticed even before it writes.
    bool look = true;
    for (;;) {
        bool wantOutput;
        {
            std::lock_guard<std::mutex> lock(outLock_);
            if (stopping_) break;
            wantOutput = !pending_.empty();
        }
        // Without a host the master reports a hang-up on every poll; look
        // again only after a pause (woken early by output or a hang-up).
        pollfd fds[2] = {{wakeRead_, POLLIN, 0},
                         {hostAbsent ? -1 : master_, static_cast<short>(POLLIN | (wantOutput ? POLLOUT : 0)), 0}};
        const int ready = ::poll(fds, 2, hostAbsent ? kNoHostBackoffMs : look ? 0 : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            break;
        }
        if (fds[0].revents & POLLIN) {
            char drain[64];
            while (::read(wakeRead_, drain, sizeof drain) > 0) {
            }
        }
        if (hostAbsent) {
            hostAbsent = false;
            look = true;
            continue;
        }
        look = false;
        const short revents = fds[1].revents;
        if (revents & POLLNVAL) break;
        bool hostThere = true;
        // What the host wrote before closing still reaches the device.
        if (revents & POLLIN) hostThere = ReadHost();
        if (revents & (POLLHUP | POLLERR)) hostThere = false;
        if (hostThere && (revents & POLLOUT)) hostThere = WritePending();
        if (!hostThere) {
            DropPending();
            hostAbsent = true;
        }
        hostConnected_.store(hostThere);
    }
    hostConnected_.store(false);
    // Closing the master is the hang-up the host sees.
    CloseFd(master_);
    DropPending();
}

}  // namespace firmora::simtool
