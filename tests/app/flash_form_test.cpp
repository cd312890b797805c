#include "app/flash_form.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "form_fixture.h"
#include "test_files.h"
#include "package/project_table.h"
#include "sim/device_side.h"

namespace firmora::app {
namespace {

namespace fs = std::filesystem;
using engine::InOrder;
using platform::DialogAnswer;

using Form = FormFixture;

// Start, as a user presses it against a present device: the checks, the
// run, the milestones kept as they arrive, the success page, the log gone.
TEST_F(Form, StartRunsTheWholeUpdateToPassAndKeepsEachMilestone) {
    Open();
    const engine::KeptData before = Snapshot();
    std::vector<std::string> statuses;
    form->onReportLine = [&](const std::string& text, int kind) {
        lines.push_back({text, kind});
        if (IsMilestone(text)) statuses.push_back(Status());
    };
    form->StartClick();
    const fs::path logPath = form->runLog().path();
    EXPECT_EQ(form->controls().Label_status.text, " Upgrading...");
    EXPECT_EQ(form->controls().Label_status.colour, Colour::Black);
    EXPECT_TRUE(form->SlotOccupied(0));
    EXPECT_TRUE(form->DiagPortBusy(5));
    EXPECT_FALSE(form->controls().StartButton.enabled);
    EXPECT_TRUE(form->controls().StopButton.enabled);
    EXPECT_FALSE(form->controls().GroupBox3.enabled);
    RunToEnd();

    EXPECT_TRUE(InOrder(Texts(), {"1.3.5.0", "com null-26", "Check......", "Check......completely", "Syncing......",
                                  "Start succssfully", "Backup succssfully", "PASS"}));
    EXPECT_EQ(statuses, (std::vector<std::string>{"Start succssfully", "Backup succssfully", "PASS"}));
    EXPECT_EQ(readiness.stops, 1);
    ExpectKept(before);

    const WindowControls& c = form->controls();
    EXPECT_EQ(c.Label13.text, "Update Completed");
    EXPECT_EQ(c.Label14.text, options.Version);
    EXPECT_EQ(c.Label15.text, "アップデートが正常に完了しました");
    EXPECT_TRUE(c.Label16.visible);
    EXPECT_FALSE(c.Label21.visible);
    EXPECT_EQ(c.ProgressBar.progress, 100);
    EXPECT_FALSE(c.Reupdate1.visible);
    EXPECT_FALSE(form->runLog().IsOpen());
    EXPECT_FALSE(fs::exists(logPath)) << "a passed run leaves no log";
    // The end of the run: the slot and the ports are free, the controls idle
    // except Start, which a new press of the Start pictures begins.
    EXPECT_FALSE(form->DiagPortBusy(5));
    EXPECT_FALSE(form->AtPortBusy(7));
    EXPECT_FALSE(c.StopButton.enabled);
    EXPECT_FALSE(c.StartButton.enabled);
    EXPECT_TRUE(c.GroupBox3.enabled);
    EXPECT_TRUE(c.lvFileList.enabled);
    EXPECT_FALSE(c.Image_gif.visible);
    EXPECT_EQ(c.Image_start0.pictureIndex, 3);
}

// The readiness loop's AT port is taken from it before the run, and a close
// that fails is tried again.
TEST_F(Form, StartTakesTheReadinessLoopsAtPortFirst) {
    Open();
    readiness.atPortOpen = true;
    readiness.failedCloses = 1;
    form->StartClick();
    RunToEnd();
    EXPECT_TRUE(InOrder(Texts(), {"com not null-26", "Warning-26", "com not null-26", "close com-26", "Check......"}));
    EXPECT_TRUE(Has("PASS"));
}

// Stop while the worker is at a line of each phase: the run winds down
// without PASS, and the window is left idle with its failure kept on disk.
class StopDuringPhase : public FormFixture, public ::testing::WithParamInterface<const char*> {};

TEST_P(StopDuringPhase, EndsTheRunWithoutPass) {
    Open();
    testing::LineGate& gate = StartHeldAt(GetParam());
    const fs::path logPath = form->runLog().path();
    form->StopClick();
    gate.Open();
    RunToEnd();

    EXPECT_TRUE(Has("Shutting down COMM..."));
    EXPECT_FALSE(Has("PASS"));
    EXPECT_NE(Status(), "PASS");
    EXPECT_FALSE(form->DiagPortBusy(5));
    EXPECT_FALSE(form->controls().StopButton.enabled);
    EXPECT_TRUE(fs::exists(logPath)) << "a stopped run keeps its log";
    // Stopped before the boot loader, nothing was written to the device.
    if (std::string(GetParam()) == "Start succssfully") {
        for (const std::string& command : RunCommands()) EXPECT_NE(command.rfind("FASTBOOT:", 0), 0U) << command;
    }
}

INSTANTIATE_TEST_SUITE_P(Phases, StopDuringPhase,
                         ::testing::Values("Start succssfully", "Backup OK", "Backup succssfully",
                                           "ImageBulkWrite successfully", "Restore SN"));

// Re-update after a run that stopped once its backup was made: the run
// resumes and passes, and the device has its data back. The package
// restores, so the backup is made again (the first one is kept beside it);
// without it the worker would write the device and then have nothing to
// restore from.
TEST_F(Form, ReupdateAfterTheBackupPassesAndKeepsTheDevicesData) {
    Open();
    const engine::KeptData before = Snapshot();
    testing::LineGate& gate = StartHeldAt("Backup succssfully");
    form->StopClick();
    gate.Open();
    RunToEnd();
    ASSERT_EQ(Status(), "Backup succssfully");
    EXPECT_TRUE(form->BackupDone());
    // The stopped run still sent the device to its boot loader; the user
    // plugs it in again.
    {
        std::lock_guard lock(simulation->lock());
        Modem().Request(sim::ModemRequest::Reset);
    }
    simulation->clock().Sleep(60'000);

    lines.clear();
    form->Reupdate1Click();
    EXPECT_TRUE(form->ReupdateMode());
    EXPECT_TRUE(form->options().bBackup);
    RunToEnd();
    EXPECT_TRUE(InOrder(Texts(), {"com null-25", "Check......", "Check......completely", "Syncing......",
                                  "The earlier backup of this device is kept as", "PASS"}));
    EXPECT_FALSE(Has("1.3.5.0"));
    EXPECT_EQ(Status(), "PASS");
    ExpectKept(before);
    EXPECT_EQ(BackupFolders().size(), 1U) << "the earlier backup is kept; the passed run's own is removed";
}

// After a run that passed there is nothing to resume: Re-update says so and
// runs the whole update all the same (its AT port taken from the selector).
TEST_F(Form, ReupdateAfterPassReportsTheStatusAndStillRuns) {
    Open();
    WriteDownloadStatus(simulation->settings(), "PASS");
    form->Reupdate1Click();
    EXPECT_TRUE(form->options().bBackup);
    RunToEnd();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.front().text, "Status was wrong");
    EXPECT_EQ(lines.front().kind, core::kReportError);
    EXPECT_TRUE(Has("Backup OK"));
    EXPECT_TRUE(Has("PASS"));
    // Re-update never offers itself again.
    EXPECT_FALSE(form->controls().Reupdate1.visible);
}

// A second Start (or Re-update) while a run is on is refused without a box,
// and before it scans the ports the worker is using or touches the run's
// controls: Stop stays available and the run goes on to PASS.
TEST_F(Form, SecondStartDuringARunIsRefusedSilently) {
    Open();
    testing::LineGate& gate = StartHeldAt("Backup OK");
    const size_t commands = CommandLog().size();
    form->StartClick();
    form->Reupdate1Click();
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(CommandLog().size(), commands) << "nothing was sent to the device";
    EXPECT_EQ(readiness.stops, 1);
    EXPECT_TRUE(form->controls().StopButton.enabled);
    EXPECT_FALSE(form->ReupdateMode());
    gate.Open();
    RunToEnd();
    EXPECT_TRUE(Has("PASS"));
}

// A worker for one of several devices runs in the slot it is given over the
// seams it is given, and holds its ports until its end has been handled: a
// second launch on an occupied slot, a busy Diag or AT port, or no slot at
// all is refused.
TEST_F(Form, DeviceWorkersKeepToTheirSlotsAndTheirPorts) {
    Open();
    form->BeginDeviceWorkers();
    EXPECT_EQ(readiness.stops, 1);
    const TFlashSrcUiForm::DeviceWorkerSeams seams{*window, simulation->devices(), simulation->serialPorts(), view};
    ASSERT_TRUE(form->LaunchDeviceWorker(0, {5, 6, 7}, seams));
    // The worker's end is handled only when the queue is drained, so the
    // ports are still held here however fast the run goes.
    EXPECT_FALSE(form->LaunchDeviceWorker(0, {9, 10, 11}, seams));
    EXPECT_FALSE(form->LaunchDeviceWorker(1, {5, 0, 11}, seams));
    EXPECT_FALSE(form->LaunchDeviceWorker(1, {9, 0, 7}, seams));
    EXPECT_FALSE(form->LaunchDeviceWorker(TFlashSrcUiForm::kSlotCount, {9, 0, 11}, seams));
    EXPECT_TRUE(form->SlotOccupied(0));
    EXPECT_FALSE(form->SlotOccupied(1));
    RunToEnd();
    EXPECT_TRUE(view.Has("PASS"));
    EXPECT_FALSE(Has("PASS")) << "the device's lines went to its own view";
    EXPECT_FALSE(form->DiagPortBusy(5));
    EXPECT_FALSE(form->AtPortBusy(7));
    EXPECT_FALSE(form->EndedBackupFolder(0).empty());
}

// A refused run leaves the window idle with the failure on its status line,
// and its log open for the next Start.
TEST_F(Form, TwoDevicesAreRefusedWithTheirMessage) {
    Open(nlohmann::json::object(), "two-devices");
    form->StartClick();
    ASSERT_EQ(dialogs.shown().size(), 1U);
    EXPECT_EQ(dialogs.shown()[0].text, "Two or more devices were found");
    EXPECT_EQ(dialogs.shown()[0].caption, "Warning");
    EXPECT_FALSE(form->AnySlotOccupied());
    const WindowControls& c = form->controls();
    EXPECT_EQ(c.Label_status.text, " Upgrade failure");
    EXPECT_EQ(c.Label_status.colour, Colour::Red);
    EXPECT_TRUE(c.StartButton.enabled);
    EXPECT_FALSE(c.StopButton.enabled);
    EXPECT_TRUE(c.Image_progress.visible);
    EXPECT_TRUE(form->runLog().IsOpen());
}

// A product whose device check fails ends the application before any run.
TEST_F(Form, FailedDeviceCheckEndsTheApplication) {
    options.ProjectIndex = package::kProjectZO71_11;
    checks.softwareVersion = [] { return false; };
    Open();
    bool closed = false;
    form->onCloseRequested = [&] { closed = true; };
    form->StartClick();
    EXPECT_TRUE(closed);
    EXPECT_TRUE(form->ApplicationEnding());
    EXPECT_FALSE(form->AnySlotOccupied());
    EXPECT_FALSE(Has("Check......completely"));
}

// The boxes of closing: the finish button's question, then the window's own.
class ClosingDialogs final : public platform::Dialogs {
public:
    DialogAnswer ShowMessage(const std::string& caption, const std::string& text, platform::DialogButtons,
                             platform::DialogIcon) override {
        shown.push_back(caption + ": " + text);
        if (onShow) onShow();
        return answer;
    }
    bool ShowGuide(const platform::GuideRequest&) override { return true; }
    std::vector<std::string> shown;
    DialogAnswer answer = DialogAnswer::Ok;
    std::function<void()> onShow;
};

// Closing during a run stops the worker and waits for it before the window
// goes: the run never passes, its lines are in, and nothing runs afterwards.
TEST_F(Form, CloseDuringARunStopsTheWorkerAndWaitsForIt) {
    ClosingDialogs boxes;
    formDialogs = &boxes;
    Open();
    testing::LineGate& gate = StartHeldAt("ImageBulkWrite successfully");
    // The worker is let go once it has been told to stop: the window waits
    // for it only after that, so a window that did not stop it would hang here.
    const engine::TCommsThread* worker = form->Worker(0);
    ASSERT_NE(worker, nullptr);
    std::thread releaser([&] {
        for (int guard = 0; worker->RunStatus() != core::kRunStopped && guard < 60'000; ++guard) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        gate.Open();
    });
    bool closed = false;
    form->onCloseRequested = [&] { closed = true; };
    form->FinishButtonClick();
    releaser.join();

    EXPECT_EQ(boxes.shown, (std::vector<std::string>{
                               "Close: There are tasks still downloading, do you want to terminate?",
                               "警告: アップデート中は終了することはできません。"}));
    EXPECT_TRUE(closed);
    EXPECT_FALSE(form->AnySlotOccupied());
    EXPECT_EQ(form->queue().Drain(), 0U) << "the worker's lines were handled before the window closed";
    EXPECT_FALSE(Has("PASS"));
    EXPECT_EQ(Status(), "Backup succssfully");
    const size_t commands = CommandLog().size();
    form.reset();
    EXPECT_EQ(CommandLog().size(), commands);
    // The port choices are kept for the next start.
    EXPECT_EQ(simulation->settings().ReadInteger(platform::SettingsScope::User, std::string(kWindowSettingsKey),
                                                 "COMM Port"),
              5U);
}

// Declining the close leaves the run alone.
TEST_F(Form, DeclinedCloseLetsTheRunFinish) {
    ClosingDialogs boxes;
    boxes.answer = DialogAnswer::Cancel;
    formDialogs = &boxes;
    Open();
    testing::LineGate& gate = StartHeldAt("Backup OK");
    EXPECT_FALSE(form->FormCloseQuery());
    form->CloseButtonClick();  // does nothing during a run of this product
    gate.Open();
    RunToEnd();
    EXPECT_FALSE(form->CloseRequested());
    EXPECT_EQ(boxes.shown.size(), 1U);
    EXPECT_TRUE(Has("PASS"));
}

// The Japanese products ask their own question, and close on Yes.
TEST_F(Form, JapaneseProductAsksYesOrNoBeforeClosing) {
    options.ProjectIndex = package::kProjectDO78_21;
    checks.confirmStart = [] { return true; };
    ClosingDialogs boxes;
    boxes.answer = DialogAnswer::Yes;
    formDialogs = &boxes;
    Open();
    testing::LineGate& gate = StartHeldAt("Backup OK");
    boxes.onShow = [&] { gate.Open(); };
    EXPECT_TRUE(form->FormCloseQuery());
    EXPECT_EQ(boxes.shown.front(), "Koriant Software Update Tool: ダウンロード実行中です。終了しますか？");
    form->FlashDestroy();
    EXPECT_FALSE(form->AnySlotOccupied());
}

// An error line: the support text ends the log, which is closed and kept;
// later lines do not reach it; Re-update is offered once the backup was made.
TEST_F(Form, ErrorLineWritesTheSupportTextAndClosesTheLog) {
    Open();
    ASSERT_TRUE(form->runLog().Open(options.Caption, options.ProjectIndex));
    const fs::path logPath = form->runLog().path();
    form->ReportLine("Backup succssfully", core::kReportInfo);
    form->ReportLine("ERROR, Open port fail, Error code: 2", core::kReportError);
    form->ReportLine("COMM Closed", core::kReportError);

    const std::string log = testing::ReadTestFile(logPath).value_or("");
    const std::string dashes(98, '-');
    EXPECT_NE(log.find("ERROR, Open port fail, Error code: 2\r\n\r\n\r\n" + dashes +
                       "\r\nPlease try plug in USB cable to upgrade again, if it fails please contact us.\r\n"
                       "We will reply to you as soon as possible and resolve the issue.\r\n"
                       "To cause any inconvenience to your understanding.\r\n" +
                       dashes + "\r\n"),
              std::string::npos)
        << log;
    EXPECT_EQ(log.find("COMM Closed"), std::string::npos);
    EXPECT_TRUE(form->controls().Reupdate1.visible);
    EXPECT_EQ(form->controls().Label13.text, "Update Failure");
    EXPECT_FALSE(form->controls().Label14.visible);
    EXPECT_EQ(Status(), "Backup succssfully");
}

// A port device that leaves restarts the readiness loop of a product that
// checks its project code, but never while a run is on.
TEST_F(Form, PortRemovalRestartsTheReadinessLoopOnlyBetweenRuns) {
    options.bCheckProjectCode = true;
    Open();
    {
        std::lock_guard lock(simulation->lock());
        Modem().Request(sim::ModemRequest::DropOffBus);
    }
    simulation->clock().Sleep(1000);
    form->queue().Drain();
    EXPECT_GE(readiness.starts, 1);
    EXPECT_EQ(form->ChangeFlags().changeSeen.load(), 1);
}

}  // namespace
}  // namespace firmora::app
