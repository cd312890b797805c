#include "package/package_unpack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "memory_bundle.h"
#include "package/config_parser.h"
#include "package/default_config.h"
#include "package/project_table.h"
#include "platform/dialogs.h"
#include "platform/std_files.h"
#include "platform/virtual_clock.h"
#include "test_folder.h"

namespace firmora::package {
namespace {

namespace fs = std::filesystem;
using testing::MemoryBundle;
using testing::TestFolder;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::set<std::string> FilesIn(const fs::path& folder) {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) names.insert(entry.path().filename().string());
    return names;
}

class PackageUnpackTest : public ::testing::Test {
protected:
    UnpackResult Unpack(DownloadOptions& options) {
        return UnpackPackage(bundle, files, clock, options, folder.path());
    }
    // What every package carries whatever it selects.
    void AddAlwaysUnpacked() {
        bundle.Add("HEX", "NPRG6260File", "programmer");
        bundle.Add("MBN", "PartitionFile", "partition");
        bundle.Add("EXE", "SwivletFile", "swivlet");
        bundle.Add("DLL", "AdbWinApiFile", "adbwinapi");
        bundle.Add("DLL", "QMSL_MSVC10RFile", "qmsl");
        bundle.Add("DLL", "AdbWinUsbApiFile", "adbwinusbapi");
    }

    TestFolder folder{"unpack"};
    MemoryBundle bundle;
    platform::StdFiles files;
    platform::VirtualClock clock;
};

TEST_F(PackageUnpackTest, EmbeddedDefaultWritesItsPlanFilesAndTheAlwaysUnpackedOnes) {
    DownloadOptions options;
    platform::ScriptedDialogs dialogs;
    ASSERT_FALSE(ParseConfigText(DefaultConfigText(), options, dialogs).stoppedOnError);
    AddAlwaysUnpacked();
    // Names and types as a packer on another system may have spelt them.
    for (const char* entry : {"MBN/sbl1File", "mbn/TZFILE", "MBN/rpmFile", "MBN/appsbootFile", "UBI/mdm9607sysfsFile",
                              "UBI/NONHLOSFile", "IMG/boot9607File", "MBN/efsFile", "ubi/cdromfile"}) {
        const std::string path = entry;
        bundle.Add(path.substr(0, path.find('/')), path.substr(path.find('/') + 1), "image " + path);
    }
    fs::path stale = folder.path() / "boot9607.img";
    std::ofstream(stale) << "left from the last start";

    ASSERT_TRUE(Unpack(options).ok());

    EXPECT_EQ(FilesIn(folder.path()),
              (std::set<std::string>{"sbl1.mbn", "tz.mbn", "rpm.mbn", "appsboot.mbn", "mdm9607sysfs.ubi",
                                     "NONHLOS.ubi", "boot9607.img", "efs.mbn", "cdrom.ubi", "nprg9x15.hex",
                                     "partition.mbn", "Swivlet.exe", "AdbWinApi.dll", "QMSL_MSVC10R.dll",
                                     "AdbWinUsbApi.dll"}));
    EXPECT_EQ(ReadFile(stale), "image IMG/boot9607File");
    EXPECT_EQ(ReadFile(folder.path() / "tz.mbn"), "image mbn/TZFILE");
    EXPECT_EQ(ReadFile(folder.path() / "nprg9x15.hex"), "programmer");
    // The plan now names the files where they are; erase entries stay.
    ASSERT_EQ(options.FastbootFileNameList.size(), 12u);
    EXPECT_EQ(options.FastbootFileNameList[0], (folder.path() / "sbl1.mbn").string());
    EXPECT_EQ(options.FastbootFileNameList[4], "erase");
    EXPECT_EQ(options.FastbootFileNameList[11], (folder.path() / "cdrom.ubi").string());
    EXPECT_EQ(clock.TickCount(), 100u);
}

TEST_F(PackageUnpackTest, FilesAreWrittenInTheOrderOfTheTable) {
    DownloadOptions options;
    options.ProjectIndex = kProjectZP800;
    options.bFastbootBootImage = options.bFastbootSystemImage = options.bFastbootConfiguration = true;
    options.FastbootFileNameList = {"sbl1.mbn", "erase", "modem"};
    options.bEnprg9x15 = options.bAMSSFile = options.bEFS = options.bPartOfEFS = true;
    options.AddFilesList = {"/nv/item_files/rfnv/00020011"};
    options.bRpmBootloader = options.ExecuteRebootle = true;
    AddAlwaysUnpacked();
    for (const char* name : {"BootimageFile", "SystemimageFile"}) bundle.Add("IMG", name, "x");
    for (const char* name : {"sbl1File", "AmssFile", "AmsshdFile", "CEfsFile", "AppEfsFile", "OemRPMFile"}) {
        bundle.Add("MBN", name, "x");
    }
    bundle.Add("BIN", "modemFile", "x");
    bundle.Add("BIN", "00020011File", "x");
    bundle.Add("EXE", "RebootleFile", "x");
    bundle.Add("DLL", "msvcp100File", "carried");

    ASSERT_TRUE(Unpack(options).ok());

    EXPECT_EQ(bundle.opened(),
              (std::vector<std::string>{"IMG/BootimageFile", "IMG/SystemimageFile", "MBN/sbl1File", "BIN/modemFile",
                                        "HEX/NPRG6260File", "MBN/PartitionFile", "MBN/AmssFile", "MBN/AmsshdFile",
                                        "MBN/CEfsFile", "MBN/AppEfsFile", "BIN/00020011File", "MBN/OemRPMFile",
                                        "EXE/RebootleFile", "EXE/SwivletFile", "DLL/AdbWinApiFile",
                                        "DLL/QMSL_MSVC10RFile", "DLL/msvcp100File", "DLL/AdbWinUsbApiFile"}));
    EXPECT_TRUE(fs::exists(folder.path() / "ENPRG9x15.hex"));
    EXPECT_TRUE(fs::exists(folder.path() / "00020011"));
    EXPECT_EQ(options.AddFilesList[0], "/nv/item_files/rfnv/00020011");  // the device path stays
    EXPECT_EQ(options.FastbootFileNameList[2], (folder.path() / "modem").string());
}

TEST_F(PackageUnpackTest, ProjectIndicesDecideTheBootLoaderEfsAndPartitionFiles) {
    DownloadOptions options;
    options.ProjectIndex = 45;
    options.bBootloader = options.bAMSSFile = options.bEFS = true;
    const auto names = [](const std::vector<PackageFile>& list) {
        std::vector<std::string> all;
        for (const PackageFile& file : list) all.push_back(file.name);
        return all;
    };
    std::vector<std::string> files = names(FirstVariantFiles(options));
    EXPECT_EQ(std::vector<std::string>(files.begin(), files.begin() + 7),
              (std::vector<std::string>{"NPRG6260File", "PartitionFile", "AmssFile", "EfsFile", "DblFile",
                                        "FsblFile", "OsblFile"}));
    options.ProjectIndex = kProjectXK81_21;
    files = names(FirstVariantFiles(options));
    EXPECT_EQ(std::count(files.begin(), files.end(), "PartitionFile"), 0);
    EXPECT_EQ(std::count(files.begin(), files.end(), "AmsshdFile"), 1);
    EXPECT_EQ(std::count(files.begin(), files.end(), "Oemsbl2dlFile"), 1);
    options.ProjectIndex = 46;
    files = names(FirstVariantFiles(options));
    EXPECT_EQ(std::count(files.begin(), files.end(), "AppEfsFile"), 1);
    EXPECT_EQ(std::count(files.begin(), files.end(), "EfsFile"), 0);
    options.ProjectIndex = kProjectZP200_Italy;
    files = names(FirstVariantFiles(options));
    EXPECT_EQ(std::count(files.begin(), files.end(), "DrivletFile"), 1);
}

TEST_F(PackageUnpackTest, PlanFileNamesGiveTheResourceNameAndType) {
    const PackageFile sbl = PackageFileNamed("sbl1.mbn");
    EXPECT_EQ(sbl.type + "/" + sbl.name, "MBN/sbl1File");
    const PackageFile ubi = PackageFileNamed("mdm9607sysfs.ubi");
    EXPECT_EQ(ubi.type + "/" + ubi.name, "UBI/mdm9607sysfsFile");
    const PackageFile bare = PackageFileNamed("modem");
    EXPECT_EQ(bare.type + "/" + bare.name + " " + bare.file, "BIN/modemFile modem");
}

TEST_F(PackageUnpackTest, AMissingResourceStopsTheUnpackWithItsName) {
    DownloadOptions options;
    options.bFastbootConfiguration = true;
    options.FastbootFileNameList = {"sbl1.mbn", "tz.mbn", "boot.img"};
    AddAlwaysUnpacked();
    bundle.Add("MBN", "sbl1File", "x");
    bundle.Add("IMG", "bootFile", "x");

    const UnpackResult result = Unpack(options);

    EXPECT_EQ(result.error, "Unpack failed [tz.mbn]: The package carries no MBN/tzFile");
    EXPECT_FALSE(fs::exists(folder.path() / "boot.img"));
    EXPECT_EQ(options.FastbootFileNameList[0], "sbl1.mbn");  // the plan is left as it was
}

TEST_F(PackageUnpackTest, ADamagedResourceLeavesTheOlderFileAndNoPartOfTheNewOne) {
    DownloadOptions options;
    options.bFastbootBootImage = true;
    AddAlwaysUnpacked();
    bundle.AddDamaged("IMG", "BootimageFile", std::string(300000, 'n'));
    std::ofstream(folder.path() / "boot.img") << "older";

    EXPECT_EQ(Unpack(options).error, "Unpack failed [boot.img]: CRC error");

    EXPECT_EQ(ReadFile(folder.path() / "boot.img"), "older");
    EXPECT_EQ(FilesIn(folder.path()), std::set<std::string>{"boot.img"});
}

TEST_F(PackageUnpackTest, PlanEntriesWithAPathAreCopiedFromOutsideThePackage) {
    TestFolder outside("outside");
    std::ofstream(outside.path() / "custom.mbn") << "custom image";
    DownloadOptions options;
    options.bFastbootConfiguration = true;
    options.FastbootFileNameList = {(outside.path() / "custom.mbn").string(), "erase"};
    AddAlwaysUnpacked();

    ASSERT_TRUE(Unpack(options).ok());

    EXPECT_EQ(ReadFile(folder.path() / "custom.mbn"), "custom image");
    EXPECT_EQ(options.FastbootFileNameList,
              (std::vector<std::string>{(folder.path() / "custom.mbn").string(), "erase"}));
}

TEST_F(PackageUnpackTest, AnOutsideFileThatCannotBeCopiedEndsTheUnpack) {
    TestFolder outside("outside");
    AddAlwaysUnpacked();
    DownloadOptions options;
    options.bFastbootConfiguration = true;
    options.FastbootFileNameList = {(outside.path() / "missing.mbn").string()};
    EXPECT_EQ(Unpack(options).error, "Copy file failed!");
    options.FastbootFileNameList = {"C:\\images\\modem.mbn"};
    EXPECT_EQ(Unpack(options).error, "Copy file failed!");
    // A folder would read as an empty image.
    fs::create_directory(outside.path() / "folder.mbn");
    options.FastbootFileNameList = {(outside.path() / "folder.mbn").string()};
    EXPECT_EQ(Unpack(options).error, "Copy file failed!");
    EXPECT_FALSE(fs::exists(folder.path() / "folder.mbn"));

    DownloadOptions system;
    system.bFastbootSystemImage = true;
    system.FastBootSystemImageFilePath = outside.path().string();
    EXPECT_EQ(Unpack(system).error, "Copy file failed [system.img]!");
    std::ofstream(outside.path() / "system.img") << "system";
    ASSERT_TRUE(Unpack(system).ok());
    EXPECT_EQ(ReadFile(folder.path() / "system.img"), "system");
}

TEST_F(PackageUnpackTest, SecondVariantGoesToItsOwnFolderWithItsOwnConfig) {
    TestFolder second("unpack2");
    DownloadOptions options;
    options.Packet = 2;
    options.ProjectIndex = kProjectZP800;
    options.bAMSSFile = options.bEFS = options.bAppsImageAndBootloader = options.bFastbootBootImage = true;
    bundle.Add("HEX", "NPRG6260File2", "programmer 2");
    bundle.Add("MBN", "PartitionFile2", "partition 2");
    for (const char* name : {"AmssFile2", "AmsshdFile2", "CEfsFile2", "AppEfsFile2", "AppsImageHeaderFile",
                             "AppsImageFile2", "AppsBootloaderHeaderFile2", "AppsBootloaderFile2"}) {
        bundle.Add("MBN", name, name);
    }
    bundle.Add("IMG", "BootimageFile", "boot");
    bundle.Add("DLL", "AdbWinApiFile", "adbwinapi");
    bundle.Add("DLL", "AdbWinUsbApiFile", "adbwinusbapi");
    bundle.Add("EXE", "SwivletFile2", "swivlet 2");
    bundle.Add("INI", "ConfigFile2", "[Project]\r\n");

    ASSERT_TRUE(UnpackSecondVariant(bundle, files, options, second.path()).ok());

    EXPECT_EQ(FilesIn(second.path()),
              (std::set<std::string>{"NPRG6260.hex", "partition.mbn", "amss.mbn", "amsshd.mbn", "cefs.mbn",
                                     "cefs_apps.mbn", "appshd.mbn", "apps.mbn", "appsboothd.mbn", "appsboot.mbn",
                                     "boot.img", "AdbWinApi.dll", "AdbWinUsbApi.dll", "Swivlet.exe",
                                     "Config.ini"}));
    EXPECT_EQ(ReadFile(second.path() / "appshd.mbn"), "AppsImageHeaderFile");
    EXPECT_EQ(ReadFile(second.path() / "Config.ini"), "[Project]\r\n");
    EXPECT_EQ(bundle.opened().back(), "INI/ConfigFile2");
    EXPECT_TRUE(FilesIn(folder.path()).empty());
}

}  // namespace
}  // namespace firmora::package
