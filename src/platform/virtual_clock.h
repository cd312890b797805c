#pragma once
// A Clock whose time moves only when somebody sleeps on it, and then at once.
// Tests and the virtual modem schedule events at virtual times; a sleeping
// thread fires every event that falls due during its sleep, in time order,
// with the clock standing at the event's time while it runs.
//
// Several threads may sleep on one clock (the workers of several modems).
// Taking an event and running it must then be one step: if one thread took
// an event and another moved time on before it had run, the second would
// see its time-out pass although the event that answers it was due first.
// An owner whose events take a lock of their own names it as the event lock:
// every step of time is then taken under it.

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <utility>

#include "platform/clock.h"

namespace firmora::platform {

class VirtualClock final : public Clock {
public:
    using EventId = uint64_t;

    // `start` is the local date and time at tick 0.
    explicit VirtualClock(LocalDateTime start = {2026, 1, 5, 9, 0, 0, 0});

    void Sleep(uint32_t ms) override;
    uint64_t TickCount() const override;
    int64_t WallSeconds() const override;
    LocalDateTime Now() const override;

    // Moves time forward to `tick` (no-op when it lies in the past), firing due events.
    void AdvanceTo(uint64_t tick);
    // Runs `fn` when time reaches `tick` (at once on the next advance if already due).
    EventId ScheduleAt(uint64_t tick, std::function<void()> fn);
    EventId ScheduleIn(uint64_t delayMs, std::function<void()> fn);
    void Cancel(EventId id);
    std::optional<uint64_t> NextEventTick() const;

    // Moves of time and the events they fire are taken under `lock` from now
    // on (null: none). The owner's events may take it again: it is recursive.
    void SetEventLock(std::recursive_mutex* lock);

private:
    // One step of AdvanceTo: runs the first event due by `tick`, or moves
    // time to `tick` when none is; false once time stands at `tick`.
    bool Step(uint64_t tick);

    std::atomic<std::recursive_mutex*> eventLock_{nullptr};
    mutable std::mutex mutex_;
    uint64_t now_ = 0;
    EventId nextId_ = 1;
    // Ordered by (tick, id) so events at one time fire in scheduling order.
    std::map<std::pair<uint64_t, EventId>, std::function<void()>> events_;
    int64_t startEpochSeconds_;
    int startMillisecond_;
};

}  // namespace firmora::platform
