#pragma once
// The virtual modem's time in real time: a timer thread that runs each
// scheduled callback when it falls due (steady clock), under the lock that
// serialises every call into the modem. A time scale above 1 makes the
// device's delays pass faster (demonstrations, tests).

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <map>
#include <thread>
#include <utility>

#include "sim/scheduler.h"

namespace firmora::simtool {

class RealtimeScheduler final : public sim::Scheduler {
public:
    // `modemLock` is held around every callback. A scale that is not a
    // positive finite number counts as 1.
    explicit RealtimeScheduler(std::mutex& modemLock, double timeScale = 1.0);
    ~RealtimeScheduler() override;
    RealtimeScheduler(const RealtimeScheduler&) = delete;
    RealtimeScheduler& operator=(const RealtimeScheduler&) = delete;

    // Device milliseconds since construction (scaled).
    uint64_t NowMs() const override;
    // Never runs `fn` on the calling thread (callers hold the modem lock), so
    // it may be called from inside a callback or a modem call. Ignored once stopped.
    void After(uint64_t delayMs, std::function<void()> fn) override;

    void Start();
    // Wakes the thread and joins it; callbacks not yet due are dropped. A
    // callback already running finishes first. Must not be called with the
    // modem lock held.
    void Stop();

    // Calls due now or later, not yet run.
    size_t Pending() const;
    // Called after each callback, still under the modem lock (the runner
    // looks there for changes the callback made). Set it before Start.
    void SetAfterEach(std::function<void()> hook);

    double timeScale() const { return scale_; }

private:
    // (due device millisecond, order of scheduling): callbacks due together
    // run in the order they were scheduled.
    using Key = std::pair<uint64_t, uint64_t>;

    void Run();
    std::chrono::steady_clock::time_point RealTimeOf(uint64_t dueMs) const;

    std::mutex& modemLock_;
    const double scale_;
    const std::chrono::steady_clock::time_point start_;

    mutable std::mutex queueLock_;
    std::condition_variable wake_;
    std::map<Key, std::function<void()>> queue_;
    uint64_t nextSequence_ = 0;
    bool stopping_ = false;
    std::function<void()> afterEach_;
    std::thread thread_;
};

}  // namespace firmora::simtool
