#include "engine/run_reporter.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_serial.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "platform/last_error.h"
#include "platform/virtual_clock.h"

namespace firmora::engine {
namespace {

struct RecordingView : RunView {
    struct Call {
        std::string what;
        int slot;
        std::string text;
        int value;
    };
    std::vector<Call> calls;

    void StatusCallback(int slot, const std::string& text, int kind) override {
        calls.push_back({"status", slot, text, kind});
    }
    void ErrorCallback(int slot, const std::string& text) override { calls.push_back({"error", slot, text, 0}); }
    void SetGaugeMax(int slot, int maximum) override { calls.push_back({"max", slot, "", maximum}); }
    void SetGaugePosition(int slot, int position) override { calls.push_back({"position", slot, "", position}); }

    std::vector<int> Positions() const {
        std::vector<int> out;
        for (const auto& c : calls) {
            if (c.what == "position") out.push_back(c.value);
        }
        return out;
    }
};

class RunReporterTest : public ::testing::Test {
protected:
    RecordingView view;
    RunReporter reporter{view, 3};
    struct CountingChannel final : core::ErrorStateOwner {
        void ClearPendingErrors() override { ++clears; }
        int clears = 0;
    } channel;
    const int& diagnosticClears = channel.clears;

    void SetUp() override {
        reporter.AttachDiagnosticChannel(&channel);
        platform::SetLastError(0);
    }
};

TEST_F(RunReporterTest, FirstFailureWithoutSystemCodeIsReportedWithZeroAndSetsStatus31) {
    reporter.ReportError("Fail to connect serial port");

    ASSERT_EQ(view.calls.size(), 1u);
    EXPECT_EQ(view.calls[0].what, "error");
    EXPECT_EQ(view.calls[0].slot, 3);
    EXPECT_EQ(view.calls[0].text, "ERROR, Fail to connect serial port, Error code: 0");
    EXPECT_EQ(reporter.RunStatus(), 31);
    EXPECT_EQ(reporter.CurrentStatusText(), "ERROR, Fail to connect serial port, Error code: 0");
    EXPECT_EQ(diagnosticClears, 1);
}

TEST_F(RunReporterTest, OnlyTheFirstFailureTakesEffectButEveryOneClearsTheDiagnosticChannel) {
    platform::SetLastError(5);
    reporter.ReportError("first");
    platform::SetLastError(2);
    reporter.ReportError("second");

    ASSERT_EQ(view.calls.size(), 1u);
    EXPECT_EQ(view.calls[0].text, "ERROR, first, Error code: 5");
    EXPECT_EQ(reporter.RunStatus(), 5);
    EXPECT_EQ(diagnosticClears, 2);
}

TEST_F(RunReporterTest, StopIsNotOverwrittenByALaterFailureNorDoesItHideAnEarlierOne) {
    reporter.Stop();
    reporter.ReportError("Could not read from serial port");
    EXPECT_EQ(reporter.RunStatus(), core::kRunStopped);
    EXPECT_TRUE(view.calls.empty());

    RunReporter failed(view, 0);
    platform::SetLastError(7);
    failed.ReportError("x");
    failed.Stop();
    EXPECT_EQ(failed.RunStatus(), 7);
}

TEST_F(RunReporterTest, StatusLinesPassThroughWithSlotAndKindAndBecomeTheCurrentText) {
    reporter.ReportStatus("Ready 1......", core::kReportInfo);
    reporter.ReportStatus("Opened......", core::kReportTrace);

    ASSERT_EQ(view.calls.size(), 2u);
    EXPECT_EQ(view.calls[1].text, "Opened......");
    EXPECT_EQ(view.calls[1].value, core::kReportTrace);
    EXPECT_EQ(view.calls[1].slot, 3);
    EXPECT_EQ(reporter.CurrentStatusText(), "Opened......");
}

TEST_F(RunReporterTest, GaugeFollowsTheByteCountAndReaches100OnlyWhenCompleted) {
    reporter.BeginRun(1000);
    EXPECT_EQ(view.calls.front().what, "max");
    EXPECT_EQ(view.calls.front().value, 100);

    reporter.AddWrittenBytes(500);   // 500 * 0.099 = 49.5 -> 49
    reporter.AddWrittenBytes(500);   // 99
    EXPECT_EQ(view.Positions(), (std::vector<int>{49, 99}));
    reporter.CompleteGauge();
    EXPECT_EQ(view.Positions().back(), 100);
}

TEST_F(RunReporterTest, EmptyPackageUsesScale99AndALargePackageDoesNotWrapTheCount) {
    reporter.BeginRun(0);
    EXPECT_FLOAT_EQ(reporter.ProgressScale(), 99.0f);

    const uint64_t total = 6ull << 30;  // 6 GiB of images
    reporter.BeginRun(total);
    for (int i = 0; i < 6; ++i) reporter.AddWrittenBytes(1u << 30);
    EXPECT_EQ(reporter.WrittenBytes(), total);
    EXPECT_EQ(view.Positions().back(), 99);
}

TEST_F(RunReporterTest, BeginRunMakesTheRunHealthyAgain) {
    reporter.ReportError("old");
    reporter.BeginRun(10);
    EXPECT_EQ(reporter.RunStatus(), core::kRunHealthy);
    reporter.ReportError("new");
    EXPECT_EQ(view.calls.back().text, "ERROR, new, Error code: 0");
}

TEST_F(RunReporterTest, BeginRunKeepsAStopGivenBeforeIt) {
    reporter.Stop();
    reporter.BeginRun(10);
    EXPECT_EQ(reporter.RunStatus(), core::kRunStopped);
}

// In a real run nobody wires anything: the open diagnostic channel that
// reports through the run's reporter has its errors cleared by every error
// report, and an AT channel never does.
TEST(RunReporterChannels, EveryErrorReportClearsTheOpenDiagnosticChannelsErrors) {
    RecordingView view;
    RunReporter reporter{view, 0};
    platform::VirtualClock clock;
    testing::FakeSerialPorts ports{clock};
    package::DownloadOptions options;
    {
        link::SerialChannel at(link::ChannelRole::At, ports, clock, reporter, options);
        link::SerialChannel diag(link::ChannelRole::Diagnostic, ports, clock, reporter, options);
        ASSERT_TRUE(diag.Open(3));
        ASSERT_TRUE(at.Open(4));
        ports.Device("COM3").pendingErrorMask = platform::kSerialErrorOverrun;
        ports.Device("COM4").pendingErrorMask = platform::kSerialErrorOverrun;
        reporter.ReportError("first");
        EXPECT_EQ(ports.Device("COM3").pendingErrorMask, 0u);
        EXPECT_EQ(ports.Device("COM4").pendingErrorMask, platform::kSerialErrorOverrun);

        ports.Device("COM3").pendingErrorMask = platform::kSerialErrorFrame;
        reporter.ReportError("second, not reported");
        EXPECT_EQ(ports.Device("COM3").pendingErrorMask, 0u);
    }
    // Once the channel is gone the reporter no longer reaches for it.
    reporter.ReportError("after the channel");
    EXPECT_EQ(view.calls.size(), 1u);
}

}  // namespace
}  // namespace firmora::engine
