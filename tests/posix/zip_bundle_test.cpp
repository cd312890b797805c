#include "platform/posix/zip_resource_bundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "platform/posix/posix_files.h"
#include "test_folder.h"

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;
using testing::TestFolder;

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

// Bytes that differ from one position to the next, so that a piece read
// from the wrong offset shows.
std::string Pattern(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + seed) % 251);
    return bytes;
}

std::string ReadAll(ByteSource& source) {
    std::string all;
    char buffer[7000];
    for (int64_t got; (got = source.Read(buffer)) > 0;) all.append(buffer, static_cast<size_t>(got));
    return all;
}

class ZipBundleTest : public ::testing::Test {
protected:
    void SetUp() override {
        WriteFile(program, "\x7f" "ELF a program's bytes " + Pattern(50000, 3));
        WriteFile(folder.path() / "boot.img", boot);
        WriteFile(folder.path() / "Config.ini", "[Project]\r\n");
    }
    bool Pack(const fs::path& from, const fs::path& to, std::vector<BundleFile> files) {
        return WriteProductWithBundle(from, files, to, error);
    }

    TestFolder folder{"zip-bundle"};
    fs::path program = folder.path() / "program";
    fs::path product = folder.path() / "product";
    std::string boot = Pattern(3 * 1024 * 1024 + 17, 1);
    std::string error;
};

TEST_F(ZipBundleTest, APackedProductKeepsTheProgramAndCarriesTheEntries) {
    ASSERT_TRUE(Pack(program, product,
                     {{"IMG", "BootimageFile", folder.path() / "boot.img"},
                      {"ini", "ConfigFile", folder.path() / "Config.ini"}}))
        << error;

    const std::string programBytes = ReadFile(program);
    EXPECT_EQ(ReadFile(product).substr(0, programBytes.size()), programBytes);
    EXPECT_EQ(FindAppendedArchive(product, error), programBytes.size());
    std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    const std::vector<BundleEntry> entries = bundle->Entries();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].type + "/" + entries[0].name, "IMG/BootimageFile");
    EXPECT_EQ(entries[0].size, boot.size());
    EXPECT_EQ(entries[1].type + "/" + entries[1].name, "INI/ConfigFile");

    // Type and name are compared without regard to case.
    std::unique_ptr<ByteSource> source = bundle->Open("img", "BOOTIMAGEFILE", error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(ReadAll(*source), boot);
    EXPECT_EQ(bundle->Open("MBN", "BootimageFile", error), nullptr);
    EXPECT_EQ(error, "The package carries no MBN/BootimageFile");
}

TEST_F(ZipBundleTest, RepackingAProductReplacesThePackageItCarries) {
    ASSERT_TRUE(Pack(program, product, {{"IMG", "BootimageFile", folder.path() / "boot.img"}})) << error;
    ASSERT_TRUE(Pack(product, product, {{"INI", "ConfigFile", folder.path() / "Config.ini"}})) << error;

    EXPECT_EQ(FindAppendedArchive(product, error), fs::file_size(program));
    std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    ASSERT_EQ(bundle->Entries().size(), 1u);
    EXPECT_EQ(bundle->Entries()[0].name, "ConfigFile");
    EXPECT_LT(fs::file_size(product), fs::file_size(program) + 4096);
}

TEST_F(ZipBundleTest, AProgramWithoutAPackageAndAnArchiveAloneAreTold) {
    EXPECT_EQ(OpenZipBundle(program, error), nullptr);
    EXPECT_EQ(error, program.string() + " carries no package");
    EXPECT_EQ(OpenZipBundle(folder.path() / "nowhere", error), nullptr);
    EXPECT_EQ(error, (folder.path() / "nowhere").string() + " cannot be read");

    // An archive of its own begins at its first byte.
    WriteFile(folder.path() / "empty", "");
    ASSERT_TRUE(Pack(folder.path() / "empty", product, {{"INI", "ConfigFile", folder.path() / "Config.ini"}}));
    EXPECT_EQ(FindAppendedArchive(product, error), 0u);
    EXPECT_NE(OpenZipBundle(product, error), nullptr);
}

TEST_F(ZipBundleTest, Zip64ArchivesAreFoundBehindAProgram) {
    // Info-ZIP's zip writes the ZIP64 end records when told to, as a packer
    // does for a package of more than 4 GiB.
    fs::create_directories(folder.path() / "tree" / "IMG");
    WriteFile(folder.path() / "tree" / "IMG" / "BootimageFile", boot);
    const std::string command = "cd '" + (folder.path() / "tree").string() + "' && zip -q -0 -fz ../archive.zip IMG/BootimageFile";
    ASSERT_EQ(std::system(command.c_str()), 0) << "zip is missing: scripts/install-deps.sh installs it";
    {
        std::ofstream out(product, std::ios::binary);
        out << ReadFile(program) << ReadFile(folder.path() / "archive.zip");
    }
    EXPECT_EQ(FindAppendedArchive(product, error), fs::file_size(program));
    std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    std::unique_ptr<ByteSource> source = bundle->Open("IMG", "BootimageFile", error);
    ASSERT_NE(source, nullptr) << error;
    EXPECT_EQ(ReadAll(*source), boot);
}

TEST_F(ZipBundleTest, ADamagedEntryFailsItsReadAndIsNeverWritten) {
    ASSERT_TRUE(Pack(program, product, {{"IMG", "BootimageFile", folder.path() / "boot.img"}})) << error;
    {
        // One byte in the middle of the stored image.
        std::fstream file(product, std::ios::binary | std::ios::in | std::ios::out);
        file.seekp(static_cast<std::streamoff>(fs::file_size(program) + boot.size() / 2));
        file.put('\xff' ^ boot[boot.size() / 2 - 40]);
    }
    std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    std::unique_ptr<ByteSource> source = bundle->Open("IMG", "BootimageFile", error);
    ASSERT_NE(source, nullptr) << error;

    PosixFiles files;
    const fs::path target = folder.path() / "unpacked" / "boot.img";
    fs::create_directories(target.parent_path());
    WriteFile(target, "older");
    EXPECT_FALSE(files.ReplaceFromSource(target, *source));
    EXPECT_NE(source->Error().find("IMG/BootimageFile cannot be read from the package: CRC error"),
              std::string::npos)
        << source->Error();
    EXPECT_EQ(ReadFile(target), "older");
    EXPECT_EQ(std::distance(fs::directory_iterator(target.parent_path()), fs::directory_iterator()), 1);
}

TEST_F(ZipBundleTest, StreamedReplaceWritesEveryByteAndKeepsTheFileMode) {
    const fs::path target = folder.path() / "boot.copy";
    WriteFile(target, "older");
    fs::permissions(target, fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec);
    std::unique_ptr<ByteSource> source = ReadInPieces(folder.path() / "boot.img", error);
    ASSERT_NE(source, nullptr) << error;
    PosixFiles files;
    ASSERT_TRUE(files.ReplaceFromSource(target, *source));
    EXPECT_EQ(ReadFile(target), boot);
    EXPECT_EQ(fs::status(target).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write | fs::perms::owner_exec);
}

}  // namespace
}  // namespace firmora::platform
