#include "app/run_log.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

#include "app/report_sink.h"
#include "temp_root_paths.h"
#include "core/reporter.h"
#include "platform/virtual_clock.h"

namespace firmora::app {
namespace {

namespace fs = std::filesystem;

using testing::TempRootPaths;

std::string Slurp(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

TEST(RunLogName, SlashesAndColonsOfCaptionDateAndTimeBecomeSafe) {
    const platform::LocalDateTime when{2026, 12, 9, 5, 7, 3, 0};
    EXPECT_EQ(RunLog::FileName("Tool A/B: v1", when), "Tool A_B; v1(2026_12_09 05;07;03).log");
}

class RunLogTest : public ::testing::Test {
protected:
    platform::VirtualClock clock{{2026, 12, 9, 5, 7, 3, 0}};
    TempRootPaths paths;
    RunLog log{clock, paths};
};

TEST_F(RunLogTest, LinesAreDateTimeTextWithCrLfAndDroppedWhenNotOpen) {
    log.WriteLine("before open");
    ASSERT_TRUE(log.Open("Firmora", 1013));
    EXPECT_EQ(log.path().parent_path(), paths.SystemRoot());
    EXPECT_EQ(log.path().filename(), "Firmora(2026_12_09 05;07;03).log");

    ReportSink sink(clock, log);
    sink.ReportLine("Start succssfully", core::kReportInfo);
    clock.Sleep(61'000);
    sink.ReportLine("PASS", core::kReportSuccess);
    log.Close();
    log.WriteLine("after close");

    EXPECT_EQ(Slurp(log.path()),
              "2026/12/09 05:07:03 Start succssfully\r\n"
              "2026/12/09 05:08:04 PASS\r\n");
}

TEST_F(RunLogTest, OpeningAgainReplacesAnExistingFileOfTheSameName) {
    ASSERT_TRUE(log.Open("Firmora", 0));
    log.WriteLine("first run");
    ASSERT_TRUE(log.Open("Firmora", 0));
    log.WriteLine("second run");
    log.Close();
    EXPECT_EQ(Slurp(log.path()), "second run\r\n");
}

TEST_F(RunLogTest, TwoProductsKeepTheirLogsInTheirOwnFolder) {
    ASSERT_TRUE(log.Open("Tool", 27));
    EXPECT_EQ(log.path().parent_path(), paths.SystemRoot() / "Program Files" / "Koriant KQ001TR Update Tool");
    ASSERT_TRUE(log.Open("Tool", 28));
    EXPECT_EQ(log.path().parent_path(), paths.SystemRoot() / "Program Files" / "Koriant KQ004TR Update Tool");
}

TEST_F(RunLogTest, SuccessDeletesTheLogUnlessTheAutotestMarkerExists) {
    ASSERT_TRUE(log.Open("Firmora", 5));
    const fs::path first = log.path();
    log.DeleteAfterSuccess();
    EXPECT_FALSE(fs::exists(first));

    std::ofstream(paths.SystemRoot() / "autotest").put('1');
    ASSERT_TRUE(log.Open("Firmora", 5));
    const fs::path second = log.path();
    log.DeleteAfterSuccess();
    EXPECT_TRUE(fs::exists(second));
}

TEST_F(RunLogTest, SuccessOfProject28RemovesItsWholeFolder) {
    ASSERT_TRUE(log.Open("Tool", 28));
    const fs::path folder = log.path().parent_path();
    std::ofstream(folder / "other.txt").put('x');
    log.DeleteAfterSuccess();
    EXPECT_FALSE(fs::exists(folder));
}

TEST_F(RunLogTest, ALogThatCouldNotBeOpenedNeverDeletesAnEarlierRunsLog) {
    ASSERT_TRUE(log.Open("Tool", 28));
    log.WriteLine("the failed run");
    log.Close();  // a failed run keeps its log
    const fs::path failed = log.path();

    paths.rootAvailable = false;
    EXPECT_FALSE(log.Open("Tool", 28));
    EXPECT_TRUE(log.path().empty());
    log.DeleteAfterSuccess();  // the next run passed, without a log of its own
    EXPECT_EQ(Slurp(failed), "the failed run\r\n");
}

TEST_F(RunLogTest, ReportSinkColoursTheMemoAndRejectsSlotsOutsideZeroToSeven) {
    ASSERT_TRUE(log.Open("Firmora", 0));
    ReportSink sink(clock, log);
    std::vector<std::pair<std::string, int>> handled;
    sink.onLine = [&](const std::string& text, int kind, const std::string&) { handled.emplace_back(text, kind); };

    sink.StatusCallback(7, "Ready 1......", core::kReportInfo);
    EXPECT_EQ(sink.memoColour(), MemoColour::Window);
    sink.StatusCallback(8, "lost", core::kReportInfo);
    EXPECT_EQ(sink.memoColour(), MemoColour::Red);
    sink.ErrorCallback(0, "ERROR, x, Error code: 0");
    sink.StatusCallback(0, "PASS", core::kReportSuccess);
    EXPECT_EQ(sink.memoColour(), MemoColour::Green);

    ASSERT_EQ(handled.size(), 4u);
    EXPECT_EQ(handled[1], (std::pair<std::string, int>{"Internal error found:  Index value out of bounds", 2}));
    EXPECT_EQ(handled[2].second, core::kReportError);
}

}  // namespace
}  // namespace firmora::app
