#include "package/hexmorph.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/std_files.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::package {
namespace {

using testing::ReadTestFile;
using testing::WriteTestFile;

// One record, its checksum computed.
std::string Record(uint8_t type, uint16_t address, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> bytes{static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                               static_cast<uint8_t>(address), type};
    bytes.insert(bytes.end(), data.begin(), data.end());
    uint8_t sum = 0;
    for (uint8_t b : bytes) sum = static_cast<uint8_t>(sum + b);
    bytes.push_back(static_cast<uint8_t>(-sum));
    std::string text = ":";
    char digits[3];
    for (uint8_t b : bytes) {
        std::snprintf(digits, sizeof digits, "%02X", b);
        text += digits;
    }
    return text + "\n";
}

const std::string kEnd = ":00000001FF\n";

std::string Bytes(std::initializer_list<int> values) {
    std::string text;
    for (int v : values) text.push_back(static_cast<char>(v));
    return text;
}

TEST(IntelHex, PlacesDataByEveryAddressRecordAndFillsGapsWithZero) {
    const std::string text = Record(0x04, 0, {0x00, 0x01}) +        // linear base 0x10000
                             Record(0x00, 0x0010, {0xAA, 0xBB}) +   // 0x10010
                             Record(0x02, 0, {0x00, 0x10}) +        // plus segment base 0x100
                             Record(0x00, 0x0000, {0xCC}) +         // 0x10100
                             Record(0x05, 0, {0x00, 0x01, 0x00, 0x10}) + kEnd;
    const HexConversion result = ParseIntelHex(text, 1 << 20);
    ASSERT_TRUE(result.ok()) << result.error;
    EXPECT_EQ(result.image.baseAddress, 0x10010u);
    ASSERT_EQ(result.image.bytes.size(), 0xF1u);
    EXPECT_EQ(result.image.bytes.substr(0, 3), Bytes({0xAA, 0xBB, 0x00}));
    EXPECT_EQ(result.image.bytes.back(), static_cast<char>(0xCC));
    EXPECT_EQ(result.image.startAddress, 0x10010u);

    // Lower-case digits, CRLF line ends and blank lines read the same.
    const HexConversion crlf = ParseIntelHex(":02001000aabb89\r\n\r\n:00000001ff\r\n\x1a", 1 << 20);
    ASSERT_TRUE(crlf.ok()) << crlf.error;
    EXPECT_EQ(crlf.image.bytes, Bytes({0xAA, 0xBB}));
}

TEST(IntelHex, RefusesBadRecordsWithTheirLine) {
    const std::string good = Record(0x00, 0, {1, 2, 3});
    std::string badChecksum = Record(0x00, 3, {4});
    badChecksum[badChecksum.size() - 2] = badChecksum[badChecksum.size() - 2] == '0' ? '1' : '0';
    const struct {
        std::string text;
        std::string error;
    } cases[] = {
        {good + badChecksum + kEnd, "line 2: bad checksum"},
        {good + "\n" + "x" + kEnd, "line 3: a record must begin with ':'"},
        {good + ":0300000001020GF7\n" + kEnd, "line 2: a record holds pairs of hexadecimal digits only"},
        {good + ":04000000010203F6\n" + kEnd, "line 2: the record's length does not match"},
        {good + Record(0x06, 0, {}) + kEnd, "line 2: unknown record type 0x6"},
        {good + Record(0x04, 0, {1}) + kEnd, "line 2: an extended linear address record holds 2 bytes"},
        {good + Record(0x02, 0, {1, 2, 3}) + kEnd, "line 2: an extended segment address record holds 2 bytes"},
        {good + Record(0x03, 0, {1, 2}) + kEnd, "line 2: a start segment address record holds 4 bytes"},
        {good + Record(0x05, 0, {1}) + kEnd, "line 2: a start linear address record holds 4 bytes"},
        {good + Record(0x01, 0, {1}), "line 2: an end-of-file record carries no data"},
        {good + kEnd + good, "line 3: a record after the end-of-file record"},
        {good + Record(0x00, 2, {9}) + kEnd, "line 2: data at 0x2 overlaps the data of line 1"},
        {Record(0x04, 0, {0xFF, 0xFF}) + Record(0x00, 0xFFFF, {1, 2}) + kEnd, "line 2: data past the 4 GiB"},
        {good, "no end-of-file record"},
        {kEnd, "no data record"},
    };
    for (const auto& c : cases) {
        const HexConversion result = ParseIntelHex(c.text, 1 << 20);
        EXPECT_NE(result.error.find(c.error), std::string::npos) << c.text << "gave: " << result.error;
    }
}

TEST(IntelHex, RefusesAnImageLargerThanTheLimitBeforeAllocatingIt) {
    // Two bytes 4 GiB apart describe a 4 GiB image.
    const std::string text = Record(0x00, 0, {1}) + Record(0x04, 0, {0xFF, 0xFF}) + Record(0x00, 0xFFFF, {2}) + kEnd;
    const HexConversion result = ParseIntelHex(text, 32 << 20);
    EXPECT_EQ(result.error, "the image runs from 0x0 to 0x100000000, 4294967296 bytes, more than 33554432");
    EXPECT_TRUE(ParseIntelHex(Record(0x00, 0, {1, 2}) + kEnd, 2).ok());
    EXPECT_FALSE(ParseIntelHex(Record(0x00, 0, {1, 2, 3}) + kEnd, 2).ok());
}

TEST(IntelHex, NamesTheProgrammerBinaryAfterTheFirstDot) {
    EXPECT_EQ(ProgrammerBinaryName("nprg9x15.hex"), "nprg9x15.BIN");
    EXPECT_EQ(ProgrammerBinaryName("ENPRG9x15.v2.hex"), "ENPRG9x15.BIN");
    EXPECT_EQ(ProgrammerBinaryName("hexfile"), "hexfileBIN");
}

class HexmorphFiles : public ::testing::Test {
protected:
    testing::TestFolder folder{"hexmorph"};
    platform::StdFiles files;
    platform::ScriptedDialogs dialogs;
    std::filesystem::path hex = folder.path() / "nprg9x15.hex";
    std::filesystem::path bin = folder.path() / "nprg9x15.BIN";
};

TEST_F(HexmorphFiles, ConvertsIntoTheBinaryFileAndShowsNothing) {
    ASSERT_TRUE(WriteTestFile(hex, Record(0x00, 0x100, {7, 8}) + kEnd));
    std::string detail;
    EXPECT_TRUE(ConvertProgrammerHex(files, dialogs, hex, bin, detail));
    EXPECT_EQ(ReadTestFile(bin), Bytes({7, 8}));
    EXPECT_TRUE(dialogs.shown().empty());
}

TEST_F(HexmorphFiles, ABadRecordLeavesTheOldBinaryAndNoPartialFile) {
    ASSERT_TRUE(WriteTestFile(bin, "earlier"));
    ASSERT_TRUE(WriteTestFile(hex, Record(0x00, 0, {7, 8}) + ":0100000001FF\n" + kEnd));
    std::string detail;
    EXPECT_FALSE(ConvertProgrammerHex(files, dialogs, hex, bin, detail));
    EXPECT_EQ(detail, hex.string() + " line 2: bad checksum (expected 0xFE, found 0xFF)");
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].caption, "ERROR");
    EXPECT_EQ(dialogs.shown()[0].text, "switch hex to bin failed!");
    EXPECT_EQ(dialogs.shown()[0].icon, platform::DialogIcon::Warning);
    EXPECT_EQ(ReadTestFile(bin), "earlier");
    size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.path())) ++entries;
    EXPECT_EQ(entries, 2u);
}

TEST_F(HexmorphFiles, AMissingOrTooLargeFileShowsItsOwnMessage) {
    std::string detail;
    EXPECT_FALSE(ConvertProgrammerHex(files, dialogs, hex, bin, detail));
    ASSERT_EQ(dialogs.shown().size(), 1u);
    EXPECT_EQ(dialogs.shown()[0].text, "Read hex file failed(INVALID_HANDLE)!");
    EXPECT_EQ(detail, hex.string() + " does not exist");

    ASSERT_TRUE(WriteTestFile(hex, Record(0x00, 0, {1}) + kEnd));
    const HexmorphOutcome tooLarge = Hexmorph(files, hex, bin, {.maxHexBytes = 10});
    EXPECT_EQ(tooLarge.result, HexmorphResult::NotConverted);
    EXPECT_EQ(tooLarge.error, hex.string() + " is larger than 10 bytes");
    EXPECT_FALSE(std::filesystem::exists(bin));
}

TEST_F(HexmorphFiles, NeverWritesThroughALinkInPlaceOfTheBinary) {
    const auto elsewhere = folder.path() / "elsewhere";
    ASSERT_TRUE(WriteTestFile(elsewhere, "kept"));
    std::filesystem::create_symlink(elsewhere, bin);
    ASSERT_TRUE(WriteTestFile(hex, Record(0x00, 0, {1}) + kEnd));
    const HexmorphOutcome outcome = Hexmorph(files, hex, bin);
    EXPECT_EQ(outcome.result, HexmorphResult::NotConverted);
    EXPECT_EQ(outcome.error, bin.string() + " is a symbolic link");
    EXPECT_EQ(ReadTestFile(elsewhere), "kept");
}

// The same HEX files through objcopy, the reference every build machine has.
class AgainstObjcopy : public HexmorphFiles {
protected:
    void SetUp() override {
        if (std::system("objcopy --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "objcopy is not installed";
    }

    // A deterministic binary of `size` bytes, written as Intel HEX at `address`.
    std::string HexPiece(const std::string& name, size_t size, uint32_t address, uint32_t seed,
                         const std::string& extra = "") {
        std::string data(size, '\0');
        for (char& c : data) {
            seed = seed * 1103515245 + 12345;
            c = static_cast<char>(seed >> 16);
        }
        const auto binary = folder.path() / (name + ".bin");
        const auto piece = folder.path() / (name + ".hex");
        EXPECT_TRUE(WriteTestFile(binary, data));
        Run("objcopy -I binary -O ihex --change-addresses " + std::to_string(address) + " " + extra + " " +
            binary.string() + " " + piece.string());
        return ReadTestFile(piece).value_or("");
    }

    static void Run(const std::string& command) { ASSERT_EQ(std::system(command.c_str()), 0) << command; }

    static std::string WithoutEnd(std::string text) {
        const size_t end = text.find(":00000001FF");
        return end == std::string::npos ? text : text.substr(0, end);
    }

    void ExpectSameAsObjcopy(const std::string& text) {
        ASSERT_TRUE(WriteTestFile(hex, text));
        const auto reference = folder.path() / "reference.bin";
        Run("objcopy -I ihex -O binary " + hex.string() + " " + reference.string());
        const HexmorphOutcome outcome = Hexmorph(files, hex, bin);
        ASSERT_EQ(outcome.result, HexmorphResult::Converted) << outcome.error;
        const auto ours = ReadTestFile(bin);
        const auto theirs = ReadTestFile(reference);
        ASSERT_TRUE(ours && theirs);
        EXPECT_EQ(ours->size(), theirs->size());
        EXPECT_TRUE(*ours == *theirs);
    }
};

TEST_F(AgainstObjcopy, OneImageAtAddressZero) { ExpectSameAsObjcopy(HexPiece("plain", 70001, 0, 1)); }

TEST_F(AgainstObjcopy, PiecesWithGapsUnderSegmentAndLinearAddresses) {
    // objcopy writes extended segment records below 1 MiB and extended
    // linear ones above; the reset of the segment base keeps the linear
    // piece where its writer meant it.
    const std::string low = HexPiece("low", 300, 0x8000, 2);
    const std::string segment = HexPiece("segment", 70000, 0x18010, 3, "--set-start 0x18010");
    const std::string linear = HexPiece("linear", 5000, 0x120000, 4, "--set-start 0x120004");
    ASSERT_NE(segment.find("\n:02000002"), std::string::npos);
    ASSERT_NE(segment.find("\n:04000003"), std::string::npos);
    ASSERT_NE(linear.find(":02000004"), std::string::npos);
    ASSERT_NE(linear.find("\n:04000005"), std::string::npos);
    ExpectSameAsObjcopy(WithoutEnd(low) + WithoutEnd(segment) + Record(0x02, 0, {0, 0}) + linear);
}

}  // namespace
}  // namespace firmora::package
