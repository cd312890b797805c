#pragma once
// The hand-over from the worker's thread to the window's: the worker's
// report lines, gauge moves and its termination are posted here in the order
// they happen, and the front end runs them on its own thread (a Qt window by
// a queued invocation, the command line in its main loop, a test explicitly).
// One queue, so a failure line is always handled before the worker's end.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>

namespace firmora::app {

class ReportQueue {
public:
    using Task = std::function<void()>;

    // Any thread: appends the task, then calls the wake-up (if one is set).
    void Post(Task task);
    // The window's thread: runs every task posted so far, oldest first, and
    // any that those tasks post. Returns how many ran.
    size_t Drain();
    // The window's thread: waits until a task is pending, at most
    // `timeoutMs` of real time (a front end's loop); true when one is.
    bool WaitPending(uint32_t timeoutMs);

    // Called after every Post, on the posting thread: a front end schedules a
    // Drain on its own thread from here. Set it before the first Post.
    std::function<void()> onPosted;

private:
    std::mutex mutex_;
    std::condition_variable posted_;
    std::deque<Task> tasks_;
};

}  // namespace firmora::app
