#include "app/flash_application.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>

#include "app/run_validation.h"
#include "app/startup_texts.h"
#include "application_fixture.h"
#include "line_gate.h"

namespace firmora::app {
namespace {

namespace fs = std::filesystem;
using Application = ApplicationFixture;

// The plain default package: start-up unpacks it, finds the device Ready,
// Start runs the update to PASS through the window's queue, and closing
// removes the working folder but keeps the device's backup.
TEST_F(Application, StartsReadyRunsToPassAndRemovesOnlyTheWorkingFolder) {
    // What a start that ended abruptly left behind.
    fs::create_directories(Temp() / "TempFiles" / "old");
    std::ofstream(Temp() / "TempFiles" / "amss.mbn") << "another package's image";
    ASSERT_TRUE(Start());
    EXPECT_FALSE(fs::exists(Temp() / "TempFiles" / "amss.mbn"));
    EXPECT_FALSE(fs::exists(Temp() / "TempFiles" / "old"));
    const WindowControls& c = app->form().controls();
    EXPECT_EQ(app->WorkingFolder(), Temp() / "TempFiles");
    EXPECT_EQ(app->BackupFolder(), Temp() / "Backup" / "2026_01_05");
    EXPECT_TRUE(fs::is_regular_file(app->WorkingFolder() / "Config.ini"));
    EXPECT_TRUE(fs::is_regular_file(app->WorkingFolder() / "sbl1.mbn"));
    EXPECT_EQ(c.Frame.caption, app->Options().Caption);
    EXPECT_EQ(c.Frame.applicationTitle, app->Options().Caption);
    EXPECT_EQ(c.StatusBar.text, "Welcome to Firmora_QCOMM!!");
    EXPECT_EQ(c.ImageFolderEdit.text, app->WorkingFolder().string());
    EXPECT_FALSE(c.StopButton.enabled);
    EXPECT_TRUE(c.Label_title.visible);
    EXPECT_FALSE(c.Timer1.enabled);
    EXPECT_FALSE(c.ProgressBar.visible) << "the gauge waits for the updating page";
    EXPECT_FALSE(app->Ending());

    ASSERT_TRUE(WaitReady());
    EXPECT_EQ(c.Label_status.text, "Ready");
    EXPECT_TRUE(c.StartButton.enabled);

    app->form().StartClick();
    ASSERT_TRUE(app->form().SlotOccupied(0)) << "the run did not start";
    ASSERT_TRUE(DrainUntil([this] { return !app->form().AnySlotOccupied(); }));
    EXPECT_EQ(ReadDownloadStatus(simulation->settings()), "PASS");
    EXPECT_EQ(c.Label13.text, "Update Completed");

    const fs::path working = app->WorkingFolder();
    ASSERT_TRUE(fs::exists(app->BackupFolder()));
    app->Destroy();
    EXPECT_FALSE(fs::exists(working));
    EXPECT_TRUE(fs::exists(app->BackupFolder())) << "backups are never removed at exit";
    EXPECT_TRUE(fs::exists(Temp())) << "only the folder start-up made goes";
}

// The settings a first start finds missing are written first; the port
// choices come back whole at exit (a three-digit port keeps every digit).
TEST_F(Application, FirstStartWritesTheMissingSettingsAndExitKeepsWholePortNumbers) {
    nlohmann::json ports = sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, "default").json["usb"]["ports"];
    ports[0]["com"] = 123;
    ASSERT_TRUE(Start({{"usb", {{"ports", ports}}}}));
    EXPECT_EQ(Integer("COMM Port"), 1U);
    EXPECT_EQ(Integer("SerialCOMM Port"), 1U);
    EXPECT_EQ(String("DownloadStatus"), "");
    EXPECT_EQ(String(""), "temp");
    // No COM1 listed: entry 0 stays selected.
    EXPECT_EQ(app->form().Selectors().PortCBox.Text(), "COM123");
    EXPECT_FALSE(app->form().controls().Reupdate1.visible);

    app->Destroy();
    EXPECT_EQ(Integer("COMM Port"), 123U);
    EXPECT_EQ(Integer("SerialCOMM Port"), 7U);
    EXPECT_EQ(String("Image File Folder"), app->WorkingFolder().string());
}

// The last outcome decides whether Re-update is offered.
TEST_F(Application, ReupdateIsOfferedAfterAFailureOnly) {
    for (const auto& [status, offered] : {std::pair{"FAIL", true}, {"PASS", false}, {"Backup succssfully", true}}) {
        SCOPED_TRACE(status);
        Make();
        WriteDownloadStatus(simulation->settings(), status);
        ASSERT_TRUE(app->Create());
        EXPECT_EQ(app->form().controls().Reupdate1.visible, offered);
        app->Destroy();
        app.reset();
    }
}

// A second instance is refused before it touches the working folder: the
// first instance's files stay while it works, and after the second has gone.
TEST_F(Application, ASecondInstanceIsRefusedAndLeavesTheFirstInstancesFilesAlone) {
    ASSERT_TRUE(Start());
    const fs::path image = app->WorkingFolder() / "sbl1.mbn";
    fs::last_write_time(image, fs::file_time_type::clock::now() - std::chrono::hours(1));
    const auto written = fs::last_write_time(image);

    FlashApplication second(Services());
    EXPECT_FALSE(second.Create());
    EXPECT_TRUE(second.Ending());
    EXPECT_EQ(second.EndMessage(), "upgrading is running,please exit the upgrade tool!");
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown().back().caption, "Warning");
    second.Destroy();

    ASSERT_TRUE(fs::exists(image));
    EXPECT_EQ(fs::last_write_time(image), written) << "the second instance rewrote the first one's image";
    EXPECT_FALSE(app->Ending());
}

// The maker's programs hold their locks: every product refuses to start
// beside them, the operator variants with their own Japanese message.
TEST_F(Application, StartIsRefusedBesideTheMakersPrograms) {
    Plug();
    bool existed = false;
    const auto utility = simulation->processes().CreateNamedLock("VARUZIRoded_Ivedo", existed);
    app = std::make_unique<FlashApplication>(Services());
    Carry(std::string(package::DefaultConfigText()));
    EXPECT_FALSE(app->Create());
    EXPECT_EQ(app->EndMessage(), "upgrading is running,please exit the upgrade tool!");
    app->Destroy();
    app.reset();

    bundle = testing::MemoryBundle();
    Carry(DefaultWith("Project = MDM9x15", "Project = ZP200_EA"));
    app = std::make_unique<FlashApplication>(Services());
    EXPECT_FALSE(app->Create());
    EXPECT_EQ(app->EndMessage(), CompanionRunningMessage(app->Options()));
    EXPECT_TRUE(dialogs.guides().empty()) << "no wizard before the companion check";
    app->Destroy();
    app.reset();

    // A Japanese product: its window waits in Japanese, and refuses in Japanese.
    bundle = testing::MemoryBundle();
    Carry(DefaultWith("Project = MDM9x15", "Project = DO78_21"));
    app = std::make_unique<FlashApplication>(Services());
    EXPECT_FALSE(app->Create());
    EXPECT_EQ(app->EndMessage(), "ユーティリティが実行中です。");
    EXPECT_EQ(dialogs.shown().back().caption, JapaneseToolCaption(app->Options().ProjectIndex));
    EXPECT_EQ(app->form().controls().Label_status.text, "準備中");
    EXPECT_EQ(app->form().controls().Label_status.font, JapaneseFont());
}

// The Japanese products ask before every update: Cancel leaves the device
// alone and the program open, OK runs the update.
TEST_F(Application, TheJapaneseProductsAskBeforeEveryUpdate) {
    Plug();
    app = std::make_unique<FlashApplication>(Services());
    Carry(DefaultWith("Project = MDM9x15", "Project = DO78_21"));
    ASSERT_TRUE(app->Create());
    ASSERT_TRUE(WaitReady());

    // Their window: the two-product warning instead of the unplug one, the
    // Start and Finish pictures moved up into view, the window's own faces kept.
    const WindowControls& c = app->form().controls();
    EXPECT_EQ(c.Label_title.text, "Koriant Software Update Tool");
    EXPECT_EQ(c.Label_title.font, JapaneseFont());
    EXPECT_TRUE(c.Label_warning_7921.visible);
    EXPECT_FALSE(c.Label_warning.visible || c.Image_warning.visible);
    EXPECT_EQ(c.Image_start0_0.position.top, 212);
    EXPECT_EQ(c.Image_finish0.position.top, 212);
    EXPECT_EQ(c.Label13.font, UiGothic(12));

    dialogs.QueueAnswer(platform::DialogAnswer::Cancel);
    app->form().StartClick();
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown().back().text, kJapaneseStartQuestion);
    EXPECT_EQ(dialogs.shown().back().buttons, platform::DialogButtons::OkCancel);
    EXPECT_FALSE(app->form().SlotOccupied(0));
    EXPECT_FALSE(app->Ending());

    dialogs.QueueAnswer(platform::DialogAnswer::Ok);
    app->form().StartClick();
    EXPECT_TRUE(app->form().SlotOccupied(0));
    ASSERT_TRUE(DrainUntil([this] { return !app->form().AnySlotOccupied(); }));
}

// A package in Japanese for another product: its own unplug warning in the
// Japanese face, the product named in the title, Start's alternate set off.
TEST_F(Application, AJapanesePackageOfAnotherProductWarnsInJapanese) {
    Carry(DefaultWith("LTEType = LTE\r\n", "LTEType = LTE\r\nLanguage = Japanese\r\nName = FM9x15\r\n"));
    ASSERT_TRUE(Start());
    const WindowControls& c = app->form().controls();
    EXPECT_EQ(c.Label_warning.text, "ファームウェア更新中に取り外さないでください。");
    EXPECT_TRUE(c.Label_warning.visible && c.Label_warning.wordWrap);
    EXPECT_EQ(c.Label_warning.font.name, "MS PGothic");
    EXPECT_FALSE(c.Image_warning.visible);
    EXPECT_NE(c.Label_title.text.find("FM9x15"), std::string::npos);
    EXPECT_EQ(c.Label_title.font, JapaneseFont());
    EXPECT_FALSE(c.Label_warning_7921.visible);
}

// Without a device Next goes off at the readiness loop's first pass; it
// comes on once the switched device lists a Diag and an AT port. The
// wizard's device check asks the device's revision family on the readings
// of that pass.
TEST_F(Application, NextFollowsTheReadinessPassAndTheWizardChecksTheDevicesFamily) {
    // The mode switch takes a minute: the first pass surely finds no port.
    Make({{"programs", {{"swivletMs", 60000}}}}, "cdrom-first");
    // Next's state after each decision, in order (held until the
    // application's end, which still shows the decisions left in its queue).
    auto next = std::make_shared<std::vector<bool>>();
    app->onReadiness = [this, next](const package::ReadinessDecision&) {
        next->push_back(app->form().controls().Label21.enabled);
    };
    ASSERT_TRUE(app->Create());
    ASSERT_TRUE(WaitReady());
    ASSERT_GE(next->size(), 2U);
    EXPECT_FALSE(next->front());
    EXPECT_TRUE(next->back());

    app->form().nextButtonClick();
    app->form().nextButtonClick();
    EXPECT_EQ(app->form().controls().Label13.text, "Device Check") << "the device's family fits the package";
    EXPECT_FALSE(app->form().SlotOccupied(0));
}

TEST_F(Application, TheWizardRefusesADeviceOfAnotherRevisionFamily) {
    ASSERT_TRUE(Start({{"identity", {{"revision", "v2.1.0"}}}}));
    ASSERT_TRUE(DrainUntil([this] { return app->LastReadiness().has_value(); }));
    app->form().nextButtonClick();
    app->form().nextButtonClick();
    EXPECT_EQ(app->form().controls().Label14.text, "本アップデートツールは適用できません。");
}

// A device the package does not fit: the refusal reaches the window
// through its queue, with its reason in a "Warning" box, and Start stays off.
TEST_F(Application, ARefusedDeviceIsShownWithItsReasonAndStartStaysOff) {
    Carry(DefaultWith("Version = v2.0.2\r\n", "Version = XB20_11.LTE.VQA0012.v2.0.2\r\nbCheckProjectCode = 1\r\n"));
    ASSERT_TRUE(Start());
    ASSERT_TRUE(DrainUntil([this] { return app->LastReadiness().has_value(); }));
    EXPECT_EQ(app->LastReadiness()->refusal, "Could not update other irrelevant model device!");
    const WindowControls& c = app->form().controls();
    EXPECT_EQ(c.Label_status.text, "Not Ready");
    EXPECT_FALSE(c.StartButton.enabled);
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown().back().caption, "Warning");
    EXPECT_EQ(dialogs.shown().back().text, "Could not update other irrelevant model device!");
}

// The compact product has no readiness loop: its wizard confirmed presses Start.
TEST_F(Application, TheCompactProductStartsTheUpdateOnceItsWizardIsConfirmed) {
    Carry(DefaultWith("Project = MDM9x15", "Project = ZQ65_Custom"));
    ASSERT_TRUE(Start());
    ASSERT_EQ(dialogs.guides().size(), 1U);
    EXPECT_EQ(dialogs.guides()[0].wizard, platform::GuideWizard::TFormGuide3);
    const WindowFrame& frame = app->form().controls().Frame;
    EXPECT_EQ(std::pair(frame.width, frame.height), std::pair(480, 185));
    EXPECT_TRUE(frame.stayOnTop);
    EXPECT_TRUE(app->form().controls().GroupBox1.visible);
    EXPECT_TRUE(app->form().controls().CGauge1.visible);
    EXPECT_FALSE(app->form().controls().ProgressBar.visible);
    EXPECT_TRUE(app->form().SlotOccupied(0));
    ASSERT_TRUE(DrainUntil([this] { return !app->form().AnySlotOccupied(); }));
    EXPECT_FALSE(app->LastReadiness().has_value());
}

// The compact product's wizard asks the main window's port scan whether a
// device is present; declining the wizard ends the program.
TEST_F(Application, TheCompactProductsWizardAsksThePortScanForADevice) {
    Carry(DefaultWith("Project = MDM9x15", "Project = ZQ65_Custom"));
    dialogs.confirmGuides = false;
    for (const bool plugged : {true, false}) {
        SCOPED_TRACE(plugged);
        const nlohmann::json noPorts = {{"usb", {{"ports", nlohmann::json::array()}}}};
        EXPECT_FALSE(Start(plugged ? nlohmann::json::object() : noPorts));
        ASSERT_FALSE(dialogs.guides().empty());
        const platform::GuideRequest& guide = dialogs.guides().back();
        EXPECT_EQ(guide.projectIndex, package::kProjectZQ65_Custom);
        EXPECT_EQ(guide.pages.size(), 4U) << "welcome, licence, steps, device missing";
        ASSERT_TRUE(app->HasForm());
        ASSERT_TRUE(guide.devicePresent);
        EXPECT_EQ(guide.devicePresent(), plugged);
        EXPECT_FALSE(app->form().SlotOccupied(0));
        app->Destroy();
        app.reset();
    }
}

// A package that switches the device into its boot loader starts the boot push.
TEST_F(Application, TheBootPushStartsWhenThePackageAsksForIt) {
    Carry(DefaultWith("bSwitchFastbootMode=0", "bSwitchFastbootMode=1"));
    ASSERT_TRUE(Start());
    EXPECT_TRUE(fs::is_regular_file(app->WorkingFolder() / "xload.bin"));
    EXPECT_EQ(simulation->settings().ReadString(platform::SettingsScope::Machine, "SOFTWARE\\rgdriverinfo",
                                                "DownloadSupport"),
              "OK");
}

// The guide wizards: each product gets its own, and a declined one ends the program.
TEST_F(Application, TheProductsWizardIsShownAndADeclinedOneEndsTheProgram) {
    Carry(DefaultWith("Project = MDM9x15", "Project = RA66_51"));
    dialogs.confirmGuides = false;
    EXPECT_FALSE(Start());
    EXPECT_TRUE(app->Ending());
    EXPECT_EQ(app->EndMessage(), "");
    ASSERT_EQ(dialogs.guides().size(), 1U);
    EXPECT_EQ(dialogs.guides()[0].wizard, platform::GuideWizard::TFormGuide);
    EXPECT_FALSE(dialogs.guides()[0].pages.empty());
    const fs::path working = app->WorkingFolder();
    app->Destroy();
    EXPECT_FALSE(fs::exists(working));
    app.reset();

    bundle = testing::MemoryBundle();
    Carry(DefaultWith("Project = MDM9x15", "Project = ZP200_Italy"));
    dialogs.confirmGuides = true;
    EXPECT_TRUE(Start());
    ASSERT_EQ(dialogs.guides().size(), 2U);
    EXPECT_EQ(dialogs.guides()[1].wizard, platform::GuideWizard::TFormGuide1);
    EXPECT_TRUE(app->form().controls().Label_title.visible);
}

// A package that cannot be unpacked ends the start with its reason, and
// what was written goes again.
TEST_F(Application, AnUnpackFailureEndsTheStartCleanly) {
    Carry(std::string(package::DefaultConfigText()));
    bundle.AddDamaged("UBI", "NONHLOSFile", std::string(7000, 'n'));
    EXPECT_FALSE(Start());
    EXPECT_TRUE(app->Ending());
    EXPECT_EQ(app->EndMessage(), "Unpack failed [NONHLOS.ubi]: CRC error");
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown().back().caption, "Warning");
    const fs::path working = app->WorkingFolder();
    EXPECT_TRUE(fs::exists(working / "sbl1.mbn"));
    app->Destroy();
    EXPECT_FALSE(fs::exists(working));
}

// Packet = 2: the second variant goes to TempFiles2, is checked against
// the first, and goes again at exit.
TEST_F(Application, ASecondVariantIsUnpackedIntoItsOwnFolder) {
    const std::string first = DefaultWith("Project = MDM9x15\r\n", "Project = MDM9x15\r\nPacket = 2\r\nFlashType = 1\r\n");
    Carry(first, DefaultWith("Project = MDM9x15\r\n", "Project = MDM9x15\r\nFlashType = 2\r\n"));
    ASSERT_TRUE(Start());
    const fs::path second = app->SecondWorkingFolder();
    EXPECT_EQ(second, Temp() / "TempFiles2");
    EXPECT_TRUE(fs::is_regular_file(second / "Config.ini"));
    EXPECT_TRUE(fs::is_regular_file(second / "Swivlet.exe"));
    app->Destroy();
    EXPECT_FALSE(fs::exists(second));
    app.reset();

    // The same flash size twice is no pair: the program ends.
    bundle = testing::MemoryBundle();
    Carry(first, DefaultWith("Project = MDM9x15\r\n", "Project = MDM9x15\r\nFlashType = 1\r\n"));
    EXPECT_FALSE(Start());
    EXPECT_TRUE(app->Ending());
    EXPECT_EQ(dialogs.shown().back().caption, "警告");
}

// A dual package is written in the variant that fits the device's board:
// the second one here, and the first again for a device of the other board.
TEST_F(Application, StartWritesTheVariantThatFitsTheBoard) {
    const std::string pair = "Project = MDM9x15\r\nPacket = 2\r\n";
    Carry(DefaultWith("Project = MDM9x15\r\n", pair + "Name = ZT72\r\n"),
          DefaultWith("Caption = Firmora MDM9x15 Update Tool", "Caption = Second",
                      DefaultWith("Project = MDM9x15\r\n", pair + "Name = ZT73\r\n")));
    ASSERT_TRUE(Start({{"identity", {{"boardCode", "GMT8019"}}}}));
    ASSERT_TRUE(WaitReady());
    app->form().StartClick();
    EXPECT_EQ(app->form().options().Name, "ZT73");
    EXPECT_EQ(app->form().package().packageFolder, app->SecondWorkingFolder());
    EXPECT_EQ(app->form().controls().Frame.caption, "Second");
    ASSERT_TRUE(DrainUntil([this] { return !app->form().AnySlotOccupied(); }));

    Modem().at().boardCode = "PM8019";
    app->form().StartClick();
    EXPECT_EQ(app->form().options().Name, "ZT72");
    EXPECT_EQ(app->form().package().packageFolder, app->WorkingFolder());
    ASSERT_TRUE(DrainUntil([this] { return !app->form().AnySlotOccupied(); }));
}

// Closing during a run: the worker is told to stop and waited for while its
// files are still there; then the working folder goes and the backup stays.
TEST_F(Application, CloseDuringARunWaitsForTheWorkerBeforeRemovingItsFiles) {
    ASSERT_TRUE(Start());
    ASSERT_TRUE(WaitReady());
    testing::LineGate gate("ImageBulkWrite successfully");
    app->form().onWorkerReport = [&](int, const std::string& text, int) { gate.Arrive(text); };
    app->form().StartClick();
    ASSERT_TRUE(gate.WaitReached());
    const engine::TCommsThread* worker = app->form().Worker(0);
    ASSERT_NE(worker, nullptr);
    const fs::path working = app->WorkingFolder();
    std::atomic<bool> filesThereWhenReleased{false};
    std::thread releaser([&] {
        for (int guard = 0; worker->RunStatus() != core::kRunStopped && guard < 60'000; ++guard) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        filesThereWhenReleased = fs::exists(working / "sbl1.mbn");
        gate.Open();
    });
    app->Destroy();
    releaser.join();

    EXPECT_TRUE(filesThereWhenReleased);
    EXPECT_FALSE(app->form().AnySlotOccupied());
    EXPECT_FALSE(fs::exists(working));
    EXPECT_NE(ReadDownloadStatus(simulation->settings()), "PASS");
    ASSERT_TRUE(fs::exists(app->BackupFolder()));
    EXPECT_FALSE(fs::is_empty(app->BackupFolder())) << "the device's backup was kept";
}

// The operator variants give the device 20 s: a timer that finds Start
// still disabled stops the readiness loop and ends the program.
TEST_F(Application, TheStartTimerEndsTheProgramWhenNoDeviceCameInTime) {
    Carry(DefaultWith("Project = MDM9x15", "Project = ZP200_EA"));
    ASSERT_TRUE(Start());
    ASSERT_EQ(dialogs.guides().size(), 1U);
    EXPECT_EQ(dialogs.guides()[0].wizard, platform::GuideWizard::TFormGuide2);
    EXPECT_EQ(dialogs.guides()[0].projectIndex, package::kProjectZP200_EA);
    EXPECT_TRUE(dialogs.guides()[0].japanese);
    EXPECT_TRUE(app->form().controls().Timer1.enabled);
    app->Timer1Timer();
    EXPECT_TRUE(app->Ending());
    EXPECT_EQ(app->EndMessage(), DeviceMissingMessage(app->Options()));
    EXPECT_FALSE(app->form().controls().Timer1.enabled);
    // A timer that fires again does nothing more.
    const size_t boxes = dialogs.shown().size();
    app->Timer1Timer();
    EXPECT_EQ(dialogs.shown().size(), boxes);
}

}  // namespace
}  // namespace firmora::app
