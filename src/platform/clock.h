#pragma once
// Time seam. Every pause, time-out and waiting loop of the tool goes through a
// Clock, so that a run can take real time on a device or no time at all under
// test (VirtualClock).

#include <cstdint>
#include <string>

namespace firmora::platform {

// A broken-down local date and time.
struct LocalDateTime {
    int year = 1970;
    int month = 1;   // 1..12
    int day = 1;     // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59
    int millisecond = 0;
};

class Clock {
public:
    virtual ~Clock() = default;

    // Pauses the calling thread.
    virtual void Sleep(uint32_t ms) = 0;
    // Milliseconds since an arbitrary start; never goes backwards.
    virtual uint64_t TickCount() const = 0;
    // Whole seconds of the wall clock (seconds since 1970). The AT channel
    // measures its waits in these.
    virtual int64_t WallSeconds() const = 0;
    // The local date and time now.
    virtual LocalDateTime Now() const = 0;
};

// "2026/12/09": the short date format of log lines and run-log names.
std::string ShortDateText(const LocalDateTime& t);
// "05:57:29": the long time format of log lines and run-log names.
std::string LongTimeText(const LocalDateTime& t);

}  // namespace firmora::platform
