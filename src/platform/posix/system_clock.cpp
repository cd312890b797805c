#include "platform/posix/system_clock.h"

#include <time.h>

#include <cmath>
#include <thread>

namespace firmora::platform {

SystemClock::SystemClock(double timeScale)
    : scale_(std::isfinite(timeScale) && timeScale > 0 ? timeScale : 1.0),
      startTick_(std::chrono::steady_clock::now()),
      startWall_(std::chrono::system_clock::now()) {}

void SystemClock::Sleep(uint32_t ms) {
    std::this_thread::sleep_for(std::chrono::duration<double, std::milli>(ms / scale_));
}

std::chrono::nanoseconds SystemClock::ScaledElapsed() const {
    const auto elapsed = std::chrono::steady_clock::now() - startTick_;
    return std::chrono::nanoseconds(
        static_cast<int64_t>(static_cast<double>(elapsed.count()) * scale_));
}

uint64_t SystemClock::TickCount() const {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(ScaledElapsed()).count());
}

int64_t SystemClock::WallMilliseconds() const {
    using namespace std::chrono;
    // At the natural rate the wall clock is read as it is: the steady clock
    // stops while the machine is suspended and would leave log times behind.
    const system_clock::time_point now =
        scale_ == 1.0 ? system_clock::now()
                      : startWall_ + duration_cast<system_clock::duration>(ScaledElapsed());
    return duration_cast<milliseconds>(now.time_since_epoch()).count();
}

namespace {
int64_t FloorSeconds(int64_t ms) { return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000); }
}  // namespace

int64_t SystemClock::WallSeconds() const { return FloorSeconds(WallMilliseconds()); }

LocalDateTime SystemClock::Now() const {
    const int64_t ms = WallMilliseconds();
    const time_t seconds = static_cast<time_t>(FloorSeconds(ms));
    struct tm local {};
    localtime_r(&seconds, &local);
    LocalDateTime t;
    t.year = local.tm_year + 1900;
    t.month = local.tm_mon + 1;
    t.day = local.tm_mday;
    t.hour = local.tm_hour;
    t.minute = local.tm_min;
    // A leap second shows as the last second of its minute.
    t.second = local.tm_sec > 59 ? 59 : local.tm_sec;
    t.millisecond = static_cast<int>(ms - static_cast<int64_t>(seconds) * 1000);
    return t;
}

}  // namespace firmora::platform
