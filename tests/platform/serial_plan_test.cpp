#include "platform/serial_ports.h"

#include <gtest/gtest.h>

namespace firmora::platform {
namespace {

using Mode = ReadWaitPlan::Mode;

TEST(PlanRead, ReturnAtOnceAndFirstByteWaits) {
    EXPECT_EQ(PlanRead({kTimeoutMax, 0, 0, 100, 1000}, 64).mode, Mode::Immediate);

    const ReadWaitPlan firstByte = PlanRead({kTimeoutMax, kTimeoutMax, 1000, 1, 1000}, 64);
    EXPECT_EQ(firstByte.mode, Mode::FirstByte);
    EXPECT_EQ(firstByte.firstByteMs, 1000u);

    // A first-byte wait needs a constant between 0 and max, exclusive.
    EXPECT_EQ(PlanRead({kTimeoutMax, kTimeoutMax, 0, 0, 0}, 1).mode, Mode::Accumulate);
    EXPECT_EQ(PlanRead({kTimeoutMax, kTimeoutMax, kTimeoutMax, 0, 0}, 1).mode, Mode::Accumulate);
}

TEST(PlanRead, AccumulateLimitsComeFromTheMultiplierConstantAndInterval) {
    const ReadWaitPlan slow = PlanRead({1000, 1000, 2000, 1000, 3000}, 4);
    EXPECT_EQ(slow.mode, Mode::Accumulate);
    EXPECT_EQ(slow.totalMs, 6000u);
    EXPECT_EQ(slow.intervalMs, 1000u);

    // 32-bit multiplier times a length must not wrap.
    const ReadWaitPlan large = PlanRead({0, kTimeoutMax, 5, 0, 0}, 4096);
    EXPECT_EQ(large.totalMs, uint64_t{kTimeoutMax} * 4096 + 5);
    EXPECT_EQ(large.intervalMs, std::nullopt);

    const ReadWaitPlan unlimited = PlanRead({}, 16);
    EXPECT_EQ(unlimited.mode, Mode::Accumulate);
    EXPECT_EQ(unlimited.totalMs, std::nullopt);
    EXPECT_EQ(unlimited.intervalMs, std::nullopt);

    const ReadWaitPlan gapOnly = PlanRead({50, 0, 0, 0, 0}, 16);
    EXPECT_EQ(gapOnly.totalMs, std::nullopt);
    EXPECT_EQ(gapOnly.intervalMs, 50u);
}

TEST(ParseComName, AcceptsComNamesWithOrWithoutTheDeviceNamespace) {
    EXPECT_EQ(ParseComName("COM9"), 9);
    EXPECT_EQ(ParseComName("\\\\.\\COM10"), 10);
    EXPECT_EQ(ParseComName("com3"), 3);
    EXPECT_EQ(ParseComName("Com256"), 256);
    for (const char* bad : {"COM0", "COM", "COMx", "COM1x", "LPT1", "COM01", "\\\\.\\LPT1", "",
                            "COM-1", "COM1234567", " COM1"}) {
        EXPECT_EQ(ParseComName(bad), std::nullopt) << bad;
    }
}

}  // namespace
}  // namespace firmora::platform
