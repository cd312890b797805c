// Ctrl-C and termination requests as the run's Stop. Signals are raised at
// this very process, so a handler that is not in place fails the test by
// ending it.

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <mutex>

#include <gtest/gtest.h>

#include "platform/posix/posix_interrupts.h"

namespace firmora::platform {
namespace {

using namespace std::chrono_literals;

class Requests {
public:
    void Add() {
        std::lock_guard lock(mutex_);
        ++count_;
        changed_.notify_all();
    }
    // Waits (generously) until `count` requests have come in.
    bool WaitFor(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, 10s, [&] { return count_ >= count; });
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    int count_ = 0;
};

TEST(PosixInterruptsTest, AStopRequestReachesTheHandlerOnItsOwnThread) {
    PosixInterrupts interrupts;
    for (const int signal : {SIGINT, SIGTERM}) {
        Requests requests;
        {
            const auto watch = interrupts.Watch([&] { requests.Add(); });
            ASSERT_NE(watch, nullptr);
            EXPECT_EQ(interrupts.Watch([] {}), nullptr);  // one at a time
            ASSERT_EQ(::raise(signal), 0);
            EXPECT_TRUE(requests.WaitFor(1)) << "signal " << signal;
        }
        // Gone with its watch: the next one starts afresh.
    }
}

TEST(PosixInterruptsTest, ASecondRequestEndsTheProcessAtOnce) {
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        PosixInterrupts interrupts;
        const auto watch = interrupts.Watch([] {});
        ::raise(SIGINT);
        ::raise(SIGINT);
        ::_exit(0);  // not reached when the second request ends the process
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + SIGINT);
}

}  // namespace
}  // namespace firmora::platform
