#pragma once
// The device's sense of time: what the virtual modem schedules its replies
// and transitions on. In-process it is the VirtualClock; firmora-sim drives
// it in real time.

#include <cstdint>
#include <functional>

#include "platform/virtual_clock.h"

namespace firmora::sim {

class Scheduler {
public:
    virtual ~Scheduler() = default;
    virtual uint64_t NowMs() const = 0;
    // Runs `fn` `delayMs` after now; callbacks due at the same time run in the order scheduled.
    virtual void After(uint64_t delayMs, std::function<void()> fn) = 0;
};

class VirtualClockScheduler final : public Scheduler {
public:
    explicit VirtualClockScheduler(platform::VirtualClock& clock) : clock_(clock) {}
    uint64_t NowMs() const override { return clock_.TickCount(); }
    void After(uint64_t delayMs, std::function<void()> fn) override { clock_.ScheduleIn(delayMs, std::move(fn)); }

private:
    platform::VirtualClock& clock_;
};

}  // namespace firmora::sim
