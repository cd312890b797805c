#include "platform/virtual_clock.h"

#include <chrono>

namespace firmora::platform {
namespace {

int64_t ToEpochSeconds(const LocalDateTime& t) {
    using namespace std::chrono;
    const sys_days days{year{t.year} / month{static_cast<unsigned>(t.month)} /
                        day{static_cast<unsigned>(t.day)}};
    return days.time_since_epoch().count() * 86400LL + t.hour * 3600LL + t.minute * 60LL + t.second;
}

LocalDateTime FromEpochMilliseconds(int64_t ms) {
    using namespace std::chrono;
    const int64_t seconds = ms / 1000;
    const int64_t dayCount = seconds / 86400;
    const int64_t secondOfDay = seconds % 86400;
    const year_month_day ymd{sys_days{days{dayCount}}};
    LocalDateTime t;
    t.year = static_cast<int>(ymd.year());
    t.month = static_cast<int>(static_cast<unsigned>(ymd.month()));
    t.day = static_cast<int>(static_cast<unsigned>(ymd.day()));
    t.hour = static_cast<int>(secondOfDay / 3600);
    t.minute = static_cast<int>(secondOfDay / 60 % 60);
    t.second = static_cast<int>(secondOfDay % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}

}  // namespace

VirtualClock::VirtualClock(LocalDateTime start)
    : startEpochSeconds_(ToEpochSeconds(start)), startMillisecond_(start.millisecond) {}

void VirtualClock::Sleep(uint32_t ms) {
    uint64_t target;
    {
        std::lock_guard lock(mutex_);
        target = now_ + ms;
    }
    AdvanceTo(target);
}

void VirtualClock::AdvanceTo(uint64_t tick) {
    while (Step(tick)) {
    }
}

bool VirtualClock::Step(uint64_t tick) {
    std::unique_lock<std::recursive_mutex> step;
    if (std::recursive_mutex* lock = eventLock_.load()) step = std::unique_lock(*lock);
    std::function<void()> due;
    {
        std::lock_guard lock(mutex_);
        if (events_.empty() || events_.begin()->first.first > tick) {
            if (tick > now_) now_ = tick;
            return false;
        }
        auto first = events_.begin();
        if (first->first.first > now_) now_ = first->first.first;
        due = std::move(first->second);
        events_.erase(first);
    }
    // Run without the clock's own lock: an event may schedule further events or read the time.
    due();
    return true;
}

void VirtualClock::SetEventLock(std::recursive_mutex* lock) { eventLock_.store(lock); }

uint64_t VirtualClock::TickCount() const {
    std::lock_guard lock(mutex_);
    return now_;
}

int64_t VirtualClock::WallSeconds() const {
    std::lock_guard lock(mutex_);
    return startEpochSeconds_ + static_cast<int64_t>((now_ + startMillisecond_) / 1000);
}

LocalDateTime VirtualClock::Now() const {
    std::lock_guard lock(mutex_);
    return FromEpochMilliseconds(startEpochSeconds_ * 1000 + startMillisecond_ + static_cast<int64_t>(now_));
}

VirtualClock::EventId VirtualClock::ScheduleAt(uint64_t tick, std::function<void()> fn) {
    std::lock_guard lock(mutex_);
    const EventId id = nextId_++;
    events_.emplace(std::make_pair(tick, id), std::move(fn));
    return id;
}

VirtualClock::EventId VirtualClock::ScheduleIn(uint64_t delayMs, std::function<void()> fn) {
    uint64_t at;
    {
        std::lock_guard lock(mutex_);
        at = now_ + delayMs;
    }
    return ScheduleAt(at, std::move(fn));
}

void VirtualClock::Cancel(EventId id) {
    std::lock_guard lock(mutex_);
    for (auto it = events_.begin(); it != events_.end(); ++it) {
        if (it->first.second == id) {
            events_.erase(it);
            return;
        }
    }
}

std::optional<uint64_t> VirtualClock::NextEventTick() const {
    std::lock_guard lock(mutex_);
    if (events_.empty()) return std::nullopt;
    return events_.begin()->first.first;
}

}  // namespace firmora::platform
