#include "engine/update_workflow.h"

#include <gtest/gtest.h>

#include "engine/device_backup.h"
#include "package/project_table.h"
#include "recording_reporter.h"
#include "worker_fixture.h"

namespace firmora::engine {
namespace {

using Workflow = WorkerFixture;

// The embedded package against the device it was made for: every step of
// the typical run in its order, the partitions written, the device's own
// data back after the EFS partition was wiped, and no backup left behind.
TEST_F(Workflow, DefaultPackageUpdatesTheDeviceAndKeepsItsData) {
    Plug();
    const KeptData before = Snapshot();
    RunOnce();

    EXPECT_TRUE(worker->Passed());
    EXPECT_TRUE(view.Failures().empty()) << view.Failures().front();
    const std::vector<std::string> texts = view.Texts();
    EXPECT_TRUE(InOrder(texts, {"QMSL_MSVC10R.dll", "Start succssfully", "Ready 1......", "Backup OK",
                                "QUALCOMM- ", "Backup succssfully", "Receive device Arrival after Set AT Command",
                                "Receive device change after reset", "Receive device Arrival after reset",
                                " Diagnostic ready", " Modem ready", "Initial Diagnostic0......ok",
                                "Initial Modem0......ok", "PASS"}));
    EXPECT_EQ(view.Lines().back().text, "PASS");
    EXPECT_EQ(view.Lines().back().kind, core::kReportSuccess);
    EXPECT_EQ(view.gauge.back(), 100);

    // What the device was told, in order: the start set, the identity, the
    // radio off, the boot loader, the twelve plan entries and the restart,
    // then the restores and the end set.
    const std::vector<std::string> log = RunCommands();
    EXPECT_TRUE(InOrder(log, {"AT: AT+CFUN=5", "AT: AT+MVTSN=0,5", "AT: AT+MVTSN=0,7", "AT: AT+CGDCONT?",
                              "AT: AT+CFUN=5", "DIAG: 26", "AT: at+syscmd=sys_reboot bootloader",
                              "FASTBOOT: flash:sbl", "FASTBOOT: flash:tz", "FASTBOOT: flash:rpm",
                              "FASTBOOT: flash:aboot", "FASTBOOT: erase:system", "FASTBOOT: flash:system",
                              "FASTBOOT: erase:modem", "FASTBOOT: flash:modem", "FASTBOOT: flash:boot",
                              "FASTBOOT: flash:efs2", "FASTBOOT: erase:cdrom", "FASTBOOT: flash:cdrom",
                              "FASTBOOT: reboot", "AT: AT+CFUN=5", "DIAG: 27", "AT: AT+CFUN=1",
                              "AT: AT+MVTSN=1,7,", "AT: AT+CGDCONT=", "AT: AT+CFUN=1"}));
    {
        std::lock_guard lock(simulation->lock());
        const sim::PartitionStore& store = Modem().partitions();
        for (const char* name : {"sbl", "tz", "rpm", "aboot", "system", "modem", "boot", "efs2", "cdrom"}) {
            ASSERT_NE(store.Find(name), nullptr) << name;
            EXPECT_EQ(store.Find(name)->flashes, 1u) << name;
        }
        EXPECT_EQ(Modem().personality(), sim::Personality::Normal);
    }

    // The efs2 flash wiped the device; the restores put everything back.
    ExpectKept(before);

    EXPECT_TRUE(BackupFolders().empty());
    EXPECT_FALSE(fs::exists(workingFolder / "AdbWinUsbApi.dll"));
    EXPECT_TRUE(fs::exists(workingFolder / "AdbWinApi.dll"));
    EXPECT_TRUE(WrittenOutsideBackups().empty());
}

// A package without its diagnostic library: the box, then a failed run
// (not a silent one a caller would take for success), nothing sent.
TEST_F(Workflow, MissingLibraryShowsTheBoxAndFailsTheRun) {
    Plug();
    fs::remove(workingFolder / "QMSL_MSVC10R.dll");
    RunOnce();

    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "Load library failed [QMSL_MSVC10R.dll]!");
    EXPECT_EQ(dialogs.shown()[0].caption, "ERROR");
    EXPECT_FALSE(worker->Passed());
    EXPECT_NE(worker->RunStatus(), core::kRunHealthy);
    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_EQ(view.Failures()[0], "ERROR, Load library failed [QMSL_MSVC10R.dll]!, Error code: 2");
    EXPECT_FALSE(view.Has("Start succssfully"));
    EXPECT_TRUE(RunCommands().empty());
}

// A package whose image is missing or empty fails before the device is
// touched: nothing is sent, so the device is never left in its boot loader
// with nothing to write.
TEST_F(Workflow, PackageWithAnEmptyImageFailsBeforeTheDeviceIsTouched) {
    Plug();
    std::ofstream(workingFolder / "boot9607.img", std::ios::binary | std::ios::trunc);
    RunOnce();

    EXPECT_FALSE(worker->Passed());
    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_NE(view.Failures()[0].find("Image file is empty: "), std::string::npos) << view.Failures()[0];
    EXPECT_TRUE(RunCommands().empty());
    EXPECT_TRUE(BackupFolders().empty());
}

TEST_F(Workflow, PackageWithAMissingImageFailsBeforeTheDeviceIsTouched) {
    Plug();
    fs::remove(workingFolder / "boot9607.img");
    RunOnce();

    EXPECT_FALSE(worker->Passed());
    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_NE(view.Failures()[0].find("boot9607.img"), std::string::npos) << view.Failures()[0];
    EXPECT_TRUE(RunCommands().empty());
    EXPECT_TRUE(BackupFolders().empty());
}

// A package that asks for nothing the AT channel is opened for: the reboot
// cannot be sent, the wait for the boot loader runs its two minutes, the
// plan writes nothing and the run ends without "PASS".
TEST_F(Workflow, WithoutAnAtChannelTheRebootFailsAndNothingIsWritten) {
    Plug();
    options.bBackup = options.bRestore = false;
    options.StartATList.clear();
    options.EndATList.clear();
    const uint64_t start = simulation->clock().TickCount();
    RunOnce();

    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_NE(view.Failures()[0].find("Could not send command to serial port"), std::string::npos);
    EXPECT_FALSE(view.Has("Receive device Arrival after Set AT Command"));
    EXPECT_GE(simulation->clock().TickCount() - start, 125000u);
    EXPECT_FALSE(view.Has("PASS"));
    for (const std::string& line : RunCommands()) EXPECT_EQ(line.rfind("FASTBOOT:", 0), std::string::npos) << line;
}

// A failed identity read still sends the device into its boot loader, where
// it stays: nothing written, no reset, no backup folder.
TEST_F(Workflow, FailedBackupStillRebootsIntoTheBootLoaderAndWritesNothing) {
    Plug({{"at", {{"faults", {{{"command", "AT+MVTSN=0,5"}, {"reply", "error"}}}}}}});
    RunOnce();

    ASSERT_EQ(view.Failures().size(), 1u);
    // The read stops at the serial number, so the IMEI, checked first, is missing too.
    EXPECT_NE(view.Failures()[0].find("[Dload] Fail to Read IMEI"), std::string::npos) << view.Failures()[0];
    EXPECT_TRUE(InOrder(view.Texts(), {"Backup OK", "Receive device Arrival after Set AT Command"}));
    EXPECT_FALSE(view.Has("PASS"));
    std::lock_guard lock(simulation->lock());
    EXPECT_EQ(Modem().personality(), sim::Personality::Bootloader);
    for (const auto& [name, partition] : Modem().partitions().partitions()) EXPECT_EQ(partition.flashes, 0u) << name;
}

// A product whose identity read has no IMEI cannot name its backup and
// fails as it always has.
TEST_F(Workflow, ProductWithoutImeiReadFailsWithFailToReadImei) {
    Plug();
    options.PlatformType = 2;
    RunOnce();
    ASSERT_FALSE(view.Failures().empty());
    EXPECT_NE(view.Failures()[0].find("[Dload] Fail to Read IMEI"), std::string::npos);
    EXPECT_FALSE(view.Has("PASS"));
}

// A run that ends after the download wiped the device leaves a folder that
// is a backup of its own: the library's NV items are in nv.bak, not only in
// the ended worker's memory, and a restore from it brings everything back.
TEST_F(Workflow, RunThatFailsAfterTheWipeLeavesABackupThatRestoresTheDevice) {
    Plug({{"at", {{"faults", {{{"command", "AT+MVTSN=1,7,"}, {"reply", "error"}, {"times", 1}}}}}}});
    const KeptData before = Snapshot();
    RunOnce();
    ASSERT_FALSE(worker->Passed());
    ASSERT_EQ(view.Failures().size(), 1u);
    ASSERT_EQ(BackupFolders().size(), 1u);
    const fs::path folder = BackupFolders()[0];
    std::string error;
    ASSERT_TRUE(LoadCompleteBackup(files, options, tables, folder, error)) << error;

    testing::RecordingReporter reporter;
    DeviceDataTarget target{simulation->serialPorts(), simulation->clock(), files, reporter, options, tables,
                            worker->Settings().diagPort, worker->Settings().atPort};
    ASSERT_TRUE(RestoreDevice(target, folder)) << (reporter.Errors().empty() ? "" : reporter.Errors()[0]);
    ExpectKept(before);
}

// A package that checks the platform and keeps user files talks DIAG on the
// worker's own channel before the download, and the diagnostic library
// opens the same port in between: the channel is open for the check and the
// copies, closed while the library reads, and the user files come back.
TEST_F(Workflow, DiagChannelServesThePlatformCheckAndUserDataAroundTheLibrary) {
    Plug(nlohmann::json::parse(R"({"identity": {"platformCode": 42},
                                   "efs": {"files": {"data/user/a.cfg": "alpha",
                                                     "data/user/b.bin": {"size": 3000}}}})"));
    options.PlatformName = 42;
    options.bBackupUserData = true;
    options.UserDataDirList = {"/data/user"};
    options.UserDataFilesList = {"/data/user/a.cfg", "/data/user/b.bin"};
    std::optional<std::vector<uint8_t>> a;
    std::optional<std::vector<uint8_t>> b;
    {
        std::lock_guard lock(simulation->lock());
        a = Modem().diag().efs().FileContent("data/user/a.cfg");
        b = Modem().diag().efs().FileContent("data/user/b.bin");
    }
    const KeptData before = Snapshot();
    RunOnce();

    EXPECT_TRUE(worker->Passed()) << (view.Failures().empty() ? "" : view.Failures()[0]);
    EXPECT_TRUE(InOrder(view.Texts(), {"Ready 1......", "check platform start.", "check platform OK.", "Backup OK",
                                       "QUALCOMM- ", "Backup succssfully", "PASS"}));
    ExpectKept(before);
    std::lock_guard lock(simulation->lock());
    EXPECT_EQ(Modem().diag().efs().FileContent("data/user/a.cfg"), a);
    EXPECT_EQ(Modem().diag().efs().FileContent("data/user/b.bin"), b);
}

// Another platform: the check fails the run with its box, before the device
// is touched beyond the reboot.
TEST_F(Workflow, PlatformOfAnotherChipFailsTheCheckWithItsBox) {
    Plug({{"identity", {{"platformCode", 7}}}});
    options.PlatformName = 42;
    RunOnce();
    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_NE(view.Failures()[0].find("Could not get platform type."), std::string::npos);
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "Plantform type is not matched");
    EXPECT_FALSE(view.Has("Backup OK"));
}

// A package that resets its device after the download sends the reset on
// a diagnostic channel opened on the device back from the plan's restart,
// and then finds it again.
TEST_F(Workflow, ResetCommandAfterTheDownloadGoesToTheReturnedDevice) {
    Plug();
    options.bPhoneType = true;
    const KeptData before = Snapshot();
    RunOnce();
    EXPECT_TRUE(worker->Passed()) << (view.Failures().empty() ? "" : view.Failures()[0]);
    EXPECT_TRUE(InOrder(view.Texts(), {"Send reset command", "Reset or power off command......",
                                       "Receive device change after reset", "Receive device Arrival after reset",
                                       "Initial Diagnostic0......ok", "PASS"}));
    EXPECT_TRUE(InOrder(RunCommands(), {"FASTBOOT: reboot", "DIAG: 0B"}));
    ExpectKept(before);
}

// A board check that does not match ends the run at once.
TEST_F(Workflow, GpioOfAnotherBoardEndsTheRunAtOnce) {
    Plug();
    options.strGPIO = "XYZ";
    RunOnce();
    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_NE(view.Failures()[0].find("GPIO is Not Macth"), std::string::npos);
    for (const std::string& line : RunCommands()) EXPECT_EQ(line.find("sys_reboot"), std::string::npos) << line;
}

// The backup an earlier run of this device left behind is never
// overwritten: it may hold what that run's download wiped.
TEST_F(Workflow, EarlierBackupOfTheDeviceIsKeptBeside) {
    Plug();
    const fs::path earlier = backupRoot / "SN[FM9X15A0012345]IMEI[353456789012348]";
    fs::create_directories(earlier / "EFS");
    std::ofstream(earlier / "at.bak") << "[Data]\nIMEI=353456789012348\n";
    RunOnce();
    EXPECT_TRUE(worker->Passed()) << (view.Failures().empty() ? "" : view.Failures()[0]);
    EXPECT_TRUE(view.Has("The earlier backup of this device is kept as " + earlier.string() + "-1"));
    EXPECT_FALSE(fs::exists(earlier));
    std::ifstream kept(earlier.string() + "-1/at.bak");
    const std::string text((std::istreambuf_iterator<char>(kept)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[Data]\nIMEI=353456789012348\n");
}

// The products that show the device's version read it before the AT
// channel closes, and power the device off after the download.
TEST_F(Workflow, VersionLabelProductShowsTheFirmwareVersionAtTheEnd) {
    Plug();
    options.ProjectIndex = package::kProjectRA66_51;
    RunOnce();
    EXPECT_TRUE(worker->Passed()) << (view.Failures().empty() ? "" : view.Failures()[0]);
    EXPECT_TRUE(InOrder(RunCommands(), {"FASTBOOT: reboot", "DIAG: 11", "AT: AT+CGMR"}));
    ASSERT_EQ(window->versions.size(), 1u);
    // The device answers "MDM9X15-VQA0012-V2.0.2"; the version is taken from "VQA" on.
    EXPECT_EQ(window->versions[0], "Version:VQA0012-V2.0.2");
}

// The products that reset their device a second time after the restores
// send that reset on an open diagnostic channel (the library's restore
// closed it), and find the device again.
TEST_F(Workflow, SecondResetAfterTheRestoresReachesTheDevice) {
    Plug();
    options.ProjectIndex = package::kProjectZP200_Italy;
    const KeptData before = Snapshot();
    RunOnce();
    EXPECT_TRUE(worker->Passed()) << (view.Failures().empty() ? "" : view.Failures()[0]);
    EXPECT_TRUE(InOrder(RunCommands(), {"FASTBOOT: reboot", "DIAG: 11", "AT: AT+CFUN=1", "DIAG: 0B"}));
    EXPECT_TRUE(InOrder(view.Texts(), {"Receive device Arrival after reset", "Reset or poweroff successfully!", "PASS"}));
    ExpectKept(before);
}

TEST(BackupFolderName, LeavesOutIdentitiesWithTenZerosAndKeepsDeviceTextOneFolderDeep) {
    const std::string imei = "356938035643809";
    const std::string meid = "A1000012345678";
    EXPECT_EQ(BackupFolderName("SN1", &imei, &meid), "SN[SN1]IMEI[356938035643809]MEID[A1000012345678]");
    EXPECT_EQ(BackupFolderName("SN1", nullptr, nullptr), "SN[SN1]");
    // A device naming itself with separators or a climb stays below the root.
    EXPECT_EQ(BackupFolderName("../../etc", nullptr, nullptr), "SN[.._.._etc]");
    EXPECT_EQ(BackupFolderName("a/b\\c:d\n", nullptr, nullptr), "SN[a_b_c_d_]");
}

// An IMEI with ten zeros in a row is not part of the folder name.
TEST_F(Workflow, ImeiWithTenZerosIsLeftOutOfTheBackupFolderName) {
    Plug({{"identity", {{"imei", "350000000000123"}}}, {"usb", {{"neverReturnAfter", {"reset"}}}}});
    RunOnce();
    ASSERT_EQ(BackupFolders().size(), 1u);
    const std::string name = BackupFolders()[0].filename().string();
    EXPECT_EQ(name.rfind("SN[", 0), 0u) << name;
    EXPECT_EQ(name.find("IMEI["), std::string::npos) << name;
}

}  // namespace
}  // namespace firmora::engine
