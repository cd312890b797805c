#include "platform/posix/system_clock.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <ctime>
#include <limits>

namespace firmora::platform {
namespace {

using std::chrono::milliseconds;
using std::chrono::steady_clock;

int64_t RealMsSince(steady_clock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(steady_clock::now() - start).count();
}

// Real-time checks use generous bounds so that a loaded machine cannot fail them.
TEST(SystemClock, AtTheNaturalRateFollowsTheRealClocks) {
    SystemClock clock;
    const auto start = steady_clock::now();
    const uint64_t ticks = clock.TickCount();
    clock.Sleep(50);
    EXPECT_GE(RealMsSince(start), 45);
    EXPECT_GE(clock.TickCount() - ticks, 45u);
    EXPECT_LE(std::llabs(clock.WallSeconds() - static_cast<int64_t>(std::time(nullptr))), 2);

    const LocalDateTime now = clock.Now();
    std::tm local{};
    local.tm_year = now.year - 1900;
    local.tm_mon = now.month - 1;
    local.tm_mday = now.day;
    local.tm_hour = now.hour;
    local.tm_min = now.minute;
    local.tm_sec = now.second;
    local.tm_isdst = -1;
    EXPECT_LE(std::llabs(static_cast<int64_t>(std::mktime(&local)) - clock.WallSeconds()), 2);
    EXPECT_GE(now.millisecond, 0);
    EXPECT_LT(now.millisecond, 1000);
}

TEST(SystemClock, AScaledClockRunsFastInSleepTicksAndWallTimeAlike) {
    // A minute of the clock's time is 60 ms of real time; unscaled it would
    // be a minute, far beyond the bound below, which only tells the two apart.
    constexpr double kScale = 1000.0;
    SystemClock clock(kScale);
    const auto start = steady_clock::now();
    const uint64_t ticks = clock.TickCount();
    const int64_t wall = clock.WallSeconds();
    clock.Sleep(60'000);
    const int64_t real = RealMsSince(start);
    EXPECT_GE(real, 55);
    EXPECT_LT(real, 30'000);
    // The ticks moved by the scaled real time that passed, however long that was.
    const uint64_t elapsedTicks = clock.TickCount() - ticks;
    EXPECT_GE(elapsedTicks, 60'000u);
    EXPECT_LE(elapsedTicks, static_cast<uint64_t>((RealMsSince(start) + 1) * kScale));
    // Wall time moves with the ticks, not with the real clock.
    const int64_t elapsedWall = clock.WallSeconds() - wall;
    EXPECT_GE(elapsedWall, 59);
    EXPECT_LE(elapsedWall, static_cast<int64_t>(elapsedTicks / 1000) + 1);
}

TEST(SystemClock, AScaleThatIsNotAPositiveNumberMeansRealTime) {
    for (double scale : {0.0, -2.0, std::nan(""), std::numeric_limits<double>::infinity()}) {
        EXPECT_EQ(SystemClock(scale).timeScale(), 1.0) << scale;
    }
    EXPECT_EQ(SystemClock(0.5).timeScale(), 0.5);
}

}  // namespace
}  // namespace firmora::platform
