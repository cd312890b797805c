#include "platform/virtual_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace firmora::platform {
namespace {

TEST(VirtualClockEvents, FireInTimeOrderAtTheirTimesDuringASleep) {
    VirtualClock clock;
    std::vector<std::pair<std::string, uint64_t>> fired;
    auto record = [&](std::string name) {
        return [&fired, &clock, name] { fired.emplace_back(name, clock.TickCount()); };
    };
    clock.ScheduleAt(300, record("c"));
    clock.ScheduleAt(100, record("a"));
    clock.ScheduleAt(100, record("b"));  // same time: scheduling order
    clock.ScheduleAt(900, record("late"));
    const auto cancelled = clock.ScheduleAt(200, record("cancelled"));
    clock.Cancel(cancelled);

    clock.Sleep(500);
    EXPECT_EQ(clock.TickCount(), 500u);
    const std::vector<std::pair<std::string, uint64_t>> expected{{"a", 100}, {"b", 100}, {"c", 300}};
    EXPECT_EQ(fired, expected);
    EXPECT_EQ(clock.NextEventTick(), 900u);

    clock.AdvanceTo(100);  // the past: nothing moves
    EXPECT_EQ(clock.TickCount(), 500u);
    clock.Sleep(400);
    EXPECT_EQ(fired.back(), (std::pair<std::string, uint64_t>{"late", 900}));
    EXPECT_EQ(clock.NextEventTick(), std::nullopt);
}

TEST(VirtualClockEvents, AnEventMayScheduleFurtherEvents) {
    VirtualClock clock;
    std::vector<uint64_t> ticks;
    std::function<void()> chain = [&] {
        ticks.push_back(clock.TickCount());
        if (ticks.size() < 5) clock.ScheduleIn(100, chain);
    };
    clock.ScheduleIn(100, chain);
    clock.ScheduleIn(250, [&] { clock.ScheduleIn(0, [&] { ticks.push_back(1000 + clock.TickCount()); }); });

    clock.Sleep(320);
    EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 200, 1250, 300}));
    clock.Sleep(1000);
    EXPECT_EQ(ticks, (std::vector<uint64_t>{100, 200, 1250, 300, 400}));
}

// Two threads on one clock, as the workers of two modems are: one waits for
// an answer under the owner's lock (as a read of the virtual bus does) while
// the other sleeps. The sleeper must not take the answering event and leave
// it unrun while the waiter's time-out passes it.
TEST(VirtualClockEvents, AWaitUnderTheEventLockSeesAnEventAnotherThreadsSleepReached) {
    VirtualClock clock;
    std::recursive_mutex bus;
    clock.SetEventLock(&bus);
    std::atomic<bool> answered{false};
    clock.ScheduleAt(10, [&] {
        std::lock_guard lock(bus);
        answered = true;
    });

    std::unique_lock waiting(bus);
    std::atomic<bool> sleeperStarted{false};
    std::thread sleeper([&] {
        sleeperStarted = true;
        clock.Sleep(1000);
    });
    while (!sleeperStarted) std::this_thread::yield();
    // Gives the sleeper time to reach the clock; a slow start only makes the
    // test easier to pass, never a false failure.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));

    const uint64_t deadline = 50;
    while (!answered && clock.TickCount() < deadline) {
        const std::optional<uint64_t> next = clock.NextEventTick();
        clock.AdvanceTo(next && *next < deadline ? *next : deadline);
    }
    EXPECT_TRUE(answered);
    EXPECT_EQ(clock.TickCount(), 10u);

    waiting.unlock();
    sleeper.join();
    EXPECT_EQ(clock.TickCount(), 1000u);
    clock.SetEventLock(nullptr);
}

TEST(VirtualClockTime, WallTimeAndLocalTimeAdvanceWithTheTicks) {
    VirtualClock clock({2026, 12, 31, 23, 59, 58, 500});
    const int64_t start = clock.WallSeconds();
    EXPECT_EQ(ShortDateText(clock.Now()), "2026/12/31");
    EXPECT_EQ(LongTimeText(clock.Now()), "23:59:58");
    EXPECT_EQ(clock.Now().millisecond, 500);

    clock.Sleep(499);
    EXPECT_EQ(clock.WallSeconds(), start);
    clock.Sleep(1);
    EXPECT_EQ(clock.WallSeconds(), start + 1);
    clock.Sleep(1000);
    const LocalDateTime now = clock.Now();
    EXPECT_EQ(ShortDateText(now), "2027/01/01");
    EXPECT_EQ(LongTimeText(now), "00:00:00");
    EXPECT_EQ(now.millisecond, 0);
    EXPECT_EQ(clock.WallSeconds(), start + 2);
}

}  // namespace
}  // namespace firmora::platform
