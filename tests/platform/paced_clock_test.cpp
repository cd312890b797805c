#include "platform/paced_clock.h"

#include <gtest/gtest.h>

#include <functional>
#include <vector>

namespace firmora::platform {
namespace {

// The real clock's part: records each pause and runs what happens meanwhile.
class PaceRecorder final : public Clock {
public:
    void Sleep(uint32_t ms) override {
        paused.push_back(ms);
        if (meanwhile) meanwhile();
    }
    uint64_t TickCount() const override { return 0; }
    int64_t WallSeconds() const override { return 0; }
    LocalDateTime Now() const override { return {}; }

    std::vector<uint32_t> paused;
    std::function<void()> meanwhile;
};

TEST(PacedClock, EachPauseTakesItsRealTimeFirstThenMovesTheVirtualClock) {
    VirtualClock time;
    PaceRecorder pace;
    PacedClock clock(time, pace);
    std::vector<uint64_t> fired;
    time.ScheduleAt(200, [&] { fired.push_back(time.TickCount()); });
    time.ScheduleAt(900, [&] { fired.push_back(time.TickCount()); });
    // While the real pause runs, the virtual modem's time stands still.
    pace.meanwhile = [&] { EXPECT_TRUE(fired.empty()) << "virtual time moved before the real pause ended"; };

    clock.Sleep(500);
    EXPECT_EQ(pace.paused, std::vector<uint32_t>{500});
    EXPECT_EQ(clock.TickCount(), 500u);
    EXPECT_EQ(fired, std::vector<uint64_t>{200});
    EXPECT_EQ(clock.Now().second, time.Now().second);
}

TEST(PacedClock, PausesOfSeveralThreadsOverlapInsteadOfAddingUp) {
    VirtualClock time;
    PaceRecorder pace;
    PacedClock clock(time, pace);
    // Another thread's 300 ms pause ends during this one's 500 ms: the
    // virtual clock ends where this pause was meant to end, not at 800.
    pace.meanwhile = [&] { time.AdvanceTo(300); };
    clock.Sleep(500);
    EXPECT_EQ(clock.TickCount(), 500u);
    // A wait inside the virtual modem jumped past this pause's end: no step back.
    pace.meanwhile = [&] { time.AdvanceTo(2000); };
    clock.Sleep(100);
    EXPECT_EQ(clock.TickCount(), 2000u);
}

}  // namespace
}  // namespace firmora::platform
