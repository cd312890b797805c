#include "platform/posix/zip_resource_bundle.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <tuple>

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

uint32_t Crc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFF;
    for (const unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320 & (0 - (crc & 1)));
    }
    return ~crc;
}

std::string LittleBytes(uint64_t value, int count) {
    std::string bytes;
    for (int i = 0; i < count; ++i) bytes += static_cast<char>((value >> (8 * i)) & 0xFF);
    return bytes;
}

// An archive of two stored entries whose second one's local header offset
// is in a ZIP64 field, as an archive of more than 4 GiB gives it; too large
// to make in a test, so written by hand.
std::string ArchiveWithZip64Offset(const std::vector<std::pair<std::string, std::string>>& entries) {
    std::string local;
    std::string central;
    for (size_t i = 0; i < entries.size(); ++i) {
        const auto& [name, bytes] = entries[i];
        const uint64_t offset = local.size();
        // version needed 4.5, no flags, stored, 1980-01-01 00:00
        const std::string common = LittleBytes(45, 2) + LittleBytes(0, 2) + LittleBytes(0, 2) + LittleBytes(0, 2) +
                                   LittleBytes(0x21, 2) + LittleBytes(Crc32(bytes), 4) + LittleBytes(bytes.size(), 4) +
                                   LittleBytes(bytes.size(), 4) + LittleBytes(name.size(), 2);
        local += LittleBytes(0x04034b50, 4) + common + LittleBytes(0, 2) + name + bytes;
        const bool zip64 = i + 1 == entries.size();
        central += LittleBytes(0x02014b50, 4) + LittleBytes(0x032D, 2) + common + LittleBytes(zip64 ? 12 : 0, 2) +
                   LittleBytes(0, 2) + LittleBytes(0, 2) + LittleBytes(0, 2) + LittleBytes(0, 4) +
                   LittleBytes(zip64 ? 0xFFFFFFFF : offset, 4) + name;
        if (zip64) central += LittleBytes(0x0001, 2) + LittleBytes(8, 2) + LittleBytes(offset, 8);
    }
    return local + central + LittleBytes(0x06054b50, 4) + LittleBytes(0, 2) + LittleBytes(0, 2) +
           LittleBytes(entries.size(), 2) + LittleBytes(entries.size(), 2) + LittleBytes(central.size(), 4) +
           LittleBytes(local.size(), 4) + LittleBytes(0, 2);
}

// What made a product's archive: firmora-pack (stored entries), or Info-ZIP's
// zip storing (other local header fields than ours) or deflating.
enum class Maker { FirmoraPack, ZipStored, ZipDeflated };

const char* MakerName(Maker maker) {
    switch (maker) {
        case Maker::FirmoraPack: return "firmora-pack";
        case Maker::ZipStored: return "zip -0";
        case Maker::ZipDeflated: return "zip -6";
    }
    return "";
}

constexpr Maker kMakers[] = {Maker::FirmoraPack, Maker::ZipStored, Maker::ZipDeflated};

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

    // A product carrying IMG/BootimageFile, INI/ConfigFile and an empty
    // BIN/EmptyFile, its archive made by `maker`.
    void MakeProduct(Maker maker) {
        const fs::path tree = folder.path() / "tree";
        fs::remove_all(tree);
        fs::create_directories(tree / "IMG");
        fs::create_directories(tree / "INI");
        fs::create_directories(tree / "BIN");
        WriteFile(tree / "IMG" / "BootimageFile", boot);
        WriteFile(tree / "INI" / "ConfigFile", "[Project]\r\n");
        WriteFile(tree / "BIN" / "EmptyFile", "");
        if (maker == Maker::FirmoraPack) {
            ASSERT_TRUE(Pack(program, product,
                             {{"IMG", "BootimageFile", tree / "IMG" / "BootimageFile"},
                              {"INI", "ConfigFile", tree / "INI" / "ConfigFile"},
                              {"BIN", "EmptyFile", tree / "BIN" / "EmptyFile"}}))
                << error;
            return;
        }
        const fs::path archive = folder.path() / "archive.zip";
        fs::remove(archive);
        const std::string command = "cd '" + tree.string() + "' && zip -q " +
                                    (maker == Maker::ZipStored ? "-0" : "-6") + " '" + archive.string() +
                                    "' IMG/BootimageFile INI/ConfigFile BIN/EmptyFile";
        ASSERT_EQ(std::system(command.c_str()), 0) << "zip is missing: scripts/install-deps.sh installs it";
        WriteFile(product, ReadFile(program) + ReadFile(archive));
    }

    // Where the stored boot image's bytes begin in the product (the
    // program's pattern is the same sequence, so the search starts after it).
    uint64_t BootAt() {
        const std::string bytes = ReadFile(product);
        const size_t at = bytes.find(boot.substr(0, 4096), fs::file_size(program));
        EXPECT_NE(at, std::string::npos) << "the image is not stored";
        return at;
    }

    // Unpacks IMG/BootimageFile of `bundle` to `target` as the start-up does.
    bool UnpackBoot(ResourceBundle& bundle, const fs::path& target, std::string& why) {
        std::unique_ptr<ByteSource> source = bundle.Open("IMG", "BootimageFile", why);
        if (source == nullptr) return false;
        PosixFiles files;
        if (files.ReplaceFromSource(target, *source)) return true;
        why = source->Error();
        return false;
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

TEST_F(ZipBundleTest, EveryEntryUnpacksToItsOwnBytesWhoeverMadeTheArchive) {
    // Stored entries are read straight from the file, deflated ones through
    // libzip: both must give the packed bytes, the empty entry included.
    for (const Maker maker : kMakers) {
        SCOPED_TRACE(MakerName(maker));
        ASSERT_NO_FATAL_FAILURE(MakeProduct(maker));
        std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
        ASSERT_NE(bundle, nullptr) << error;
        const fs::path target = folder.path() / (std::string("boot-") + MakerName(maker));
        ASSERT_TRUE(UnpackBoot(*bundle, target, error)) << error;
        EXPECT_EQ(ReadFile(target), boot);
        using Entry = std::tuple<std::string, std::string, std::string>;
        for (const auto& [type, name, bytes] : {Entry{"INI", "ConfigFile", "[Project]\r\n"}, Entry{"BIN", "EmptyFile", ""}}) {
            std::unique_ptr<ByteSource> source = bundle->Open(type, name, error);
            ASSERT_NE(source, nullptr) << error;
            EXPECT_EQ(ReadAll(*source), bytes) << name;
        }
    }
}

TEST_F(ZipBundleTest, AFlippedByteAnywhereInAnEntryLeavesNoFile) {
    // The first byte, one in the middle, and the last: the last one is read
    // by the same read that must find the wrong CRC-32.
    for (const Maker maker : {Maker::FirmoraPack, Maker::ZipStored}) {
        for (const uint64_t into : {uint64_t{0}, uint64_t{boot.size() / 2}, uint64_t{boot.size() - 1}}) {
            SCOPED_TRACE(std::string(MakerName(maker)) + ", byte " + std::to_string(into));
            ASSERT_NO_FATAL_FAILURE(MakeProduct(maker));
            {
                std::fstream file(product, std::ios::binary | std::ios::in | std::ios::out);
                file.seekp(static_cast<std::streamoff>(BootAt() + into));
                file.put(static_cast<char>(boot[into] ^ 0x01));
            }
            std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
            ASSERT_NE(bundle, nullptr) << error;
            const fs::path unpacked = folder.path() / "unpacked";
            fs::remove_all(unpacked);
            fs::create_directories(unpacked);
            EXPECT_FALSE(UnpackBoot(*bundle, unpacked / "boot.img", error));
            EXPECT_EQ(error, "IMG/BootimageFile cannot be read from the package: CRC error");
            EXPECT_TRUE(fs::is_empty(unpacked));
        }
    }
}

TEST_F(ZipBundleTest, AProductCutShortIsRefused) {
    for (const Maker maker : kMakers) {
        SCOPED_TRACE(MakerName(maker));
        ASSERT_NO_FATAL_FAILURE(MakeProduct(maker));
        // Cut before it is opened: the end records are gone with the tail.
        const uint64_t whole = fs::file_size(product);
        fs::resize_file(product, whole - 1);
        EXPECT_EQ(OpenZipBundle(product, error), nullptr);
        EXPECT_EQ(error, product.string() + " carries no package");

        // Cut while it is open, inside the image's bytes, which come first
        // and take more than a KiB even deflated (a product being replaced
        // in place under a running program).
        ASSERT_NO_FATAL_FAILURE(MakeProduct(maker));
        std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
        ASSERT_NE(bundle, nullptr) << error;
        fs::resize_file(product, fs::file_size(program) + 1000);
        const fs::path unpacked = folder.path() / "unpacked";
        fs::remove_all(unpacked);
        fs::create_directories(unpacked);
        EXPECT_FALSE(UnpackBoot(*bundle, unpacked / "boot.img", error));
        EXPECT_EQ(error.rfind("IMG/BootimageFile cannot be read from the package: ", 0), 0u) << error;
        if (maker != Maker::ZipDeflated) {
            // Only the direct read of a stored entry says so: this is what
            // shows that both kinds of stored archive are read that way.
            EXPECT_NE(error.find("the file ends after "), std::string::npos) << error;
        }
        EXPECT_TRUE(fs::is_empty(unpacked));
    }
}

TEST_F(ZipBundleTest, AnEntryWhoseOffsetIsInAZip64FieldIsReadDirectly) {
    WriteFile(product, ReadFile(program) + ArchiveWithZip64Offset({{"INI/ConfigFile", "[Project]\r\n"},
                                                                   {"IMG/BootimageFile", boot}}));
    std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    const fs::path target = folder.path() / "boot.unpacked";
    ASSERT_TRUE(UnpackBoot(*bundle, target, error)) << error;
    EXPECT_EQ(ReadFile(target), boot);

    fs::resize_file(product, BootAt() + 10);
    EXPECT_FALSE(UnpackBoot(*bundle, target, error));
    EXPECT_EQ(error, "IMG/BootimageFile cannot be read from the package: the file ends after 10 of its " +
                         std::to_string(boot.size()) + " bytes");
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

TEST_F(ZipBundleTest, ACompressedEntryLargerThanItDeclaresFailsItsRead) {
    // A damaged or hostile archive may inflate to far more than its headers
    // say; the unpack must not write past the size the package declares.
    MakeProduct(Maker::ZipDeflated);
    if (HasFatalFailure()) return;
    std::string bytes = ReadFile(product);
    const std::string name = "IMG/BootimageFile";
    const uint32_t declared = 1000;
    for (const auto& [signature, sizeAt, nameAt] : {std::tuple{std::string("PK\x01\x02", 4), 24, 46},
                                                    std::tuple{std::string("PK\x03\x04", 4), 22, 30}}) {
        size_t at = bytes.find(signature, fs::file_size(program));
        while (at != std::string::npos && bytes.compare(at + nameAt, name.size(), name) != 0) {
            at = bytes.find(signature, at + 1);
        }
        ASSERT_NE(at, std::string::npos);
        bytes.replace(at + sizeAt, 4, LittleBytes(declared, 4));
    }
    WriteFile(product, bytes);

    std::unique_ptr<ResourceBundle> bundle = OpenZipBundle(product, error);
    ASSERT_NE(bundle, nullptr) << error;
    std::unique_ptr<ByteSource> source = bundle->Open("IMG", "BootimageFile", error);
    ASSERT_NE(source, nullptr) << error;
    std::vector<char> buffer(64 * 1024);
    uint64_t total = 0;
    int64_t got = 0;
    while ((got = source->Read(buffer)) > 0) total += static_cast<uint64_t>(got);
    EXPECT_LT(got, 0);
    EXPECT_LE(total, declared);
    EXPECT_EQ(source->Error(),
              "IMG/BootimageFile cannot be read from the package: it holds more than the 1000 bytes the package "
              "declares");

    const fs::path target = folder.path() / "unpacked" / "boot.img";
    fs::create_directories(target.parent_path());
    std::string why;
    EXPECT_FALSE(UnpackBoot(*bundle, target, why));
    EXPECT_FALSE(fs::exists(target));
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
