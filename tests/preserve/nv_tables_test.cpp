#include "preserve/nv_tables.h"

#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "platform/std_files.h"
#include "test_folder.h"

namespace firmora::testing {
namespace {

namespace fs = std::filesystem;
using preserve::NvEntry;
using preserve::NvTable;

platform::StdFiles files;

void Write(const fs::path& file, const std::string& content) {
    std::ofstream out(file, std::ios::binary);
    out << content;
}

// `count` well-formed entries starting at `first`.
std::string Entries(size_t count, int first = 1) {
    std::string text;
    for (size_t i = 0; i < count; ++i) {
        const std::string n = std::to_string(first + static_cast<int>(i));
        text += n + " NV_ITEM_" + n + "_I\n";
    }
    return text;
}

::testing::AssertionResult Is(const NvEntry& entry, int32_t number, const std::string& name) {
    if (entry.number == number && entry.name == name) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << entry.number << " " << entry.name << " instead of " << number << " "
                                         << name;
}

size_t PositionOf(const NvTable& table, const std::string& name) {
    for (size_t i = 0; i < table.size(); ++i) {
        if (table[i].name == name) return i;
    }
    return table.size();
}

TEST(NvTablesTest, ShippedProductListsLoadWithTheirCountsAndEnds) {
    std::string error;
    const auto tables = preserve::LoadProductNvTables(files, FIRMORA_NV_TABLE_DIR, error);
    ASSERT_TRUE(tables) << error;

    ASSERT_EQ(tables->defaults.size(), 805u);
    EXPECT_TRUE(Is(tables->defaults.front(), 141, "NV_THERM_I"));
    EXPECT_TRUE(Is(tables->defaults.back(), 7224, "NV_C1_WCDMA_2100_VGA_GAIN_OFFSET_CAR1_I"));

    ASSERT_EQ(tables->lte.size(), 272u);
    EXPECT_TRUE(Is(tables->lte.front(), 5609, "NV_GSM_850_AMAM_LINEAR_PA_RANGEA_F3_SEG1_I"));
    EXPECT_TRUE(Is(tables->lte.back(), 20216, "RFNV_LTE_B40_C1_RX_GAIN_I_I"));

    ASSERT_EQ(tables->vendor.size(), 349u);
    EXPECT_TRUE(Is(tables->vendor[0], 74, "NV_AUTO_ANSWER_I"));
    EXPECT_TRUE(Is(tables->vendor[1], 3649, "NV_DPA_OR_UPA_I"));
    EXPECT_TRUE(Is(tables->vendor.back(), 4994, "NV_WCDMA_900_TX_COMP_VS_FREQ_SEC_PDM_LIST_I"));

    // A product list that names an item twice backs it up twice and most
    // likely lost another item to a typing slip.
    for (const NvTable* table : {&tables->defaults, &tables->lte, &tables->vendor}) {
        std::set<int32_t> numbers;
        for (const NvEntry& entry : *table) {
            EXPECT_TRUE(numbers.insert(entry.number).second) << entry.number << " " << entry.name;
        }
    }
}

TEST(NvTablesTest, BuiltInListsHoldEveryItemInOrder) {
    const NvTable& library = preserve::LibraryNvTable();
    ASSERT_EQ(library.size(), 62u);
    EXPECT_TRUE(Is(library.front(), 540, "NV_WCDMA_TX_LIM_VS_FREQ_I"));
    EXPECT_TRUE(Is(library[13], 6736, "NV_LTE_B1_TX_LIMIT_VS_FREQ_I"));
    EXPECT_TRUE(Is(library[14], 20309, "NV_LTE_B3_EXP_HDET_VS_AGC_I"));
    EXPECT_TRUE(Is(library[15], 20310, "NV_LTE_B3_TX_LIMIT_VS_FREQ_I"));
    EXPECT_TRUE(Is(library[16], 20790, "NV_LTE_B5_RX_CAL_CHAN_I"));
    EXPECT_TRUE(Is(library[28], 22982, "RFNV_MSM_SELF_CAL_I"));
    EXPECT_TRUE(Is(library.back(), 28334, "RFNV_WCDMA_900_RX_CAL_DATA_V2_I"));
    for (const NvEntry& entry : library) EXPECT_LE(entry.number, 0xFFFF) << entry.name;

    const NvTable& cdma = preserve::CdmaNvTable();
    ASSERT_EQ(cdma.size(), 52u);
    EXPECT_TRUE(Is(cdma.front(), 6503, "NV_MVT_APP_UIT87_I"));
    for (int i = 0; i < 4; ++i) {
        const std::string lna = "NV_C0_BC0_LNA_" + std::to_string(i + 1);
        EXPECT_TRUE(Is(cdma[3 + i], 1739 + i, lna + "_OFFSET_VS_FREQ_I"));
        EXPECT_TRUE(Is(cdma[7 + i], 1743 + i, lna + "_OFFSET_I"));
        EXPECT_TRUE(Is(cdma[28 + i], 1650 + i, "NV_C0_BC1_LNA_" + std::to_string(i + 1) + "_OFFSET_VS_FREQ_I"));
    }
    EXPECT_TRUE(Is(cdma[11], 1749, "NV_C0_BC0_VGA_GAIN_OFFSET_I"));
    EXPECT_TRUE(Is(cdma[27], 1749, "NV_C0_BC1_RX_CAL_CHAN_I"));
    EXPECT_EQ(PositionOf(cdma, "NV_BC1_TX_PWR_COMP0_I") + 1, PositionOf(cdma, "NV_BC1_TX_PWR_COMP1_I"));
    EXPECT_TRUE(Is(cdma.back(), 5755, "NV_BC1_HDET_SPN_V2_I"));

    const NvTable& identity = preserve::CdmaIdentityNvTable();
    ASSERT_EQ(identity.size(), 12u);
    EXPECT_TRUE(Is(identity[0], 1943, "NV_MEID_I"));
    EXPECT_TRUE(Is(identity[1], 0, "NV_ESN_I"));
    EXPECT_TRUE(Is(identity[4], 33, "NV_MIN2_I"));
    EXPECT_TRUE(Is(identity.back(), 1192, "NV_HDR_AN_AUTH_PASSWORD_LONG_I"));
}

TEST(NvTablesTest, FileFormsAnEditorMayLeaveAreRead) {
    TestFolder folder("nvtable");
    const fs::path file = folder.path() / "list.nvtable";
    Write(file, "\xEF\xBB\xBF# byte order mark, CRLF, tabs, indented comment\r\n"
                "\r\n"
                "0 NV_ESN_I\r\n"
                "   \t \r\n"
                "  # indented\r\n"
                "\t2147483647\tNV_LAST_I \r\n"
                "65536 NV_WIDE_I");  // no final line break
    std::string error;
    const auto table = preserve::LoadNvTableFile(files, file, 3, error);
    ASSERT_TRUE(table) << error;
    EXPECT_TRUE(Is((*table)[0], 0, "NV_ESN_I"));
    EXPECT_TRUE(Is((*table)[1], 2147483647, "NV_LAST_I"));
    EXPECT_TRUE(Is((*table)[2], 65536, "NV_WIDE_I"));
}

TEST(NvTablesTest, MalformedFilesAreRefusedWithFileAndLine) {
    struct Case {
        const char* what;
        std::string content;
        size_t expected;
        std::string error;  // what the message must hold after the file name
    };
    const std::string head = "# list\n1 NV_A_I\n";  // the bad line is line 3
    const std::vector<Case> cases = {
        {"letters in the number", head + "12a NV_B_I\n", 2, ":3: item number \"12a\" is not a decimal number"},
        {"plus sign", head + "+5 NV_B_I\n", 2, ":3: item number \"+5\" is not a decimal number"},
        {"name first", head + "NV_B_I 5\n", 2, ":3: item number \"NV_B_I\" is not a decimal number"},
        {"negative", head + "-5 NV_B_I\n", 2, ":3: item number \"-5\" is negative"},
        {"past int32", head + "2147483648 NV_B_I\n", 2, ":3: item number \"2147483648\" does not fit"},
        {"far past int32", head + "99999999999999999999999 NV_B_I\n", 2, ":3: item number \"9999"},
        {"missing name", head + "5\n", 2, ":3: the item name is missing after \"5\""},
        {"extra field", head + "5 NV_B_I 7\n", 2, ":3: extra text \"7\" after the item name"},
        {"trailing comment", head + "5 NV_B_I # note\n", 2, ":3: extra text \"#\""},
        {"dash in name", head + "5 NV-B_I\n", 2, ":3: item name \"NV-B_I\" holds the character 0x2D"},
        {"control byte", head + "5 NV_B\x01_I\n", 2, ":3: the line holds the character 0x01"},
        {"NUL byte", head + std::string("5 NV_B\0_I\n", 10), 2, ":3: the line holds the character 0x00"},
        {"non-ASCII name", head + "5 NV_\xC3\xA9_I\n", 2, ":3: the line holds the character 0xC3"},
        {"bare CR inside", head + "5 NV_B_I\r6 NV_C_I\n", 2, ":3: the line holds the character 0x0D"},
        {"too few", head + "2 NV_B_I\n", 3, ": 2 entries, expected 3"},
        {"too many", head + "2 NV_B_I\n3 NV_C_I\n", 2, ":4: more than 2 entries"},
        {"only comments", "# nothing\n\n", 1, ": 0 entries, expected 1"},
    };
    TestFolder folder("nvtable");
    const fs::path file = folder.path() / "bad.nvtable";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Write(file, c.content);
        std::string error;
        EXPECT_FALSE(preserve::LoadNvTableFile(files, file, c.expected, error));
        EXPECT_EQ(error.rfind(file.string(), 0), 0u) << error;
        EXPECT_NE(error.find(c.error, file.string().size()), std::string::npos) << error;
    }
}

TEST(NvTablesTest, UnreadableFilesAreRefused) {
    TestFolder folder("nvtable");
    const std::pair<fs::path, std::string> cases[] = {{folder.path() / "missing.nvtable", " does not exist"},
                                                      {folder.path(), " is not a regular file"}};
    for (const auto& [file, reason] : cases) {
        std::string error;
        EXPECT_FALSE(preserve::LoadNvTableFile(files, file, 1, error));
        EXPECT_EQ(error, file.string() + reason);
    }
}

class NvTablesProductFolderTest : public ::testing::Test {
protected:
    void SetUp() override {
        Write(folder.path() / preserve::kDefaultNvTableFile, Entries(preserve::kDefaultNvTableSize));
        Write(folder.path() / preserve::kLteNvTableFile, Entries(preserve::kLteNvTableSize, 20000));
        Write(folder.path() / preserve::kVendorNvTableFile, Entries(preserve::kVendorNvTableSize));
    }
    TestFolder folder{"nvtables"};
};

TEST_F(NvTablesProductFolderTest, LoadsAllThreeLists) {
    std::string error;
    const auto tables = preserve::LoadProductNvTables(files, folder.path(), error);
    ASSERT_TRUE(tables) << error;
    EXPECT_EQ(tables->lte.front().number, 20000);
    EXPECT_EQ(tables->vendor.size(), preserve::kVendorNvTableSize);
}

// A program with no folder beside it (a product executable on its own) has
// the shipped lists built in; a folder that is there is always read.
TEST_F(NvTablesProductFolderTest, WithoutTheFolderTheBuiltInListsAreTheShippedOnes) {
    std::string error;
    const auto shipped = preserve::LoadProductNvTables(files, FIRMORA_NV_TABLE_DIR, error);
    const auto builtin = preserve::LoadProductNvTables(files, folder.path() / "nowhere", error);
    ASSERT_TRUE(shipped && builtin) << error;
    for (const auto& [from, copy] : {std::pair{&shipped->defaults, &builtin->defaults},
                                     std::pair{&shipped->lte, &builtin->lte},
                                     std::pair{&shipped->vendor, &builtin->vendor}}) {
        ASSERT_EQ(from->size(), copy->size());
        for (size_t i = 0; i < from->size(); ++i) {
            EXPECT_TRUE(Is((*copy)[i], (*from)[i].number, (*from)[i].name)) << i;
        }
    }

    fs::remove(folder.path() / preserve::kLteNvTableFile);
    EXPECT_FALSE(preserve::LoadProductNvTables(files, folder.path(), error));
}

TEST_F(NvTablesProductFolderTest, AnyMissingOrBrokenListFailsTheLoad) {
    std::string error;
    fs::remove(folder.path() / preserve::kVendorNvTableFile);
    EXPECT_FALSE(preserve::LoadProductNvTables(files, folder.path(), error));
    EXPECT_NE(error.find("vendor.nvtable does not exist"), std::string::npos) << error;

    // Refused unread: no list comes near the bound.
    Write(folder.path() / preserve::kVendorNvTableFile, std::string(preserve::kNvTableFileMaxBytes + 1, '#'));
    EXPECT_FALSE(preserve::LoadProductNvTables(files, folder.path(), error));
    EXPECT_NE(error.find("vendor.nvtable is larger than 1048576 bytes"), std::string::npos) << error;

    Write(folder.path() / preserve::kVendorNvTableFile, Entries(preserve::kVendorNvTableSize));
    Write(folder.path() / preserve::kLteNvTableFile, Entries(preserve::kLteNvTableSize - 1));
    EXPECT_FALSE(preserve::LoadProductNvTables(files, folder.path(), error));
    EXPECT_NE(error.find("lte.nvtable: 271 entries, expected 272"), std::string::npos) << error;
}

// An item number wider than the request's two-byte field would address
// another item on the device.
TEST_F(NvTablesProductFolderTest, RefusesNumbersADiagRequestCannotCarry) {
    std::string error;
    Write(folder.path() / preserve::kLteNvTableFile,
          Entries(preserve::kLteNvTableSize - 2, 65000) + "65535 NV_TOP_I\n65536 NV_WIDE_I\n");
    EXPECT_FALSE(preserve::LoadProductNvTables(files, folder.path(), error));
    const std::string line = std::to_string(preserve::kLteNvTableSize);
    EXPECT_NE(error.find("lte.nvtable:" + line + ": item number 65536 is above 65535"), std::string::npos)
        << error;
}

}  // namespace
}  // namespace firmora::testing
