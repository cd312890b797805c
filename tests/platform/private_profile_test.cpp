#include "platform/private_profile.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>

#include <unistd.h>

#include "platform/std_files.h"

namespace firmora::platform {
namespace {

TEST(IniDocumentRead, MatchesNamesWithoutCaseAndTakesTheFirstSectionAndKey) {
    const IniDocument doc = IniDocument::Parse(
        "[Data]\r\n"
        "IMEI=first\r\n"
        "imei=second\r\n"
        "[  backup  ]\r\n"
        "bSN=1\r\n"
        "[DATA]\r\n"
        "IMEI=third\r\n"
        "SN=only-in-the-duplicate\r\n");
    EXPECT_EQ(doc.Get("data", "Imei"), "first");
    EXPECT_EQ(doc.Get("BACKUP", "bsn"), "1");
    EXPECT_TRUE(doc.HasSection("Backup"));
    EXPECT_FALSE(doc.HasSection("Other"));
    // Only the first [Data] counts, so the duplicate's keys are not found.
    EXPECT_EQ(doc.Get("Data", "SN"), std::nullopt);
    EXPECT_EQ(doc.GetString("Data", "SN", "none"), "none");
}

TEST(IniDocumentRead, ValueIsTrimmedTextAfterTheFirstEqualsWithOnePairOfQuotesRemoved) {
    const IniDocument doc = IniDocument::Parse(
        "[s]\n"
        "  plain \t=  a=b c \t\n"
        "double=\"quoted value \"\n"
        "single=  'x'  \n"
        "nested=\"\"inner\"\"\n"
        "mixed=\"x'\n"
        "lone=\"\n"
        "empty=\n"
        "pair=\"\"\n"
        "no key line\n"
        "; comment=not a comment to the reader\n");
    EXPECT_EQ(doc.Get("s", "plain"), "a=b c");
    EXPECT_EQ(doc.Get("s", "double"), "quoted value ");
    EXPECT_EQ(doc.Get("s", "single"), "x");
    EXPECT_EQ(doc.Get("s", "nested"), "\"inner\"");
    EXPECT_EQ(doc.Get("s", "mixed"), "\"x'");
    EXPECT_EQ(doc.Get("s", "lone"), "\"");
    EXPECT_EQ(doc.Get("s", "empty"), "");
    EXPECT_EQ(doc.Get("s", "pair"), "");
    EXPECT_EQ(doc.Get("s", "no key line"), std::nullopt);
    EXPECT_EQ(doc.Get("s", "; comment"), "not a comment to the reader");
}

TEST(IniDocumentRead, ValuesAreCappedAt2047Characters) {
    const std::string longValue(3000, 'v');
    const IniDocument doc = IniDocument::Parse("[s]\nk=" + longValue + "\nq=\"" +
                                               std::string(2047, 'q') + "\"\n");
    EXPECT_EQ(doc.Get("s", "k"), std::string(kProfileValueMax, 'v'));
    // The cap applies after the quotes are gone.
    EXPECT_EQ(doc.Get("s", "q"), std::string(2047, 'q'));
}

TEST(IniDocumentRead, HandlesBomLineEndingsAndKeysOutsideSections) {
    const IniDocument doc = IniDocument::Parse(
        "\xEF\xBB\xBF[Project]\r\nVersion=1.0\nLast=x\r");
    EXPECT_EQ(doc.Get("project", "version"), "1.0");
    EXPECT_EQ(doc.Get("project", "last"), "x\r");  // a lone CR is no line ending

    const IniDocument outside = IniDocument::Parse("early=1\n[s\nk=2\n[t]\nk=3\n");
    EXPECT_EQ(outside.Get("", "early"), std::nullopt);
    EXPECT_FALSE(outside.HasSection("s"));  // "[s" has no closing bracket
    EXPECT_EQ(outside.Get("t", "k"), "3");
}

TEST(IniDocumentRead, GetIntAcceptsOnlySignedDecimalNumbersThatFit) {
    const IniDocument doc = IniDocument::Parse(
        "[n]\n"
        "a=42\n b = -7 \nc=+5\nd=\"13\"\ne=2147483647\nf=-2147483648\n"
        "g=2147483648\nh=0x10\ni=12abc\nj=1.5\nk=\nl=-\nm= 1 2\no=+-5\np=99999999999\n");
    EXPECT_EQ(doc.GetInt("n", "a", -1), 42);
    EXPECT_EQ(doc.GetInt("n", "b", -1), -7);
    EXPECT_EQ(doc.GetInt("n", "c", -1), 5);
    EXPECT_EQ(doc.GetInt("n", "d", -1), 13);
    EXPECT_EQ(doc.GetInt("n", "e", -1), 2147483647);
    EXPECT_EQ(doc.GetInt("n", "f", -1), -2147483647 - 1);
    for (const char* key : {"g", "h", "i", "j", "k", "l", "m", "o", "p", "missing"}) {
        EXPECT_EQ(doc.GetInt("n", key, 255), 255) << key;
    }
}

TEST(IniDocumentWrite, ReplacesAKeyInItsLineAndKeepsEverythingElse) {
    IniDocument doc = IniDocument::Parse(
        "; saved parameters\r\n"
        "[Data]\r\n"
        "  Imei  = old\n"
        "unknown=keep me\r\n"
        "\r\n"
        "[data]\r\n"
        "IMEI=duplicate\r\n");
    doc.Set("DATA", "imei", "356938035643809");
    EXPECT_EQ(doc.Text(),
              "; saved parameters\r\n"
              "[Data]\r\n"
              "Imei=356938035643809\n"
              "unknown=keep me\r\n"
              "\r\n"
              "[data]\r\n"
              "IMEI=duplicate\r\n");
}

TEST(IniDocumentWrite, AppendsANewKeyAfterTheLastKeyOfItsSection) {
    IniDocument doc = IniDocument::Parse(
        "[BACKUP]\n"
        "bSN=1\n"
        "# note\n"
        "bIMEI=1\n"
        "\n"
        "\n"
        "[Data]\n"
        "SN=1\n");
    doc.Set("backup", "bMEID", "0");
    doc.Set("Empty", "first", "1");
    doc.Set("Empty", "second", "2");
    EXPECT_EQ(doc.Text(),
              "[BACKUP]\n"
              "bSN=1\n"
              "# note\n"
              "bIMEI=1\n"
              "bMEID=0\r\n"
              "\n"
              "\n"
              "[Data]\n"
              "SN=1\n"
              "[Empty]\r\n"
              "first=1\r\n"
              "second=2\r\n");
}

TEST(IniDocumentWrite, NewSectionsAndKeysStartOnTheirOwnLine) {
    IniDocument doc = IniDocument::Parse("[a]\nx=1");
    doc.Set("b", "y", "2");
    EXPECT_EQ(doc.Text(), "[a]\nx=1\r\n[b]\r\ny=2\r\n");

    IniDocument headerOnly = IniDocument::Parse("[a]");
    headerOnly.Set("A", "x", "1");
    EXPECT_EQ(headerOnly.Text(), "[a]\r\nx=1\r\n");

    IniDocument empty;
    empty.Set("BACKUP", "bSN", "1");
    EXPECT_EQ(empty.Text(), "[BACKUP]\r\nbSN=1\r\n");
}

TEST(IniDocumentWrite, ValuesReadBackAsTheReaderSeesThem) {
    IniDocument doc;
    doc.Set("Data", "SN", "  \"ABC123\"  ");
    doc.Set("Data", "CLLEN", "\"5\"\r\n\r\nOK");
    EXPECT_EQ(doc.Get("data", "sn"), "ABC123");
    // A value is written up to its first line break, so device text cannot
    // add lines (and with them keys or sections) to the file.
    doc.Set("Data", "GMI", "x\r\n[Data]\r\nIMEI=forged");
    EXPECT_EQ(doc.Text(), "[Data]\r\nSN=  \"ABC123\"  \r\nCLLEN=\"5\"\r\nGMI=x\r\n");
    EXPECT_EQ(IniDocument::Parse(doc.Text()).Get("Data", "CLLEN"), "5");
}

TEST(IniDocumentWrite, RemoveTakesOnlyTheFirstMatchingKeyLine) {
    IniDocument doc = IniDocument::Parse("[s]\r\nk=1\r\nK=2\r\n[t]\r\nk=3\r\n");
    EXPECT_TRUE(doc.Remove("S", "K"));
    EXPECT_EQ(doc.Text(), "[s]\r\nK=2\r\n[t]\r\nk=3\r\n");
    EXPECT_FALSE(doc.Remove("s", "missing"));
    EXPECT_FALSE(doc.Remove("missing", "k"));
}

// Random bytes must neither crash the reader nor be changed by it, and a key
// that was set must read back.
TEST(IniDocumentRobustness, ArbitraryBytesSurviveParsingAndWriting) {
    std::mt19937 random(20260105);
    const std::string alphabet = "[]=\"' \t\r\n;aAbB\xEF\xBB\xBF";
    for (int round = 0; round < 2000; ++round) {
        std::string text;
        const int length = static_cast<int>(random() % 120);
        for (int i = 0; i < length; ++i) {
            text += (random() % 4 == 0) ? static_cast<char>(random() % 256)
                                        : alphabet[random() % alphabet.size()];
        }
        IniDocument doc = IniDocument::Parse(text);
        ASSERT_EQ(doc.Text(), text);
        doc.Get("a", "b");
        doc.GetInt("A", "a", 0);
        doc.Set("a", "b", "value");
        ASSERT_EQ(doc.Get("A", "B"), "value") << ::testing::PrintToString(text);
        ASSERT_EQ(IniDocument::Parse(doc.Text()).Get("a", "b"), "value")
            << ::testing::PrintToString(text);
    }
}

class ProfileFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = std::filesystem::temp_directory_path() /
                  ("firmora-profile-test-" + std::to_string(::testing::UnitTest::GetInstance()
                                                                ->random_seed()) +
                   "-" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(folder_);
        std::filesystem::create_directories(folder_);
    }
    void TearDown() override { std::filesystem::remove_all(folder_); }

    std::filesystem::path folder_;
    StdFiles files_;
};

TEST_F(ProfileFileTest, OneCallFunctionsRoundTripThroughTheFile) {
    const auto file = folder_ / "at.bak";
    EXPECT_EQ(ReadProfileString(files_, file, "Data", "SN", "default"), "default");
    EXPECT_EQ(ReadProfileInt(files_, file, "BACKUP", "bSN", -1), -1);

    ASSERT_TRUE(WriteProfileString(files_, file, "BACKUP", "bSN", "1"));
    ASSERT_TRUE(WriteProfileString(files_, file, "Data", "SN", "\"A1\""));
    ASSERT_TRUE(WriteProfileString(files_, file, "backup", "BSN", "0"));
    EXPECT_EQ(ReadProfileInt(files_, file, "BACKUP", "bSN", -1), 0);
    EXPECT_EQ(ReadProfileString(files_, file, "data", "sn", ""), "A1");

    std::ifstream in(file, std::ios::binary);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "[BACKUP]\r\nbSN=0\r\n[Data]\r\nSN=\"A1\"\r\n");
    EXPECT_EQ(IniDocument::Load(files_, file).Text(), text);
}

TEST_F(ProfileFileTest, AFileThatCannotBeReadIsNotReplaced) {
    if (::geteuid() == 0) GTEST_SKIP() << "permission bits do not stop root";
    const auto file = folder_ / "settings.ini";
    std::ofstream(file) << "[s]\nother=keep\n";
    std::filesystem::permissions(file, std::filesystem::perms::none);
    EXPECT_FALSE(WriteProfileString(files_, file, "s", "k", "v"));
    std::filesystem::permissions(file, std::filesystem::perms::owner_read);
    EXPECT_EQ(ReadProfileString(files_, file, "s", "other", ""), "keep");
}

}  // namespace
}  // namespace firmora::platform
