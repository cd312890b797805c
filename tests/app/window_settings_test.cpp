#include "app/window_settings.h"

#include <gtest/gtest.h>

#include "sim/memory_settings_store.h"

namespace firmora::app {
namespace {

package::DownloadOptions EverythingSelected() {
    package::DownloadOptions o;
    o.bBackup = o.bBootloader = o.bAMSSFile = o.bAppsBootloader = o.bAppsImageAndBootloader = true;
    o.bPCSuite = o.bEFS = o.bRawAppsEFS = true;
    return o;
}

struct Cleared {
    const char* milestone;
    bool backup, bootloader, amss, apps, pcSuite, efs;
};

// Re-update's table: each milestone clears what it and the ones before it finished.
TEST(ReupdateTable, EachMilestoneClearsWhatTheLastRunFinished) {
    const Cleared rows[] = {
        {"Backup succssfully", true, false, false, false, false, false},
        {"Bootloader succssfully", true, true, false, false, false, false},
        {"AMSSFile succssfully", true, true, true, false, false, false},
        {"AppsImageAndBootloader succssfully", true, true, true, true, false, false},
        {"PCSuite succssfully", true, true, true, true, true, false},
        {"EFSFile succssfully", true, true, true, true, true, true},
    };
    for (const Cleared& row : rows) {
        package::DownloadOptions o = EverythingSelected();
        ASSERT_TRUE(ClearFinishedSteps(row.milestone, o)) << row.milestone;
        EXPECT_EQ(!o.bBackup, row.backup) << row.milestone;
        EXPECT_EQ(!o.bBootloader, row.bootloader) << row.milestone;
        EXPECT_EQ(!o.bAMSSFile, row.amss) << row.milestone;
        EXPECT_EQ(!o.bAppsBootloader, row.apps) << row.milestone;
        EXPECT_EQ(!o.bAppsImageAndBootloader, row.apps) << row.milestone;
        EXPECT_EQ(!o.bPCSuite, row.pcSuite) << row.milestone;
        EXPECT_EQ(!o.bEFS, row.efs) << row.milestone;
        EXPECT_EQ(!o.bRawAppsEFS, row.efs) << row.milestone;
    }
}

TEST(ReupdateTable, NothingToResumeClearsNothing) {
    for (const char* status : {"", "Start succssfully", "PASS", "FAIL"}) {
        package::DownloadOptions o = EverythingSelected();
        EXPECT_FALSE(ClearFinishedSteps(status, o)) << status;
        EXPECT_TRUE(o.bBackup && o.bBootloader && o.bEFS) << status;
    }
    EXPECT_TRUE(NothingToResume("PASS"));
    EXPECT_FALSE(NothingToResume("FAIL"));
}

// A run that restores can only do so from the backup it makes itself.
TEST(ReupdateTable, RestoringRunKeepsItsBackup) {
    package::DownloadOptions o = EverythingSelected();
    o.bRestore = true;
    ASSERT_TRUE(ClearFinishedSteps("AMSSFile succssfully", o));
    EXPECT_TRUE(o.bBackup);
    EXPECT_FALSE(o.bAMSSFile);
    o = EverythingSelected();
    o.bBackupUserData = true;
    ASSERT_TRUE(ClearFinishedSteps("Backup succssfully", o));
    EXPECT_TRUE(o.bBackup);
}

TEST(WindowSettings, MilestonesAreExactTexts) {
    EXPECT_TRUE(IsMilestone("PASS"));
    EXPECT_TRUE(IsMilestone("EFSFile succssfully"));
    EXPECT_FALSE(IsMilestone("Backup OK"));
    EXPECT_FALSE(IsMilestone("PASS "));
}

// First start: both port choices read as 1 and are written so.
TEST(WindowSettings, MissingPortChoicesAreWrittenAsOne) {
    sim::MemorySettingsStore store;
    const PortChoices choices = ReadPortChoices(store);
    EXPECT_EQ(choices.diag, 1);
    EXPECT_EQ(choices.at, 1);
    EXPECT_EQ(store.ReadInteger(platform::SettingsScope::User, std::string(kWindowSettingsKey), "COMM Port"), 1U);
    EXPECT_EQ(ReadDownloadStatus(store), "");
}

// A three-digit port is kept whole, not cut to its first two digits; an
// empty selector keeps 1.
TEST(WindowSettings, PortChoicesKeepTheWholeNumber) {
    sim::MemorySettingsStore store;
    WritePortChoices(store, "COM123", "");
    const PortChoices choices = ReadPortChoices(store);
    EXPECT_EQ(choices.diag, 123);
    EXPECT_EQ(choices.at, 1);
    WritePortChoices(store, "COM9", "COM998");
    EXPECT_EQ(ReadPortChoices(store).diag, 9);
    EXPECT_EQ(ReadPortChoices(store).at, 998);
}

}  // namespace
}  // namespace firmora::app
