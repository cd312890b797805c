#include "engine/comms_thread.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "engine/device_backup.h"
#include "line_gate.h"
#include "worker_fixture.h"

namespace firmora::engine {
namespace {

using nlohmann::json;

// Holds the worker at `text` of the recorded view.
void HoldAt(testing::LineGate& gate, testing::RecordingRunView& view) {
    view.onLine = [&gate](const testing::RecordingRunView::Line& line) { gate.Arrive(line.text); };
}

using Worker = WorkerFixture;

// Stop from the window's thread while the run walks on its own thread: the
// run winds down without "PASS" and without a failure, the device is not
// written, and the termination handler runs once.
TEST_F(Worker, StopFromAnotherThreadEndsTheRunWithoutPass) {
    Plug();
    testing::LineGate gate("Backup OK");
    HoldAt(gate, view);
    worker = MakeWorker();
    int terminated = 0;
    worker->SetOnTerminate([&] { ++terminated; });
    worker->Resume();
    ASSERT_TRUE(gate.WaitReached());
    worker->Stop();
    gate.Open();
    worker->WaitFor();

    EXPECT_EQ(terminated, 1);
    EXPECT_EQ(worker->RunStatus(), core::kRunStopped);
    EXPECT_FALSE(worker->Passed());
    EXPECT_FALSE(view.Has("PASS"));
    EXPECT_TRUE(view.Failures().empty());
    for (const std::string& line : RunCommands()) EXPECT_EQ(line.rfind("FASTBOOT:", 0), std::string::npos) << line;
}

// A Stop given before the run began still holds once it begins.
TEST_F(Worker, StopBeforeTheRunBeganIsKept) {
    Plug();
    worker = MakeWorker();
    worker->Stop();
    worker->Execute();
    EXPECT_EQ(worker->RunStatus(), core::kRunStopped);
    EXPECT_FALSE(view.Has("PASS"));
    EXPECT_FALSE(view.Has("Ready 1......"));
}

// Stop while the worker waits for the Diag port of a device that does not
// come back: the loop ends with "COMM Closed" at once, not after twenty
// 10-second attempts, and the run ends without "PASS" and without a failure.
TEST_F(Worker, StopDuringTheDiagReopenLoopEndsItWithCommClosed) {
    Plug(json::object(), "no-return");
    view.now = [this] { return simulation->clock().TickCount(); };
    worker = MakeWorker();
    view.onLine = [this](const testing::RecordingRunView::Line& line) {
        if (line.text.find("Initial Diagnostic0......wait") != std::string::npos) worker->Stop();
    };
    worker->Execute();

    // The scans found no port: the selector is empty.
    EXPECT_EQ(view.Count(" Initial Diagnostic0......wait"), 1u);
    const auto closed = view.First("COMM Closed");
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->kind, core::kReportError);
    EXPECT_FALSE(view.Has("PASS"));
    EXPECT_TRUE(view.Failures().empty());
    EXPECT_EQ(worker->RunStatus(), core::kRunStopped);
    // What is left after the Stop passes no further pause of the loops.
    EXPECT_LT(view.Lines().back().ms - view.First("Initial Diagnostic0......wait")->ms, 3000u);
    ASSERT_EQ(BackupFolders().size(), 1u);
    EXPECT_TRUE(fs::is_regular_file(BackupFolders()[0] / "at.bak"));
}

// Stop once the Diag port is back: the restores are skipped, the closing
// step says "COMM Closed" as an error line, and the backup stays complete
// for a restore of its own.
TEST_F(Worker, StopAfterTheDownloadLeavesARestorableBackup) {
    Plug();
    worker = MakeWorker();
    view.onLine = [this](const testing::RecordingRunView::Line& line) {
        if (line.text.find("Initial Diagnostic0......ok") != std::string::npos) worker->Stop();
    };
    worker->Execute();

    const auto closed = view.First("COMM Closed");
    ASSERT_TRUE(closed);
    EXPECT_EQ(closed->kind, core::kReportError);
    EXPECT_FALSE(view.Has("PASS"));
    EXPECT_FALSE(InOrder(RunCommands(), {"FASTBOOT: reboot", "AT: AT+CFUN=1"}));
    ASSERT_EQ(BackupFolders().size(), 1u);
    std::string error;
    EXPECT_TRUE(LoadCompleteBackup(files, options, tables, BackupFolders()[0], error)) << error;
}

// Whoever owns a running worker may drop it: the destructor stops the run
// and waits for the thread, so it never reads what is gone.
TEST_F(Worker, DestroyingARunningWorkerStopsAndWaitsForIt) {
    Plug();
    testing::LineGate gate("Start succssfully");
    HoldAt(gate, view);
    worker = MakeWorker();
    std::atomic<int> terminated{0};
    worker->SetOnTerminate([&] { ++terminated; });
    worker->Resume();
    ASSERT_TRUE(gate.WaitReached());
    std::thread release([&] { gate.Open(); });
    worker.reset();
    release.join();
    EXPECT_EQ(terminated.load(), 1);
    EXPECT_FALSE(view.Has("PASS"));
}

// A whole run on the worker's own thread passes as on the test's.
TEST_F(Worker, ResumedRunPassesOnItsOwnThread) {
    Plug();
    worker = MakeWorker();
    std::thread::id ranOn;
    worker->SetOnTerminate([&] { ranOn = std::this_thread::get_id(); });
    worker->Resume();
    worker->WaitFor();
    EXPECT_TRUE(worker->Passed()) << (view.Failures().empty() ? "" : view.Failures()[0]);
    EXPECT_NE(ranOn, std::this_thread::get_id());
}

// The generic package resets nothing itself after the download (the plan's
// restart is the reset) and waits 10 s before each Diag re-open attempt.
TEST_F(Worker, Mdm9x15SendsNoResetCommandAndWaitsTenSecondsBeforeTheDiagReopen) {
    Plug();
    view.now = [this] { return simulation->clock().TickCount(); };
    RunOnce();
    ASSERT_TRUE(worker->Passed());
    const std::vector<std::string> log = RunCommands();
    const auto restart = std::find(log.begin(), log.end(), "FASTBOOT: reboot");
    ASSERT_NE(restart, log.end());
    for (auto it = restart; it != log.end(); ++it) {
        EXPECT_NE(it->rfind("DIAG: 0B", 0), 0u) << *it;
        EXPECT_NE(it->rfind("DIAG: 11", 0), 0u) << *it;
    }
    const auto state = view.First(" Modem ready");
    const auto opened = view.First("Initial Diagnostic0......ok");
    ASSERT_TRUE(state && opened);
    EXPECT_GE(opened->ms - state->ms, 10000u);
}

}  // namespace
}  // namespace firmora::engine
