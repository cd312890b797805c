#include "app/flash_application.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "application_fixture.h"

namespace firmora::app {
namespace {

namespace fs = std::filesystem;
using Application = ApplicationFixture;

// The plain default package: start-up unpacks it, finds the device Ready,
// Start runs the update to PASS through the window's queue, and closing
// removes the working folder but keeps the device's backup.
TEST_F(Application, StartsReadyRunsToPassAndRemovesOnlyTheWorkingFolder) {
    ASSERT_TRUE(Start());
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

}  // namespace
}  // namespace firmora::app
