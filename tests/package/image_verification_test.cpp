#include "package/image_verification.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "package/config_parser.h"
#include "package/default_config.h"
#include "platform/std_files.h"
#include "recording_log.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::package {
namespace {

namespace fs = std::filesystem;
using testing::WriteTestFile;

// A programmer of three bytes, as the package carries it.
constexpr const char* kProgrammerHex = ":03000000010203F7\n:00000001FF\n";

class ImageVerificationTest : public ::testing::Test {
protected:
    ImageVerificationTest() {
        ParseConfigText(DefaultConfigText(), defaults, dialogs);
        dialogs = {};
    }

    // A file of `size` bytes under the image folder (sparse: sizes up to
    // 500 MiB cost nothing).
    std::string Put(const fs::path& name, uint64_t size = 100) {
        const fs::path path = folder.path() / name;
        fs::create_directories(path.parent_path());
        EXPECT_TRUE(WriteTestFile(path, ""));
        fs::resize_file(path, size);
        return path.string();
    }

    // The default package as it is unpacked: its programmer, its partition
    // table and the files of its plan.
    void PutDefaultPackage() {
        ASSERT_TRUE(WriteTestFile(folder.path() / "nprg9x15.hex", kProgrammerHex));
        Put("partition.mbn", 1000);
        uint64_t size = 1;
        for (const std::string& file : defaults.FastbootFileNameList) {
            if (file != "erase") Put(file, 1000 * size++);
        }
    }

    ImageVerification Check(const DownloadOptions& options, const ImageCheckContext& context = {}) {
        return CheckImages({files, dialogs, &log}, options, folder.path().string(), context);
    }

    std::string Shown() const { return dialogs.shown().empty() ? "" : dialogs.shown().back().text; }

    testing::TestFolder folder{"images"};
    platform::StdFiles files;
    platform::ScriptedDialogs dialogs;
    testing::RecordingLog log;
    DownloadOptions defaults;
};

TEST_F(ImageVerificationTest, DefaultPackageListsThePartitionTableAndThePlanFiles) {
    PutDefaultPackage();
    Put("notes.txt");  // not an image
    const ImageVerification result = Check(defaults);
    EXPECT_EQ(result.message, "");
    EXPECT_TRUE(dialogs.shown().empty());

    std::vector<std::string> names;
    for (const ImageFileRow& row : result.fileList) {
        names.push_back(row.name);
        EXPECT_EQ(row.location, folder.path().string() + "/");
    }
    EXPECT_EQ(names, (std::vector<std::string>{"partition.mbn", "sbl1.mbn", "tz.mbn", "rpm.mbn", "appsboot.mbn",
                                               "mdm9607sysfs.ubi", "NONHLOS.ubi", "boot9607.img", "efs.mbn",
                                               "cdrom.ubi"}));
    // The programmer was converted beside its HEX file, checked, not listed.
    EXPECT_EQ(result.Path(ImageSlot::Programmer), (folder.path() / "nprg9x15.BIN").string());
    EXPECT_EQ(result.Size(ImageSlot::Programmer), 3u);
    EXPECT_EQ(result.planSizes,
              (std::vector<uint32_t>{1000, 2000, 3000, 4000, 0, 5000, 0, 6000, 7000, 8000, 0, 9000}));
    EXPECT_EQ(result.total, 3u + 1000u + 45000u);
    EXPECT_EQ(result.atBackupPath, (folder.path() / "at.bak").string());
}

TEST_F(ImageVerificationTest, FirstFailingCheckShowsItsMessageAndEmptiesTheList) {
    PutDefaultPackage();
    fs::remove(folder.path() / "tz.mbn");
    ImageVerification result = Check(defaults);
    const std::string tz = (folder.path() / "tz.mbn").string();
    EXPECT_EQ(Shown(), "Error: File " + tz + " does not exist!\n");
    EXPECT_EQ(result.message, Shown());
    EXPECT_TRUE(result.fileList.empty());
    EXPECT_EQ(result.planSizes[0], 1000u);  // sizes so far stay, the total is not made
    EXPECT_EQ(result.total, 0u);

    // A plan file of exactly 500 MiB is refused; one byte less passes.
    Put("tz.mbn", 524'288'000);
    result = Check(defaults);
    EXPECT_EQ(Shown(), "Error: File " + tz + " size error!\n");
    Put("tz.mbn", 524'287'999);
    dialogs = {};
    result = Check(defaults);
    EXPECT_TRUE(dialogs.shown().empty()) << Shown();
    EXPECT_EQ(result.planSizes[1], 524'287'999u);

    // An empty file is as wrong as a file too large; the partition table
    // holds at most 1023 bytes.
    Put("sbl1.mbn", 0);
    Check(defaults);
    EXPECT_EQ(Shown(), "Error: File " + (folder.path() / "sbl1.mbn").string() + " size error!\n");
    Put("partition.mbn", 1024);
    Check(defaults);
    EXPECT_EQ(Shown(), "Error:partition file " + (folder.path() / "partition.mbn").string() + " size error!\n");
}

TEST_F(ImageVerificationTest, AProgrammerThatDoesNotConvertLeavesItsSlotEmpty) {
    PutDefaultPackage();
    ASSERT_TRUE(WriteTestFile(folder.path() / "nprg9x15.hex", ":03000000010203F8\n:00000001FF\n"));
    const ImageVerification result = Check(defaults);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].text, "switch hex to bin failed!");
    // The empty slot counts as missing, with an empty path.
    EXPECT_EQ(Shown(), "Error: BIN file  does not exist!\n");
    EXPECT_TRUE(result.fileList.empty());
    EXPECT_TRUE(log.Has("The programmer did not convert: " + (folder.path() / "nprg9x15.hex").string() +
                        " line 1: bad checksum (expected 0xF7, found 0xF8)"));
}

TEST_F(ImageVerificationTest, EmptyFolderTextChecksNothing) {
    const ImageVerification result = CheckImages({files, dialogs, &log}, defaults, "");
    EXPECT_TRUE(result.fileList.empty());
    EXPECT_EQ(result.message, "");
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(ImageVerificationTest, ReupdateRestoringWithoutBackupWantsAtBakFirst) {
    DownloadOptions options;
    options.bRestore = true;
    testing::TestFolder backup{"backup"};
    ASSERT_TRUE(WriteTestFile(backup.path() / "nv.bak", "nv"));
    Check(options, {.reupdate = true, .backupFolder = backup.path()});
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(Shown(), "Error: File " + (backup.path() / "at.bak").string() + " does not exist!\n");

    ASSERT_TRUE(WriteTestFile(backup.path() / "at.bak", "at"));
    const ImageVerification result = Check(options, {.reupdate = true, .backupFolder = backup.path()});
    EXPECT_EQ(result.message, "");
    EXPECT_EQ(result.fileList.size(), 2u);
    EXPECT_EQ(result.total, 0u);  // backups are not images
}

TEST_F(ImageVerificationTest, ScanAssignsByNameCaseAndSubfolderTheLastMatchWinning) {
    DownloadOptions options;
    options.bCDROM = true;
    options.bResImage = true;
    Put("a/Boot.img");
    const std::string later = Put("b/boot.img");
    Put("imageempty.iso");
    const std::string iso = Put("Cdrom.ISO");
    Put("resimage.bak");
    Put("Partition.MBN");
    fs::create_symlink(folder.path() / "Partition.MBN", folder.path() / "zimage");  // links are passed over
    ImageSlotPaths paths;
    ScanImageFolder({files, dialogs, &log}, options, folder.path(), paths);
    EXPECT_EQ(paths[static_cast<size_t>(ImageSlot::Boot)], later);
    EXPECT_EQ(paths[static_cast<size_t>(ImageSlot::PcSuite)], iso);
    EXPECT_EQ(paths[static_cast<size_t>(ImageSlot::Partition)], (folder.path() / "Partition.MBN").string());
    EXPECT_EQ(paths[static_cast<size_t>(ImageSlot::ZImage)], "");

    options.bCDROM = false;  // the PC-suite names count only while selected
    paths = {};
    ScanImageFolder({files, dialogs, &log}, options, folder.path(), paths);
    EXPECT_EQ(paths[static_cast<size_t>(ImageSlot::PcSuite)], "");
}

TEST_F(ImageVerificationTest, ProjectRulesPickTheFilesAndTheirTexts) {
    ASSERT_TRUE(WriteTestFile(folder.path() / "nprg9x15.hex", kProgrammerHex));
    Put("partition.mbn", 500);
    DownloadOptions options;
    options.bBootloader = true;
    options.ProjectIndex = 44;
    Check(options);
    EXPECT_EQ(Shown(), "Error:Fsbl file  does not exist!\n");
    Put("fsbl.mbn", 0);
    Check(options);
    EXPECT_EQ(Shown(), "Error:Fsbl ile " + (folder.path() / "fsbl.mbn").string() + " size error!\n");

    options.ProjectIndex = 3;
    Put("qcsbl.mbn");
    Put("qcsblhd_cfgdata.mbn");
    Put("oemsblhd.mbn", 512);
    Check(options);
    EXPECT_EQ(Shown(), "Error:Oemhd file " + (folder.path() / "oemsblhd.mbn").string() + " size error!\n");

    options = {};
    options.bAMSSFile = true;
    options.bEFS = true;
    options.ProjectIndex = 35;  // no partition table
    fs::remove(folder.path() / "partition.mbn");
    Put("amss.mbn");
    Check(options);
    EXPECT_EQ(Shown(), "Error:Amsshd file  does not exist!\n");
    Put("amsshd.mbn");
    Check(options);
    EXPECT_EQ(Shown(), "Error:EFS file  does not exist!\n");
    Put("efs.mbn");
    dialogs = {};
    const ImageVerification result = Check(options);
    EXPECT_TRUE(dialogs.shown().empty()) << Shown();
    EXPECT_EQ(result.fileList.size(), 3u);
}

}  // namespace
}  // namespace firmora::package
