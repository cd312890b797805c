#include "platform/posix/posix_interrupts.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <thread>
#include <utility>

namespace firmora::platform {
namespace {

constexpr std::array<int, 2> kSignals = {SIGINT, SIGTERM};
constexpr char kStopByte = 'S';
constexpr char kQuitByte = 'Q';  // the watch is going away
constexpr int kExitBySignalBase = 128;

// What the handler may touch: plain atomics (lock-free on every POSIX host).
std::atomic<int> gWakeFd{-1};
std::atomic<int> gRequests{0};
std::atomic<bool> gWatching{false};

extern "C" void OnStopSignal(int signal) {
    const int savedErrno = errno;
    if (gRequests.fetch_add(1) > 0) ::_exit(kExitBySignalBase + signal);
    const int fd = gWakeFd.load();
    if (fd >= 0) {
        const char byte = kStopByte;
        [[maybe_unused]] const ssize_t n = ::write(fd, &byte, 1);
    }
    errno = savedErrno;
}

class PosixInterruptWatch final : public InterruptWatch {
public:
    PosixInterruptWatch(int readFd, int writeFd, std::function<void()> onStop)
        : readFd_(readFd), writeFd_(writeFd) {
        gRequests.store(0);
        gWakeFd.store(writeFd_);
        thread_ = std::thread([this, onStop = std::move(onStop)] { Run(onStop); });
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART;
        for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &action, &previous_[i]);
    }

    ~PosixInterruptWatch() override {
        for (size_t i = 0; i < kSignals.size(); ++i) ::sigaction(kSignals[i], &previous_[i], nullptr);
        const char byte = kQuitByte;
        while (::write(writeFd_, &byte, 1) < 0 && errno == EINTR) {
        }
        thread_.join();
        gWakeFd.store(-1);
        ::close(readFd_);
        ::close(writeFd_);
        gWatching.store(false);
    }

    PosixInterruptWatch(const PosixInterruptWatch&) = delete;
    PosixInterruptWatch& operator=(const PosixInterruptWatch&) = delete;

private:
    void Run(const std::function<void()>& onStop) const {
        for (;;) {
            char byte = 0;
            const ssize_t n = ::read(readFd_, &byte, 1);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0 || byte == kQuitByte) return;
            if (onStop) onStop();
        }
    }

    int readFd_;
    int writeFd_;
    std::thread thread_;
    std::array<struct sigaction, kSignals.size()> previous_{};
};

}  // namespace

std::unique_ptr<InterruptWatch> PosixInterrupts::Watch(std::function<void()> onStop) {
    if (gWatching.exchange(true)) return nullptr;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC) != 0) {
        gWatching.store(false);
        return nullptr;
    }
    return std::make_unique<PosixInterruptWatch>(fds[0], fds[1], std::move(onStop));
}

}  // namespace firmora::platform
