#include "package/options_json.h"

#include <string>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "package/config_parser.h"
#include "package/default_config.h"
#include "platform/dialogs.h"

namespace firmora::package {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

DownloadOptions EmbeddedOptions() {
    DownloadOptions options;
    platform::ScriptedDialogs dialogs;
    ParseConfigText(DefaultConfigText(), options, dialogs);
    return options;
}

TEST(OptionsJson, KeysAreTheFieldNamesWithTypedValues) {
    const nlohmann::ordered_json j = OptionsToJson(EmbeddedOptions());
    ASSERT_TRUE(j.is_object());
    EXPECT_EQ(j.begin().key(), "Caption");  // declaration order
    EXPECT_EQ(j.at("Caption"), "Firmora MDM9x15 Update Tool");
    EXPECT_EQ(j.at("ProjectIndex"), 1013);
    EXPECT_EQ(j.at("PlatformName"), 255);
    EXPECT_EQ(j.at("m_nBlockSize"), 1024);
    EXPECT_EQ(j.at("bBackup"), true);
    EXPECT_EQ(j.at("bEFS"), false);
    EXPECT_EQ(j.at("strLTEType"), "LTE");
    EXPECT_EQ(j.at("VersionVariant"), "None");
    for (const char* list : {"FastbootFileCmdList", "FastbootFileNameList", "RemoveFilesList",
                             "RemoveDirList", "CreateDirList", "AddFilesList", "UserDataFilesList",
                             "UserDataDirList", "NVItemList", "StartATList", "EndATList"}) {
        EXPECT_TRUE(j.at(list).is_array()) << list;
    }
    EXPECT_EQ(j.at("FastbootFileCmdList").size(), 12u);
    EXPECT_EQ(j.at("FastbootFileNameList").at(2), "rpm.mbn");
    EXPECT_TRUE(j.at("NVItemList").empty());
}

TEST(OptionsJson, AtCommandsKeepTheirLineEndings) {
    const nlohmann::ordered_json j = OptionsToJson(EmbeddedOptions());
    EXPECT_EQ(j.at("StartATList"), nlohmann::ordered_json::array({"AT+CFUN=5\r\n\r\n"}));
    EXPECT_EQ(j.at("EndATList").at(0).get<std::string>(), "AT+CFUN=1\r\n\r\n");
    EXPECT_THAT(j.dump(), HasSubstr(R"("StartATList":["AT+CFUN=5\r\n\r\n"])"));
    // The dump reads back to the same texts.
    EXPECT_EQ(nlohmann::ordered_json::parse(j.dump()), j);
}

TEST(OptionsText, MakesControlCharactersVisible) {
    EXPECT_EQ(EscapeVisible("AT\r\n\t\\x\x01\x7f"), "AT\\r\\n\\t\\\\x\\x01\\x7F");
    EXPECT_EQ(EscapeVisible("\xE6\x97\xA5"), "\xE6\x97\xA5");  // other bytes untouched
}

TEST(OptionsText, OneLinePerFieldAndListEntry) {
    const std::string text = OptionsToText(EmbeddedOptions());
    EXPECT_THAT(text, HasSubstr("Caption = \"Firmora MDM9x15 Update Tool\"\n"));
    EXPECT_THAT(text, HasSubstr("\nProjectIndex = 1013\n"));
    EXPECT_THAT(text, HasSubstr("\nbBackup = true\n"));
    EXPECT_THAT(text, HasSubstr("\nVersionVariant = \"None\"\n"));
    EXPECT_THAT(text, HasSubstr("\nFastbootFileCmdList[2] = \"rpm\"\n"));
    EXPECT_THAT(text, HasSubstr("\nFastbootFileNameList[11] = \"cdrom.ubi\"\n"));
    EXPECT_THAT(text, HasSubstr("\nStartATList[0] = \"AT+CFUN=5\\r\\n\\r\\n\"\n"));
    EXPECT_THAT(text, HasSubstr("\nNVItemList = (empty)\n"));
    EXPECT_THAT(text, Not(HasSubstr("\r")));
}

}  // namespace
}  // namespace firmora::package
