#include "product_pack.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "package/config_parser.h"
#include "package/default_config.h"
#include "package/package_unpack.h"
#include "platform/dialogs.h"
#include "platform/posix/posix_files.h"
#include "platform/virtual_clock.h"
#include "test_folder.h"

namespace firmora::pack {
namespace {

namespace fs = std::filesystem;
using testing::TestFolder;

void WriteFile(const fs::path& path, const std::string& bytes) {
    fs::create_directories(path.parent_path());
    std::ofstream(path, std::ios::binary) << bytes;
}

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class ProductPackTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(package / "Config.ini", std::string(package::DefaultConfigText()));
        for (const char* file : {"sbl1.mbn", "tz.mbn", "rpm.mbn", "appsboot.mbn", "mdm9607sysfs.ubi", "NONHLOS.ubi",
                                 "boot9607.img", "efs.mbn", "cdrom.ubi", "partition.mbn",
                                 "Swivlet.exe", "AdbWinApi.dll", "QMSL_MSVC10R.dll", "AdbWinUsbApi.dll",
                                 "Hexmorph.dll"}) {
            WriteFile(package / file, std::string("contents of ") + file);
        }
        WriteFile(package / "nprg9x15.hex", ":0400000001020304F2\n:00000001FF\n");
        WriteFile(programs / "firmora", "\x7f" "ELF the program");
    }
    int Pack(std::vector<std::string> args) { return Main(args, programs, out, err); }

    TestFolder folder{"pack"};
    fs::path package = folder.path() / "package";
    fs::path programs = folder.path() / "bin";
    fs::path product = folder.path() / "product";
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(ProductPackTest, TheProductUnpacksToThePackageItWasMadeFrom) {
    ASSERT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 0) << err.str();

    std::string error;
    const std::unique_ptr<platform::ResourceBundle> bundle = platform::OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    EXPECT_EQ(bundle->Entries().front().type + "/" + bundle->Entries().front().name, "INI/ConfigFile");
    EXPECT_EQ(bundle->Entries().size(), 17u);  // Config.ini, 9 plan files, 6 always needed, Hexmorph.dll

    package::DownloadOptions options;
    platform::ScriptedDialogs dialogs;
    ASSERT_FALSE(package::ParseConfigText(package::DefaultConfigText(), options, dialogs).stoppedOnError);
    platform::PosixFiles files;
    platform::VirtualClock clock;
    const fs::path working = folder.path() / "TempFiles";
    fs::create_directories(working);
    ASSERT_TRUE(package::UnpackPackage(*bundle, files, clock, options, working).ok());
    for (const auto& entry : fs::directory_iterator(working)) {
        EXPECT_EQ(ReadFile(entry.path()), ReadFile(package / entry.path().filename())) << entry.path();
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(working), fs::directory_iterator()), 16);
}

TEST_F(ProductPackTest, AnIncompletePackageIsRefusedWithEveryProblemAndNothingWritten) {
    fs::remove(package / "tz.mbn");
    WriteFile(package / "boot9607.img", "");
    fs::remove(package / "efs.mbn");
    fs::create_directory(package / "efs.mbn");
    fs::remove(package / "Hexmorph.dll");  // travels only when there

    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 1);

    EXPECT_NE(err.str().find("is not complete; nothing was written"), std::string::npos) << err.str();
    EXPECT_NE(err.str().find((package / "tz.mbn").string() + " is missing"), std::string::npos);
    EXPECT_NE(err.str().find((package / "boot9607.img").string() + " is empty"), std::string::npos);
    EXPECT_NE(err.str().find((package / "efs.mbn").string() + " is not a regular file"), std::string::npos);
    EXPECT_EQ(err.str().find("Hexmorph.dll"), std::string::npos);
    EXPECT_FALSE(fs::exists(product));
}

// The images are checked as start-up will check them once unpacked: what
// start-up would refuse is refused with its words, and nothing is written,
// not even the programmer's binary beside its HEX file.
TEST_F(ProductPackTest, ImagesThatStartUpWouldRefuseAreRefusedWithItsMessage) {
    const std::string refused = "would be refused at start-up; nothing was written:\n  ";
    WriteFile(package / "partition.mbn", std::string(1024, 'p'));
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 1);
    EXPECT_NE(err.str().find(refused + "Error:partition file " + (package / "partition.mbn").string() + " size error!\n"),
              std::string::npos)
        << err.str();

    WriteFile(package / "partition.mbn", std::string(1023, 'p'));
    fs::resize_file(package / "NONHLOS.ubi", 524'288'000);  // sparse: one byte over a plan file's bound
    err.str("");
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 1);
    EXPECT_NE(err.str().find(refused + "Error: File " + (package / "NONHLOS.ubi").string() + " size error!\n"),
              std::string::npos)
        << err.str();

    fs::resize_file(package / "NONHLOS.ubi", 100);
    WriteFile(package / "nprg9x15.hex", ":04000000010203040F\n:00000001FF\n");  // wrong checksum
    err.str("");
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 1);
    EXPECT_NE(err.str().find(refused + "switch hex to bin failed!\n  Error: BIN file  does not exist!\n"),
              std::string::npos)
        << err.str();
    EXPECT_FALSE(fs::exists(product));
    EXPECT_FALSE(fs::exists(package / "nprg9x15.BIN"));
}

// Only what the package carries is checked: a file the working folder will
// not hold is not what start-up finds.
TEST_F(ProductPackTest, FilesThePackageDoesNotCarryAreNotChecked) {
    // Scanned after the carried partition.mbn, this one would replace it.
    WriteFile(package / "zz" / "partition.mbn", std::string(5000, 'p'));

    ASSERT_EQ(Pack({"--from", package.string() + "/", "--output", product.string()}), 0) << err.str();
    EXPECT_FALSE(fs::exists(package / "nprg9x15.BIN"));
}

TEST_F(ProductPackTest, ConfigurationsThatCannotBeUnpackedAreRefused) {
    fs::remove(package / "Config.ini");
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 1);
    EXPECT_NE(err.str().find((package / "Config.ini").string() + " is missing"), std::string::npos) << err.str();

    WriteFile(package / "Config.ini", "[DownloadItems]\r\nbBackup=1\r\n");
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 1);
    EXPECT_NE(err.str().find("Backup and restore must be selected at same time."), std::string::npos) << err.str();
    EXPECT_FALSE(fs::exists(product));
}

TEST_F(ProductPackTest, ASecondVariantComesFromItsOwnFolder) {
    std::string config(package::DefaultConfigText());
    config.replace(config.find("[Project]\r\n"), 11, "[Project]\r\nPacket = 2\r\n");
    WriteFile(package / "Config.ini", config);
    for (const char* file : {"NPRG6260.hex", "partition.mbn", "Swivlet.exe", "AdbWinApi.dll", "AdbWinUsbApi.dll"}) {
        WriteFile(package / kSecondVariantFolder / file, std::string("variant 2 ") + file);
    }
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 1);
    EXPECT_NE(err.str().find((package / kSecondVariantFolder / "Config.ini").string() + " is missing"),
              std::string::npos)
        << err.str();

    WriteFile(package / kSecondVariantFolder / "Config.ini", "[Project]\r\n");
    ASSERT_EQ(Pack({"--from", package.string(), "--output", product.string()}), 0) << err.str();
    std::string error;
    const std::unique_ptr<platform::ResourceBundle> bundle = platform::OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    std::set<std::string> names;
    for (const platform::BundleEntry& entry : bundle->Entries()) names.insert(entry.name);
    for (const char* name : {"NPRG6260File2", "PartitionFile2", "SwivletFile2", "ConfigFile2"}) {
        EXPECT_EQ(names.count(name), 1u) << name;
    }
}

TEST_F(ProductPackTest, TheProgramMustBeBesideThePacker) {
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string(), "--program", "firmora-gui"}), 1);
    EXPECT_EQ(err.str(), "firmora-pack: the program firmora-gui is not beside firmora-pack (" +
                             (programs / "firmora-gui").string() + ")\n");
    EXPECT_EQ(Pack({"--from", package.string(), "--output", product.string(), "--program", "bash"}), 2);
    EXPECT_EQ(Pack({"--from", package.string()}), 2);
    EXPECT_EQ(Pack({"--output"}), 2);
    EXPECT_FALSE(fs::exists(product));
}

}  // namespace
}  // namespace firmora::pack
