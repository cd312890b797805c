#include "platform/paced_clock.h"

namespace firmora::platform {

void PacedClock::Sleep(uint32_t ms) {
    const uint64_t end = time_.TickCount() + ms;
    pace_.Sleep(ms);
    time_.AdvanceTo(end);
}

}  // namespace firmora::platform
