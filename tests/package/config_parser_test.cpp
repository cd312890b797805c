#include "package/config_parser.h"

#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <string_view>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "package/default_config.h"
#include "package/options_json.h"
#include "platform/std_files.h"

namespace firmora::package {
namespace {

using platform::DialogAnswer;
using platform::DialogButtons;
using platform::DialogIcon;
using platform::ScriptedDialogs;
using ::testing::ElementsAre;
using ::testing::HasSubstr;
using ::testing::IsEmpty;

std::string Ini(std::initializer_list<std::string_view> lines) {
    std::string text;
    for (std::string_view line : lines) {
        text += line;
        text += "\r\n";
    }
    return text;
}

// One parse into a record that may be prepared beforehand.
struct Parse {
    DownloadOptions options;
    ScriptedDialogs dialogs;
    ConfigParseResult result;

    Parse& Run(const std::string& text) {
        result = ParseConfigText(text, options, dialogs);
        return *this;
    }
    std::vector<std::string> Messages() const {
        std::vector<std::string> texts;
        for (const auto& shown : dialogs.shown()) texts.push_back(shown.text);
        return texts;
    }
};

Parse Parsed(const std::string& text) {
    Parse parse;
    parse.Run(text);
    return parse;
}

std::filesystem::path TempFile(const std::string& name) {
    return std::filesystem::temp_directory_path() /
           ("firmora-config-test-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
            "-" + name);
}

// ---------------------------------------------------------------------------
// The configuration the tool carries.

TEST(EmbeddedConfig, ParsesIntoTheGenericPackage) {
    const Parse p = Parsed(std::string(DefaultConfigText()));
    const DownloadOptions& o = p.options;

    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_THAT(p.Messages(), IsEmpty());
    EXPECT_EQ(o.Caption, "Firmora MDM9x15 Update Tool");
    EXPECT_EQ(o.Version, "v2.0.2");
    EXPECT_EQ(o.ProjectIndex, 1013);
    EXPECT_EQ(o.PlatformName, 255);
    EXPECT_EQ(o.strLTEType, "LTE");
    EXPECT_EQ(o.MatchVersion, "");  // no device check asks for it
    EXPECT_TRUE(o.bBackup);
    EXPECT_TRUE(o.bRestore);
    EXPECT_FALSE(o.bEFS);
    EXPECT_FALSE(o.bSwitchFastbootMode);
    EXPECT_TRUE(o.bFastbootConfiguration);
    EXPECT_THAT(o.FastbootFileCmdList,
                ElementsAre("sbl", "tz", "rpm", "aboot", "system", "system", "modem", "modem",
                            "boot", "efs2", "cdrom", "cdrom"));
    EXPECT_THAT(o.FastbootFileNameList,
                ElementsAre("sbl1.mbn", "tz.mbn", "rpm.mbn", "appsboot.mbn", "erase",
                            "mdm9607sysfs.ubi", "erase", "NONHLOS.ubi", "boot9607.img", "efs.mbn",
                            "erase", "cdrom.ubi"));
    EXPECT_THAT(o.StartATList, ElementsAre("AT+CFUN=5\r\n\r\n"));
    EXPECT_THAT(o.EndATList, ElementsAre("AT+CFUN=1\r\n\r\n"));
    EXPECT_THAT(o.NVItemList, IsEmpty());
}

TEST(EmbeddedConfig, IsAWindowsIniFileWithTheCaptionFirst) {
    const std::string_view text = DefaultConfigText();
    ASSERT_TRUE(text.starts_with("[Project]\r\nCaption = "));
    ASSERT_TRUE(text.ends_with("\r\n"));
    for (size_t at = text.find('\n'); at != std::string_view::npos; at = text.find('\n', at + 1)) {
        ASSERT_GT(at, 0u);
        EXPECT_EQ(text[at - 1], '\r') << "line ending at offset " << at;
    }
    // Keys for the helper programs stay in the file as shipped.
    EXPECT_NE(text.find("SCSIDEVICE=USBSTOR\\CdRomUSBModemDisk____________2.31\r\n"),
              std::string_view::npos);
}

TEST(EmbeddedConfig, ParsingItTwiceGivesTheSameRecord) {
    // The matching step parses a second file into the window's record; the
    // plan and the AT sets must be replaced, not appended to.
    Parse p = Parsed(std::string(DefaultConfigText()));
    p.Run(std::string(DefaultConfigText()));
    EXPECT_EQ(p.options.FastbootFileCmdList.size(), 12u);
    EXPECT_EQ(p.options.FastbootFileNameList.size(), 12u);
    EXPECT_THAT(p.options.StartATList, ElementsAre("AT+CFUN=5\r\n\r\n"));
    EXPECT_THAT(p.options.EndATList, ElementsAre("AT+CFUN=1\r\n\r\n"));
}

// ---------------------------------------------------------------------------
// Defaults.

void ExpectDefaults(const DownloadOptions& o) {
    EXPECT_EQ(o.Caption, "Firmora_***");
    EXPECT_EQ(o.ProjectIndex, -1);
    EXPECT_EQ(o.PlatformName, 255);
    EXPECT_EQ(o.Packet, 1);
    EXPECT_EQ(o.m_nBlockSize, 1024);
    EXPECT_EQ(o.Name, "UNKNOWN");
    // Every field, selections and lists included, as a fresh record has it.
    EXPECT_EQ(OptionsToJson(o), OptionsToJson(DownloadOptions{}));
}

TEST(ConfigDefaults, EmptyTextGivesEveryDefault) {
    const Parse p = Parsed("");
    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_THAT(p.Messages(), IsEmpty());
    ExpectDefaults(p.options);
}

TEST(ConfigDefaults, MissingFileIsNoErrorAndGivesEveryDefault) {
    DownloadOptions options;
    ScriptedDialogs dialogs;
    platform::StdFiles files;
    const ConfigParseResult result = ParseConfig(files, TempFile("does-not-exist.ini"), options, dialogs);
    EXPECT_FALSE(result.stoppedOnError);
    EXPECT_THAT(dialogs.shown(), IsEmpty());
    ExpectDefaults(options);
}

TEST(ConfigDefaults, FileIsReadLikeItsText) {
    const std::filesystem::path path = TempFile("Config.ini");
    {
        std::ofstream file(path, std::ios::binary);
        file << DefaultConfigText();
    }
    DownloadOptions fromFile;
    ScriptedDialogs dialogs;
    platform::StdFiles files;
    ParseConfig(files, path, fromFile, dialogs);
    std::filesystem::remove(path);
    EXPECT_EQ(OptionsToJson(fromFile), OptionsToJson(Parsed(std::string(DefaultConfigText())).options));
}

// A file no Config.ini can be (a device, a huge file) is refused unread,
// with the reason, and nothing stays selected for download.
TEST(ConfigDefaults, AFileThatCannotBeAConfigurationStopsTheParse) {
    const std::filesystem::path path = TempFile("Huge.ini");
    {
        std::ofstream file(path, std::ios::binary);
        file << DefaultConfigText() << std::string(kConfigFileMaxBytes, ';');
    }
    platform::StdFiles files;
    for (const std::filesystem::path& refused : {path, std::filesystem::temp_directory_path()}) {
        DownloadOptions options;
        options.bEFS = true;
        ScriptedDialogs dialogs;
        const ConfigParseResult result = ParseConfig(files, refused, options, dialogs);
        EXPECT_TRUE(result.stoppedOnError) << refused;
        EXPECT_FALSE(options.bEFS);
        EXPECT_THAT(result.errorText, HasSubstr(refused.string()));
    }
    std::filesystem::remove(path);
}

// ---------------------------------------------------------------------------
// Configuration errors: the message, the cleared selections, the unread rest.

struct ErrorCase {
    const char* name;
    std::string text;
    std::string message;
    DialogButtons buttons = DialogButtons::Ok;
    DialogIcon icon = DialogIcon::None;
    bool clearsSelections = true;
    bool readsEndAt = false;  // the error comes from the last list itself
};

void PrintTo(const ErrorCase& c, std::ostream* os) { *os << c.name; }

class ConfigError : public ::testing::TestWithParam<ErrorCase> {};

TEST_P(ConfigError, ShowsItsMessageAndEndsTheParse) {
    const ErrorCase& c = GetParam();
    Parse p;
    // Selections as they stood before, and a later list the parse must not reach.
    p.options.bEFS = true;
    p.options.bAMSSFile = true;
    p.options.bPCSuite = true;
    p.options.bCfgdata = true;
    p.options.bSimLockOn = true;
    p.options.bFastbootBootImage = true;
    p.options.bFastbootSystemImageMutil = true;
    p.options.EndATList = {"untouched"};
    p.Run(c.text);

    ASSERT_EQ(p.dialogs.shown().size(), 1u);
    const auto& shown = p.dialogs.shown().front();
    EXPECT_EQ(shown.caption, "Warning");
    EXPECT_EQ(shown.text, c.message);
    EXPECT_EQ(shown.buttons, c.buttons);
    EXPECT_EQ(shown.icon, c.icon);
    EXPECT_TRUE(p.result.stoppedOnError);
    EXPECT_EQ(p.result.errorText, c.message);

    const DownloadOptions& o = p.options;
    const bool stillOn = !c.clearsSelections;
    EXPECT_EQ(o.bEFS, stillOn);
    EXPECT_EQ(o.bAMSSFile, stillOn);
    EXPECT_EQ(o.bPCSuite, stillOn);
    EXPECT_EQ(o.bCfgdata, stillOn);
    EXPECT_EQ(o.bSimLockOn, stillOn);
    EXPECT_EQ(o.bFastbootBootImage, stillOn);
    EXPECT_EQ(o.bFastbootSystemImageMutil, stillOn);
    if (!c.readsEndAt) {
        EXPECT_THAT(o.EndATList, ElementsAre("untouched"));
    }
}

INSTANTIATE_TEST_SUITE_P(
    EveryMessage, ConfigError,
    ::testing::Values(
        ErrorCase{"Platform", Ini({"[Project]", "Platform = 1234", "[End_AT]", "AT1 = AT"}),
                  "Config was wrong.Not support platform configuration."},
        ErrorCase{"TerminalType",
                  Ini({"[MemoryType]", "bCheckDataCardMemory = 1", "bCheckRouterMemory = 1",
                       "RAMSize = 64"}),
                  "Unknow the terminal type."},
        ErrorCase{"MemoryType", Ini({"[MemoryType]", "bCheckRouterMemory = 1", "RAMSize = ",
                                     "SupportFlashID = 2C"}),
                  "Memory type configuration was wrong."},
        ErrorCase{"SoftwareVersion", Ini({"[Project]", "Project = RE78_51"}),
                  "Could not find software version", DialogButtons::Ok, DialogIcon::None,
                  /*clearsSelections=*/false},
        ErrorCase{"FastbootPlan",
                  Ini({"[DownloadItems]", "bFastbootConfiguration = 1", "bEFS = 1",
                       "[FastbootDownloadFiles]", "DL0 = sbl | sbl1.mbn", "DL1 = tz tz.mbn"}),
                  "Fastboot configration is incorrect!"},
        ErrorCase{"UserData", Ini({"[DownloadItems]", "bBackupUserData = 1", "[UserDataFiles]",
                                   "UF1 = /data/skipped"}),
                  "User data file not found.", DialogButtons::OkCancel},
        ErrorCase{"PhonePcSuite", Ini({"[Project]", "Project = ZP730", "[DownloadItems]",
                                       "bCDROM = 1"}),
                  "Config was wrong.Phone type can't download PCSuite."},
        ErrorCase{"BackupWithoutRestore", Ini({"[DownloadItems]", "bBackup = 1"}),
                  "Config was wrong.\nBackup and restore must be selected at same time."},
        ErrorCase{"EfsAndPartOfEfs", Ini({"[DownloadItems]", "bEFS = 1", "bPartOfEFS = 1"}),
                  "Config was wrong.\nEFS and part of EFS can't be selected at same time."},
        ErrorCase{"SimLock", Ini({"[SIMLOCK]", "bSimLock = 12"}), "SIMLOCKList is empty!",
                  DialogButtons::Ok, DialogIcon::Warning},
        ErrorCase{"DefaultNv", Ini({"[NV_Default]", "NV1 = 10:1", "NV2 = 453"}),
                  "Default NV configration is incorrect!"},
        ErrorCase{"CustomNv", Ini({"[NV_Default]", "NV1 = 10:1", "[NV_Custom]", "NV1 = 453 0"}),
                  "Custom NV configration is incorrect!"},
        ErrorCase{"StartAt", Ini({"[Start_AT]", "AT1 = at+cfun=1"}),
                  "Start AT command configration is incorrect!"},
        ErrorCase{"EndAt", Ini({"[End_AT]", "AT1 = AT+CFUN=1", "AT2 = reboot"}),
                  "End AT command configration is incorrect!", DialogButtons::Ok,
                  DialogIcon::None, true, /*readsEndAt=*/true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ConfigErrors, PlatformErrorLeavesEveryLaterKeyAsItWas) {
    Parse p;
    p.options.Language = 1;
    p.options.Name = "before";
    p.options.m_nBlockSize = 4096;
    p.options.bRpmBootloader = true;  // not one of the selections an error clears
    p.Run(Ini({"[Project]", "Caption = Read first", "Project = ZP200", "Platform = 1234",
               "Name = after", "Language = English", "[General Option]", "BlockSize = 512",
               "[DownloadItems]", "bRpmBootloader = 0", "[Start_AT]", "AT1 = AT+CFUN=5"}));
    const DownloadOptions& o = p.options;
    EXPECT_EQ(o.Caption, "Read first");
    EXPECT_EQ(o.ProjectIndex, 6);
    EXPECT_EQ(o.Language, 1);
    EXPECT_EQ(o.Name, "before");
    EXPECT_EQ(o.m_nBlockSize, 4096);
    EXPECT_TRUE(o.bRpmBootloader);
    EXPECT_THAT(o.StartATList, IsEmpty());
}

TEST(ConfigErrors, FailedPlanSwitchesTheFastbootConfigurationOff) {
    const Parse p = Parsed(Ini({"[DownloadItems]", "bFastbootConfiguration = 1",
                                "[FastbootDownloadFiles]", "DL0 = sbl"}));
    EXPECT_TRUE(p.result.stoppedOnError);
    EXPECT_FALSE(p.options.bFastbootConfiguration);
}

TEST(ConfigErrors, CancelOnTheUserDataMessageChangesNothing) {
    Parse p;
    p.dialogs.QueueAnswer(DialogAnswer::Cancel);
    p.options.EndATList = {"untouched"};
    p.Run(Ini({"[DownloadItems]", "bBackupUserData = 1", "bBackup = 1", "bRestore = 1"}));
    EXPECT_TRUE(p.result.stoppedOnError);
    EXPECT_FALSE(p.options.bBackup);  // step not reached
    EXPECT_THAT(p.options.EndATList, ElementsAre("untouched"));
}

TEST(ClearDownloadItems, SwitchesOffExactlyTheImageSelectionsAndTheLock) {
    DownloadOptions o;
    // Turn every flag on through the record itself.
    for (bool* flag :
         {&o.bPhoneType, &o.bCheckMainboardType, &o.bCheckProjectCode, &o.ExecuteRebootle,
          &o.IsVendrix, &o.RTRECFG, &o.bCheckDataCardMemory, &o.bCheckRouterMemory,
          &o.bFastSpeedDownload, &o.UIT_NewWays, &o.ESN, &o.bBootloader, &o.bdbl, &o.bfsbl,
          &o.bosbl, &o.bRpmBootloader, &o.bEnprg9x15, &o.bAppsBootloader,
          &o.bAppsImageAndBootloader, &o.bAMSSFile, &o.bDSP, &o.bCfgdata, &o.bPhoneImage, &o.bEFS,
          &o.bRawAppsEFS, &o.bPartOfEFS, &o.bCDROM, &o.bDISK, &o.bResImage, &o.bPCSuite,
          &o.bFastbootConfiguration, &o.bFastbootPrimary_gpt, &o.bFastbootSecondary_gpt,
          &o.bFastbootzImage, &o.bFastbootRamdisk, &o.bFastbootBootImage,
          &o.bFastbootRamdisk_recoveryImage, &o.bFastbootzImage_recoveryImage,
          &o.bFastbootUserdataImage, &o.bFastbootSystemImageMutil, &o.bFastbootSystemImage,
          &o.bSwitchFastbootMode, &o.bBackup, &o.bRestore, &o.bBackupUserData, &o.bSimLockOn}) {
        *flag = true;
    }
    const nlohmann::ordered_json allOn = OptionsToJson(o);
    for (const auto& [key, value] : allOn.items()) {
        if (value.is_boolean()) {
            ASSERT_TRUE(value.get<bool>()) << key << " was not switched on";
        }
    }

    ClearDownloadItems(o);
    const nlohmann::ordered_json after = OptionsToJson(o);
    std::vector<std::string> switchedOff;
    for (const auto& [key, value] : after.items()) {
        if (value.is_boolean() && !value.get<bool>()) switchedOff.push_back(key);
    }
    EXPECT_THAT(switchedOff,
                ::testing::UnorderedElementsAre(
                    "bEFS", "bRawAppsEFS", "bPartOfEFS", "bAMSSFile", "bAppsBootloader",
                    "bAppsImageAndBootloader", "bPCSuite", "bCfgdata", "bSimLockOn",
                    "bFastbootPrimary_gpt", "bFastbootSecondary_gpt", "bFastbootzImage",
                    "bFastbootRamdisk", "bFastbootSystemImage", "bFastbootBootImage",
                    "bFastbootRamdisk_recoveryImage", "bFastbootzImage_recoveryImage",
                    "bFastbootUserdataImage", "bFastbootSystemImageMutil"));
}

// ---------------------------------------------------------------------------
// [Project]

TEST(ConfigProject, PlatformCodes) {
    const std::pair<std::string, int> cases[] = {
        {"UNKNOWN", 255}, {"MSM6290", 29},       {"8200A", 8},   {"MDM9200", 0},
        {"QSC6085", 119}, {"MSM6246_6290", 33},  // the first code in the fixed order wins
        {"MSM6260", 186}, {"MSM6270", 19},       {"MSM7225", 13},
    };
    for (const auto& [platform, code] : cases) {
        const Parse p = Parsed(Ini({"[Project]", "Platform = " + platform}));
        EXPECT_FALSE(p.result.stoppedOnError) << platform;
        EXPECT_EQ(p.options.PlatformName, code) << platform;
    }
    EXPECT_EQ(Parsed(Ini({"[Project]", "Platform = 8200A"})).options.PlatformName, 8);

    Parse p;
    p.options.PlatformName = 8;
    p.options.bEFS = true;
    p.Run(Ini({"[Project]", "Platform = 1234"}));
    EXPECT_TRUE(p.result.stoppedOnError);
    EXPECT_EQ(p.options.PlatformName, 8);
    EXPECT_FALSE(p.options.bEFS);
}

TEST(ConfigProject, ProjectCodeGivesIndexAndPhoneType) {
    EXPECT_EQ(Parsed(Ini({"[Project]", "Project = ZP200_EA"})).options.ProjectIndex, 42);
    EXPECT_EQ(Parsed(Ini({"[Project]", "Project = zp200_ea"})).options.ProjectIndex, -1);
    EXPECT_EQ(Parsed(Ini({"[Project]", "Project = NOPE"})).options.ProjectIndex, -1);
    EXPECT_TRUE(Parsed(Ini({"[Project]", "Project = ZP800"})).options.bPhoneType);
    EXPECT_FALSE(Parsed(Ini({"[Project]", "Project = ZP200"})).options.bPhoneType);
}

TEST(ConfigProject, LanguageKeepsItsValueUnlessNamed) {
    Parse p;
    p.options.Language = 1;
    p.Run(Ini({"[Project]", "Language = Chinese"}));
    EXPECT_EQ(p.options.Language, 1);
    p.Run(Ini({"[Project]", "Language = UK English"}));
    EXPECT_EQ(p.options.Language, 0);
    p.Run(Ini({"[Project]", "Language = Japanese"}));
    EXPECT_EQ(p.options.Language, 1);
    p.Run("");
    EXPECT_EQ(p.options.Language, 1);
}

TEST(ConfigProject, TypeMatchesExactly) {
    const std::pair<const char*, int> cases[] = {
        {"LTE", 3}, {"EVDO", 2}, {"CDMA2000", 1}, {"lte", 0}, {"LTE-A", 0}, {"", 0}};
    for (const auto& [type, code] : cases) {
        Parse p;
        p.options.PlatformType = 2;
        p.Run(Ini({"[Project]", std::string("Type = ") + type}));
        EXPECT_EQ(p.options.PlatformType, code) << type;
    }
}

TEST(ConfigProject, OneFlagsAndNonZeroFlags) {
    const Parse p = Parsed(Ini({"[Project]", "bCheckProjectCode = 2", "ExecuteRebootle = 1",
                                "RTRECFG = 7", "Version = A.B", "[General Option]",
                                "bFastSpeedDownload = -1", "[DownloadItems]", "bRawAppsEFS = 3",
                                "bBootloader = 1", "bfsbl = 0"}));
    EXPECT_FALSE(p.options.bCheckProjectCode);  // only 1 sets the device checks
    EXPECT_TRUE(p.options.ExecuteRebootle);
    EXPECT_TRUE(p.options.RTRECFG);
    EXPECT_TRUE(p.options.bFastSpeedDownload);
    EXPECT_TRUE(p.options.bRawAppsEFS);
    EXPECT_TRUE(p.options.bdbl);  // boot-loader stages default on
    EXPECT_FALSE(p.options.bfsbl);
    EXPECT_TRUE(p.options.bosbl);
}

TEST(ConfigProject, MemoryCheckReadsItsSizes) {
    const Parse p = Parsed(Ini({"[MemoryType]", "bCheckDataCardMemory = 1", "FlashSize = 128",
                                "SupportFlashID = 2C,EC"}));
    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_EQ(p.options.RAMSize, "");
    EXPECT_EQ(p.options.MemFlashSize, "128");
    EXPECT_EQ(p.options.SupportFlashID, "2C,EC");

    // Without a memory check the sizes are not read.
    Parse q;
    q.options.SupportFlashID = "before";
    q.Run(Ini({"[MemoryType]", "FlashSize = 128", "SupportFlashID = 2C"}));
    EXPECT_EQ(q.options.MemFlashSize, "");
    EXPECT_EQ(q.options.SupportFlashID, "before");
}

TEST(ConfigProject, IsVendrixOnlyForItsProject) {
    EXPECT_TRUE(Parsed(Ini({"[Project]", "Project = DE78_11", "IsVendrix = 1"})).options.IsVendrix);
    Parse p;
    p.options.IsVendrix = true;
    p.Run(Ini({"[Project]", "Project = ZP200_Italy", "IsVendrix = 1"}));
    EXPECT_FALSE(p.options.IsVendrix);
}

// ---------------------------------------------------------------------------
// MatchVersion and VersionVariant.

TEST(MatchVersion, ReadForDeviceChecksAndTheNamedProjects) {
    for (const char* project : {"RA66_51", "RE78_51", "ZP200", "ZO71_11", "ZI71_15",
                                "ZQ65_Custom", "ZP200_EA"}) {
        const Parse p = Parsed(Ini({"[Project]", std::string("Project = ") + project,
                                    "Version = BD_V1.0"}));
        EXPECT_EQ(p.options.MatchVersion, "BD_V1.0") << project;
    }
    EXPECT_EQ(Parsed(Ini({"[Project]", "bCheckProjectCode = 1", "Version = X.1"})).options.MatchVersion,
              "X.1");

    Parse p;
    p.options.MatchVersion = "before";
    p.Run(Ini({"[Project]", "Project = MDM9x15", "Version = v2"}));
    EXPECT_EQ(p.options.MatchVersion, "before");  // not read: nothing compares it
    EXPECT_EQ(p.options.Version, "v2");
}

TEST(MatchVersion, MissingVersionStopsOnlyWhereItIsRequired) {
    // Read but not required.
    for (const std::string& line : {std::string("Project = ZO71_11"), std::string("Project = ZP200_EA"),
                                    std::string("bCheckProjectCode = 1")}) {
        const Parse p = Parsed(Ini({"[Project]", line}));
        EXPECT_FALSE(p.result.stoppedOnError) << line;
    }
    // Required.
    for (const std::string& line :
         {std::string("Project = RA66_51"), std::string("Project = ZP200"),
          std::string("Project = ZQ65_Custom"), std::string("bCheckMainboardType = 1")}) {
        const Parse p = Parsed(Ini({"[Project]", line, "[DownloadItems]", "bBackup = 1",
                                    "bRestore = 1"}));
        EXPECT_EQ(p.result.errorText, "Could not find software version") << line;
        EXPECT_FALSE(p.options.bBackup) << line;  // later steps not read
    }
}

TEST(VersionVariant, FromTheVersionOfRE78_51) {
    const std::pair<const char*, VersionVariantKind> cases[] = {
        {"RE78.VQA0018.B01", VersionVariantKind::A},
        {"RE78.VQAAX02.B01", VersionVariantKind::B},
        {"RE78.VQAII02.B01", VersionVariantKind::C},
        {"VQAII02-VQA0018", VersionVariantKind::A},  // tested in the fixed order
        {"RE78.VQA0019.B01", VersionVariantKind::None},
    };
    for (const auto& [version, variant] : cases) {
        Parse p;
        p.options.VersionVariant = VersionVariantKind::B;
        p.Run(Ini({"[Project]", "Project = RE78_51", std::string("Version = ") + version}));
        EXPECT_EQ(p.options.VersionVariant, variant) << version;
    }

    Parse other;
    other.options.VersionVariant = VersionVariantKind::A;
    other.Run(Ini({"[Project]", "Project = RA66_51", "Version = VQA0018"}));
    EXPECT_EQ(other.options.VersionVariant, VersionVariantKind::None);
}

// ---------------------------------------------------------------------------
// [DownloadItems] and the plan.

TEST(FastbootPlan, EndsAtTheFirstMissingKey) {
    const Parse p = Parsed(Ini({"[DownloadItems]", "bFastbootConfiguration = 1",
                                "[FastbootDownloadFiles]", "DL0 = sbl | sbl1.mbn",
                                "DL1 = tz | tz.mbn", "DL2 = rpm| rpm.mbn", "DL4 = boot | boot.img"}));
    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_TRUE(p.options.bFastbootConfiguration);
    EXPECT_THAT(p.options.FastbootFileCmdList, ElementsAre("sbl", "tz", "rpm"));
    EXPECT_THAT(p.options.FastbootFileNameList, ElementsAre("sbl1.mbn", "tz.mbn", "rpm.mbn"));
}

TEST(FastbootPlan, HoldsFifteenEntriesAtMost) {
    std::string text = Ini({"[DownloadItems]", "bFastbootConfiguration = 1", "[FastbootDownloadFiles]"});
    for (int i = 0; i <= 14; ++i) text += Ini({"DL" + std::to_string(i) + " = p" + std::to_string(i) + " | f"});
    text += Ini({"DL15 = no bar here"});  // never read, so no error either
    const Parse p = Parsed(text);
    EXPECT_FALSE(p.result.stoppedOnError);
    ASSERT_EQ(p.options.FastbootFileCmdList.size(), 15u);
    EXPECT_EQ(p.options.FastbootFileCmdList.back(), "p14");
}

TEST(FastbootPlan, SplitsAtTheFirstBarAndTrimsBothSides) {
    const Parse p = Parsed(Ini({"[DownloadItems]", "bFastbootConfiguration = 1",
                                "[FastbootDownloadFiles]", "DL0 =  system\t|  a|b.ubi ",
                                "DL1 = empty file |"}));
    EXPECT_THAT(p.options.FastbootFileCmdList, ElementsAre("system", "empty file"));
    EXPECT_THAT(p.options.FastbootFileNameList, ElementsAre("a|b.ubi", ""));
}

TEST(FastbootPlan, NotReadWithoutTheConfigurationFlag) {
    Parse p;
    p.options.FastbootFileCmdList = {"kept"};
    p.Run(Ini({"[FastbootDownloadFiles]", "DL0 = broken"}));
    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_FALSE(p.options.bFastbootConfiguration);
    EXPECT_THAT(p.options.FastbootFileCmdList, ElementsAre("kept"));
}

TEST(FastbootItems, SystemImagePathReadOnlyWithItsFlag) {
    const Parse on = Parsed(Ini({"[DownloadItems]", "bFastbootSystemImage = 1",
                                 "FastBootSystemImageFilePath = /srv/images"}));
    EXPECT_EQ(on.options.FastBootSystemImageFilePath, "/srv/images");
    const Parse off = Parsed(Ini({"[DownloadItems]", "FastBootSystemImageFilePath = /srv/images"}));
    EXPECT_EQ(off.options.FastBootSystemImageFilePath, "");
}

TEST(PcSuite, OneImageAtMostInTheFixedOrder) {
    struct Case {
        std::initializer_list<std::string_view> keys;
        bool disk, cdrom, res;
    };
    const Case cases[] = {
        {{"bDISK = 1", "bCDROM = 1", "bResImage = 1"}, true, false, false},
        {{"bCDROM = 1", "bResImage = 1"}, false, true, false},
        {{"bResImage = 1"}, false, false, true},
    };
    for (const Case& c : cases) {
        std::string text = Ini({"[DownloadItems]"});
        for (std::string_view key : c.keys) text += Ini({key});
        const Parse p = Parsed(text);
        EXPECT_FALSE(p.result.stoppedOnError);
        EXPECT_EQ(p.options.bDISK, c.disk);
        EXPECT_EQ(p.options.bCDROM, c.cdrom);
        EXPECT_EQ(p.options.bResImage, c.res);
        EXPECT_TRUE(p.options.bPCSuite);
    }
    EXPECT_FALSE(Parsed(Ini({"[DownloadItems]", "bDSP = 1"})).options.bPCSuite);
}

TEST(PcSuite, PhoneTypeProjectsCannotTakeIt) {
    for (const char* project : {"ZP730", "ZP800", "ZP700"}) {
        for (const char* item : {"bDISK = 1", "bCDROM = 1", "bResImage = 1"}) {
            const Parse p =
                Parsed(Ini({"[Project]", std::string("Project = ") + project, "[DownloadItems]", item}));
            EXPECT_EQ(p.result.errorText, "Config was wrong.Phone type can't download PCSuite.")
                << project << ' ' << item;
            EXPECT_FALSE(p.options.bPCSuite);
        }
    }
}

TEST(BackupRestore, MustBeSelectedTogether) {
    EXPECT_FALSE(Parsed(Ini({"[DownloadItems]", "bBackup = 0", "bRestore = 0"})).result.stoppedOnError);
    EXPECT_FALSE(Parsed(Ini({"[DownloadItems]", "bBackup = 1", "bRestore = 2"})).result.stoppedOnError);
    EXPECT_TRUE(Parsed(Ini({"[DownloadItems]", "bRestore = 1"})).result.stoppedOnError);
    EXPECT_TRUE(Parsed(Ini({"[DownloadItems]", "bBackup = 1"})).result.stoppedOnError);
}

TEST(PartOfEfs, ListsStopAtTheFirstGapAndHoldAHundred) {
    std::string text = Ini({"[DownloadItems]", "bPartOfEFS = 1", "[RemoveFiles]", "RF0 = /a",
                            "RF1 = /b", "RF3 = /d", "[RemoveDir]", "RD0 =", "RD1 = /x",
                            "[CreateDir]", "CD0 = /new", "[AddFiles]"});
    for (int i = 0; i <= 100; ++i) text += Ini({"AF" + std::to_string(i) + " = f" + std::to_string(i)});
    const Parse p = Parsed(text);
    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_THAT(p.options.RemoveFilesList, ElementsAre("/a", "/b"));
    EXPECT_THAT(p.options.RemoveDirList, IsEmpty());
    EXPECT_THAT(p.options.CreateDirList, ElementsAre("/new"));
    ASSERT_EQ(p.options.AddFilesList.size(), 100u);
    EXPECT_EQ(p.options.AddFilesList.back(), "f99");

    const Parse off = Parsed(Ini({"[RemoveFiles]", "RF0 = /a"}));
    EXPECT_THAT(off.options.RemoveFilesList, IsEmpty());
}

TEST(UserData, EitherListIsEnough) {
    const Parse files = Parsed(Ini({"[DownloadItems]", "bBackupUserData = 1", "[UserDataFiles]",
                                    "UF0 = /data/a", "UF1 = /data/b", "UF2 =", "UF3 = /data/d"}));
    EXPECT_FALSE(files.result.stoppedOnError);
    EXPECT_THAT(files.options.UserDataFilesList, ElementsAre("/data/a", "/data/b"));

    const Parse dirs = Parsed(Ini({"[DownloadItems]", "bBackupUserData = 1", "[UserDataDir]",
                                   "UD0 = /data"}));
    EXPECT_FALSE(dirs.result.stoppedOnError);
    EXPECT_THAT(dirs.options.UserDataDirList, ElementsAre("/data"));
}

TEST(UserData, HoldsAThousandEntriesAtMost) {
    std::string text = Ini({"[DownloadItems]", "bBackupUserData = 1", "[UserDataFiles]"});
    for (int i = 0; i <= 1000; ++i) text += Ini({"UF" + std::to_string(i) + " = u" + std::to_string(i)});
    const Parse p = Parsed(text);
    ASSERT_EQ(p.options.UserDataFilesList.size(), 1000u);
    EXPECT_EQ(p.options.UserDataFilesList.back(), "u999");
}

// ---------------------------------------------------------------------------
// [SIMLOCK]

TEST(SimLock, ValuesAndModes) {
    Parse p;
    p.options.SimLockMode = 1;
    p.Run(Ini({"[SIMLOCK]", "bSimLock = 0"}));
    EXPECT_TRUE(p.options.bSimLockOn);
    EXPECT_EQ(p.options.SimLockMode, 0);
    EXPECT_EQ(p.options.SimLockValue, "0");

    p.Run(Ini({"[SIMLOCK]", "bSimLock = 1,46000"}));
    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_TRUE(p.options.bSimLockOn);
    EXPECT_EQ(p.options.SimLockMode, 1);
    EXPECT_EQ(p.options.SimLockValue, "1,46000");

    p.Run(Ini({"[SIMLOCK]", "bSimLock = 1ab"}));  // three characters are enough
    EXPECT_FALSE(p.result.stoppedOnError);

    // Another first character switches the lock on and leaves the mode.
    p.Run(Ini({"[SIMLOCK]", "bSimLock = 2,46001"}));
    EXPECT_TRUE(p.options.bSimLockOn);
    EXPECT_EQ(p.options.SimLockMode, 1);
    EXPECT_EQ(p.options.SimLockValue, "2,46001");

    p.Run(Ini({"[SIMLOCK]", "bSimLock ="}));
    EXPECT_FALSE(p.options.bSimLockOn);
}

TEST(SimLock, ShortModeOneValueStopsWithTheLockOff) {
    Parse p;
    p.options.NVItemList = {"KEPT:1"};
    p.Run(Ini({"[SIMLOCK]", "bSimLock = 12", "[NV_Default]", "NV1 = 1:2"}));
    EXPECT_EQ(p.result.errorText, "SIMLOCKList is empty!");
    EXPECT_FALSE(p.options.bSimLockOn);
    EXPECT_EQ(p.options.SimLockMode, 1);
    EXPECT_THAT(p.options.NVItemList, ElementsAre("KEPT:1"));  // not reached
}

// ---------------------------------------------------------------------------
// NV items and AT sets.

TEST(NvItems, DefaultThenCustomUpperCased) {
    Parse p;
    p.options.NVItemList = {"OLD:1"};
    p.Run(Ini({"[NV_Default]", "NV1 = 453:0x1a", "NV2 = 10:ab", "NV3 =", "NV4 = 99:9",
               "[NV_Custom]", "NV1 = 6828:on"}));
    EXPECT_FALSE(p.result.stoppedOnError);
    EXPECT_THAT(p.options.NVItemList, ElementsAre("453:0X1A", "10:AB", "6828:ON"));
}

TEST(NvItems, EntryWithoutColonStops) {
    const Parse p = Parsed(Ini({"[NV_Default]", "NV1 = 453:1", "NV2 = 10=5", "[Start_AT]",
                                "AT1 = AT+CFUN=5"}));
    EXPECT_EQ(p.result.errorText, "Default NV configration is incorrect!");
    EXPECT_THAT(p.options.NVItemList, ElementsAre("453:1"));
    EXPECT_THAT(p.options.StartATList, IsEmpty());
}

TEST(AtSets, CommandsNeedUpperCaseAt) {
    const Parse sleep = Parsed(Ini({"[Start_AT]", "AT1 = AT%SLEEP=2000", "AT2 = AT+DISK=8,\"D1\"",
                                    "AT4 = AT+SKIPPED"}));
    EXPECT_FALSE(sleep.result.stoppedOnError);
    EXPECT_THAT(sleep.options.StartATList,
                ElementsAre("AT%SLEEP=2000\r\n\r\n", "AT+DISK=8,\"D1\"\r\n\r\n"));

    for (const char* command : {"at+cfun=1", "At+CFUN=1"}) {
        const Parse p = Parsed(Ini({"[Start_AT]", std::string("AT1 = ") + command}));
        EXPECT_EQ(p.result.errorText, "Start AT command configration is incorrect!") << command;
    }
}

TEST(AtSets, EndSetAfterTheStartSet) {
    const Parse p = Parsed(Ini({"[Start_AT]", "AT1 = AT+CFUN=5", "[End_AT]", "AT1 = AT+CFUN=1",
                                "AT2 = AT+RESET"}));
    EXPECT_THAT(p.options.StartATList, ElementsAre("AT+CFUN=5\r\n\r\n"));
    EXPECT_THAT(p.options.EndATList, ElementsAre("AT+CFUN=1\r\n\r\n", "AT+RESET\r\n\r\n"));
}

}  // namespace
}  // namespace firmora::package
