#include "package/config_parser.h"

#include <array>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "package/project_table.h"

namespace firmora::package {
namespace {

using platform::DialogButtons;
using platform::DialogIcon;

constexpr std::string_view kProject = "Project";
constexpr std::string_view kMemoryType = "MemoryType";
constexpr std::string_view kGeneralOption = "General Option";
constexpr std::string_view kBackupRestoreAt = "BackupRestore_AT";
constexpr std::string_view kDownloadItems = "DownloadItems";
constexpr std::string_view kFastbootFiles = "FastbootDownloadFiles";

constexpr int kFastbootPlanMax = 15;   // DL0 to DL14
constexpr int kPartOfEfsListMax = 100;  // RF0 to RF99 and so on
constexpr int kUserDataListMax = 1000;  // UF0 to UF999, UD0 to UD999
constexpr int kNumberedListMax = 1000;  // NV1 to NV1000, AT1 to AT1000

constexpr std::string_view kAtLineEnd = "\r\n\r\n";

// Chip codes by a substring of [Project] Platform; the first one found decides.
constexpr std::array<std::pair<std::string_view, int>, 8> kPlatformCodes = {{
    {"9200", 0},
    {"6260", 186},
    {"6246", 33},
    {"6290", 29},
    {"6270", 19},
    {"6085", 119},
    {"7225", 13},
    {"8200", 8},
}};
constexpr int kPlatformNoCheck = 255;

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

bool IsOneOf(int value, std::initializer_list<int> values) {
    for (int v : values) {
        if (v == value) return true;
    }
    return false;
}

std::string TrimBlanks(std::string_view text) {
    constexpr std::string_view kBlanks = " \t";
    const size_t first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(kBlanks);
    return std::string(text.substr(first, last - first + 1));
}

// ASCII only, as the tool's other texts: bytes of other encodings stay as they are.
std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

class Parser {
public:
    Parser(const platform::IniDocument& document, DownloadOptions& options,
           platform::Dialogs& dialogs)
        : doc_(document), o_(options), dialogs_(dialogs) {}

    ConfigParseResult Run() {
        using Step = bool (Parser::*)();
        static constexpr Step kSteps[] = {
            &Parser::ReadCaptionAndVersion, &Parser::ReadProject,
            &Parser::ReadPlatform,          &Parser::ReadNameAndLanguage,
            &Parser::ReadPlatformType,      &Parser::ReadChecksAndMemory,
            &Parser::ReadExecuteRebootle,   &Parser::ReadMatchVersion,
            &Parser::ReadPackageVariant,    &Parser::ReadLinkOptions,
            &Parser::ReadFastbootItems,     &Parser::ReadPartOfEfs,
            &Parser::ReadUserData,          &Parser::ReadImageSelections,
            &Parser::CheckConsistency,      &Parser::ReadSimLock,
            &Parser::ReadNvItems,           &Parser::ReadAtSets,
        };
        for (Step step : kSteps) {
            if (!(this->*step)()) break;
        }
        return result_;
    }

private:
    // A key's value; the default when the key is missing. A key that is there
    // with nothing after "=" gives the empty text, as the profile reader does.
    std::string Text(std::string_view section, std::string_view key,
                     std::string_view defaultValue = {}) const {
        return doc_.Get(section, key).value_or(std::string(defaultValue));
    }
    int Int(std::string_view section, std::string_view key, int defaultValue) const {
        return doc_.GetInt(section, key, defaultValue);
    }
    bool IsOne(std::string_view section, std::string_view key) const {
        return Int(section, key, 0) == 1;
    }
    bool NonZero(std::string_view section, std::string_view key, int defaultValue = 0) const {
        return Int(section, key, defaultValue) != 0;
    }

    // Ends the parse with a configuration error.
    bool Stop(std::string_view text, DialogButtons buttons = DialogButtons::Ok,
              DialogIcon icon = DialogIcon::None, bool clearSelections = true) {
        if (clearSelections) ClearDownloadItems(o_);
        dialogs_.ShowMessage("Warning", std::string(text), buttons, icon);
        result_.stoppedOnError = true;
        result_.errorText = std::string(text);
        return false;
    }

    // Reads prefix+first, prefix+(first+1), ... until the first empty value
    // (a missing key reads as empty) or until count keys have been read.
    std::vector<std::string> NumberedList(std::string_view section, std::string_view prefix,
                                          int first, int count) const {
        std::vector<std::string> values;
        for (int i = first; i < first + count; ++i) {
            std::string value = Text(section, std::string(prefix) + std::to_string(i));
            if (value.empty()) break;
            values.push_back(std::move(value));
        }
        return values;
    }

    bool ReadCaptionAndVersion() {
        o_.Caption = Text(kProject, "Caption", "Firmora_***");
        o_.Version = Text(kProject, "Version");
        return true;
    }

    bool ReadProject() {
        o_.ProjectIndex = ProjectIndexOf(Text(kProject, "Project"));
        o_.bPhoneType = IsPhoneTypeProject(o_.ProjectIndex);
        return true;
    }

    bool ReadPlatform() {
        const std::string platform = Text(kProject, "Platform", "UNKNOWN");
        if (platform == "UNKNOWN") {
            o_.PlatformName = kPlatformNoCheck;
            return true;
        }
        for (const auto& [part, code] : kPlatformCodes) {
            if (Contains(platform, part)) {
                o_.PlatformName = code;
                return true;
            }
        }
        return Stop("Config was wrong.Not support platform configuration.");
    }

    bool ReadNameAndLanguage() {
        o_.Name = Text(kProject, "Name", "UNKNOWN");
        const std::string language = Text(kProject, "Language");
        if (Contains(language, "English")) {
            o_.Language = 0;
        } else if (Contains(language, "Japanese")) {
            o_.Language = 1;
        }
        o_.strLTEType = Text(kProject, "LTEType");
        o_.strGPIO = Text(kProject, "GPIO");
        return true;
    }

    bool ReadPlatformType() {
        const std::string type = Text(kProject, "Type");
        if (type == "LTE") {
            o_.PlatformType = 3;
        } else if (type == "EVDO") {
            o_.PlatformType = 2;
        } else if (type == "CDMA2000") {
            o_.PlatformType = 1;
        } else {
            o_.PlatformType = 0;
        }
        return true;
    }

    bool ReadChecksAndMemory() {
        o_.bCheckMainboardType = IsOne(kProject, "bCheckMainboardType");
        o_.bCheckProjectCode = IsOne(kProject, "bCheckProjectCode");
        o_.bCheckDataCardMemory = IsOne(kMemoryType, "bCheckDataCardMemory");
        o_.bCheckRouterMemory = IsOne(kMemoryType, "bCheckRouterMemory");
        if (o_.bCheckDataCardMemory && o_.bCheckRouterMemory) {
            return Stop("Unknow the terminal type.");
        }
        if (o_.bCheckDataCardMemory || o_.bCheckRouterMemory) {
            o_.RAMSize = Text(kMemoryType, "RAMSize");
            o_.MemFlashSize = Text(kMemoryType, "FlashSize");
            if (o_.RAMSize.empty() && o_.MemFlashSize.empty()) {
                return Stop("Memory type configuration was wrong.");
            }
            o_.SupportFlashID = Text(kMemoryType, "SupportFlashID");
        }
        return true;
    }

    bool ReadExecuteRebootle() {
        o_.ExecuteRebootle = IsOne(kProject, "ExecuteRebootle");
        return true;
    }

    bool ReadMatchVersion() {
        const int index = o_.ProjectIndex;
        const bool versionChecked =
            o_.bCheckProjectCode || o_.bCheckMainboardType ||
            IsOneOf(index, {kProjectRA66_51, kProjectRE78_51, kProjectZP200, kProjectZO71_11,
                            kProjectZI71_15, kProjectZQ65_Custom, kProjectZP200_EA});
        if (versionChecked) o_.MatchVersion = Text(kProject, "Version");

        const bool versionRequired =
            o_.bCheckMainboardType ||
            IsOneOf(index, {kProjectRA66_51, kProjectRE78_51, kProjectZP200, kProjectZQ65_Custom});
        if (o_.MatchVersion.empty() && versionRequired) {
            // The selections stay: the package itself may be fine, only the
            // device comparison cannot be made.
            return Stop("Could not find software version", DialogButtons::Ok, DialogIcon::None,
                        /*clearSelections=*/false);
        }

        o_.VersionVariant = VersionVariantKind::None;
        if (index == kProjectRE78_51) {
            if (Contains(o_.MatchVersion, "VQA0018")) {
                o_.VersionVariant = VersionVariantKind::A;
            } else if (Contains(o_.MatchVersion, "VQAAX02")) {
                o_.VersionVariant = VersionVariantKind::B;
            } else if (Contains(o_.MatchVersion, "VQAII02")) {
                o_.VersionVariant = VersionVariantKind::C;
            }
        }
        return true;
    }

    bool ReadPackageVariant() {
        o_.IsVendrix = o_.ProjectIndex == kProjectDE78_11 && IsOne(kProject, "IsVendrix");
        o_.Packet = Int(kProject, "Packet", 1);
        o_.FlashType = Int(kProject, "FlashType", 0);
        o_.FlashID = Text(kProject, "FlashID");
        o_.FlashSize = Text(kProject, "FlashSize");
        return true;
    }

    bool ReadLinkOptions() {
        o_.m_nBlockSize = Int(kGeneralOption, "BlockSize", 1024);
        o_.bFastSpeedDownload = NonZero(kGeneralOption, "bFastSpeedDownload");
        o_.UIT_NewWays = NonZero(kBackupRestoreAt, "UIT_NewWays");
        o_.RTRECFG = NonZero(kProject, "RTRECFG");
        return true;
    }

    bool ReadFastbootItems() {
        o_.bEFS = NonZero(kDownloadItems, "bEFS");
        o_.bRawAppsEFS = NonZero(kDownloadItems, "bRawAppsEFS");
        o_.bFastbootPrimary_gpt = NonZero(kDownloadItems, "bFastbootPrimary_gpt");
        o_.bFastbootSecondary_gpt = NonZero(kDownloadItems, "bFastbootSecondary_gpt");
        o_.bFastbootzImage = NonZero(kDownloadItems, "bFastbootzImage");
        o_.bFastbootRamdisk = NonZero(kDownloadItems, "bFastbootRamdisk");
        o_.bFastbootSystemImage = NonZero(kDownloadItems, "bFastbootSystemImage");
        if (o_.bFastbootSystemImage) {
            o_.FastBootSystemImageFilePath = Text(kDownloadItems, "FastBootSystemImageFilePath");
        }
        o_.bFastbootBootImage = NonZero(kDownloadItems, "bFastbootBootImage");
        o_.bFastbootRamdisk_recoveryImage = NonZero(kDownloadItems, "bFastbootRamdisk_recoveryImage");
        o_.bFastbootzImage_recoveryImage = NonZero(kDownloadItems, "bFastbootzImage_recoveryImage");
        o_.bFastbootUserdataImage = NonZero(kDownloadItems, "bFastbootUserdataImage");
        o_.bFastbootSystemImageMutil = NonZero(kDownloadItems, "bFastbootSystemImageMutil");
        o_.bSwitchFastbootMode = NonZero(kDownloadItems, "bSwitchFastbootMode");
        o_.bFastbootConfiguration = NonZero(kDownloadItems, "bFastbootConfiguration");
        if (o_.bFastbootConfiguration && !ReadFastbootPlan()) {
            o_.bFastbootConfiguration = false;
            return Stop("Fastboot configration is incorrect!");
        }
        return true;
    }

    // The plan is rebuilt, not appended to: the matching step parses a second
    // package's file into the same record, and its plan must replace the first.
    bool ReadFastbootPlan() {
        o_.FastbootFileCmdList.clear();
        o_.FastbootFileNameList.clear();
        for (const std::string& entry : NumberedList(kFastbootFiles, "DL", 0, kFastbootPlanMax)) {
            const size_t bar = entry.find('|');
            if (bar == std::string::npos) return false;
            o_.FastbootFileCmdList.push_back(TrimBlanks(std::string_view(entry).substr(0, bar)));
            o_.FastbootFileNameList.push_back(TrimBlanks(std::string_view(entry).substr(bar + 1)));
        }
        return true;
    }

    bool ReadPartOfEfs() {
        o_.bPartOfEFS = NonZero(kDownloadItems, "bPartOfEFS");
        if (o_.bPartOfEFS) {
            o_.RemoveFilesList = NumberedList("RemoveFiles", "RF", 0, kPartOfEfsListMax);
            o_.RemoveDirList = NumberedList("RemoveDir", "RD", 0, kPartOfEfsListMax);
            o_.CreateDirList = NumberedList("CreateDir", "CD", 0, kPartOfEfsListMax);
            o_.AddFilesList = NumberedList("AddFiles", "AF", 0, kPartOfEfsListMax);
        }
        return true;
    }

    bool ReadUserData() {
        o_.bBackupUserData = NonZero(kDownloadItems, "bBackupUserData");
        if (!o_.bBackupUserData) return true;
        o_.UserDataFilesList = NumberedList("UserDataFiles", "UF", 0, kUserDataListMax);
        o_.UserDataDirList = NumberedList("UserDataDir", "UD", 0, kUserDataListMax);
        if (o_.UserDataFilesList.empty() && o_.UserDataDirList.empty()) {
            // Either answer ends the parse the same way.
            return Stop("User data file not found.", DialogButtons::OkCancel);
        }
        return true;
    }

    bool ReadImageSelections() {
        o_.ESN = NonZero(kBackupRestoreAt, "ESN");
        o_.bBackup = NonZero(kDownloadItems, "bBackup");
        o_.bRestore = NonZero(kDownloadItems, "bRestore");
        o_.bAMSSFile = NonZero(kDownloadItems, "bAMSSFile");
        o_.bPhoneImage = NonZero(kDownloadItems, "bPhoneImage");
        o_.bAppsBootloader = NonZero(kDownloadItems, "bAppsBootloader");
        o_.bAppsImageAndBootloader = NonZero(kDownloadItems, "bAppsImageAndBootloader");
        o_.bDSP = NonZero(kDownloadItems, "bDSP");

        // One PC-suite image at most: the disk image wins over the CD-ROM
        // image, which wins over the resource image.
        o_.bCDROM = NonZero(kDownloadItems, "bCDROM");
        o_.bDISK = NonZero(kDownloadItems, "bDISK");
        o_.bResImage = NonZero(kDownloadItems, "bResImage");
        if (o_.bDISK) {
            o_.bCDROM = false;
            o_.bResImage = false;
        } else if (o_.bCDROM) {
            o_.bResImage = false;
        }
        o_.bPCSuite = o_.bDISK || o_.bCDROM || o_.bResImage;

        o_.bBootloader = NonZero(kDownloadItems, "bBootloader");
        if (o_.bBootloader) {
            o_.bdbl = NonZero(kDownloadItems, "bdbl", 1);
            o_.bfsbl = NonZero(kDownloadItems, "bfsbl", 1);
            o_.bosbl = NonZero(kDownloadItems, "bosbl", 1);
        }
        o_.bCfgdata = NonZero(kDownloadItems, "bCfgdata");
        o_.bRpmBootloader = NonZero(kDownloadItems, "bRpmBootloader");
        o_.bEnprg9x15 = NonZero(kDownloadItems, "bEnprg9x15");
        return true;
    }

    bool CheckConsistency() {
        if (o_.bPhoneType && o_.bPCSuite) {
            return Stop("Config was wrong.Phone type can't download PCSuite.");
        }
        if (o_.bBackup != o_.bRestore) {
            return Stop("Config was wrong.\nBackup and restore must be selected at same time.");
        }
        if (o_.bEFS && o_.bPartOfEFS) {
            return Stop("Config was wrong.\nEFS and part of EFS can't be selected at same time.");
        }
        return true;
    }

    bool ReadSimLock() {
        const std::string value = Text("SIMLOCK", "bSimLock");
        if (value.empty()) {
            o_.bSimLockOn = false;
            return true;
        }
        o_.bSimLockOn = true;
        o_.SimLockValue = value;
        if (value[0] == '0') {
            o_.SimLockMode = 0;
        } else if (value[0] == '1') {
            o_.SimLockMode = 1;
            if (value.size() < 3) {
                return Stop("SIMLOCKList is empty!", DialogButtons::Ok, DialogIcon::Warning);
            }
        }
        return true;
    }

    bool ReadNvSection(std::string_view section, std::string_view error) {
        for (const std::string& value : NumberedList(section, "NV", 1, kNumberedListMax)) {
            if (!Contains(value, ":")) return Stop(error);
            o_.NVItemList.push_back(UpperAscii(value));
        }
        return true;
    }

    bool ReadNvItems() {
        o_.NVItemList.clear();
        return ReadNvSection("NV_Default", "Default NV configration is incorrect!") &&
               ReadNvSection("NV_Custom", "Custom NV configration is incorrect!");
    }

    // Each command gets the line ending the AT channel sends with it. The
    // lists are rebuilt on every parse so a second parse cannot repeat them.
    bool ReadAtSet(std::string_view section, std::vector<std::string>& list,
                   std::string_view error) {
        list.clear();
        for (const std::string& value : NumberedList(section, "AT", 1, kNumberedListMax)) {
            if (!Contains(value, "AT")) return Stop(error);
            list.push_back(value + std::string(kAtLineEnd));
        }
        return true;
    }

    bool ReadAtSets() {
        return ReadAtSet("Start_AT", o_.StartATList, "Start AT command configration is incorrect!") &&
               ReadAtSet("End_AT", o_.EndATList, "End AT command configration is incorrect!");
    }

    const platform::IniDocument& doc_;
    DownloadOptions& o_;
    platform::Dialogs& dialogs_;
    ConfigParseResult result_;
};

}  // namespace

void ClearDownloadItems(DownloadOptions& options) {
    options.bEFS = false;
    options.bRawAppsEFS = false;
    options.bPartOfEFS = false;
    options.bAMSSFile = false;
    options.bAppsBootloader = false;
    options.bAppsImageAndBootloader = false;
    options.bPCSuite = false;
    options.bCfgdata = false;
    options.bSimLockOn = false;
    options.bFastbootPrimary_gpt = false;
    options.bFastbootSecondary_gpt = false;
    options.bFastbootzImage = false;
    options.bFastbootRamdisk = false;
    options.bFastbootSystemImage = false;
    options.bFastbootBootImage = false;
    options.bFastbootRamdisk_recoveryImage = false;
    options.bFastbootzImage_recoveryImage = false;
    options.bFastbootUserdataImage = false;
    options.bFastbootSystemImageMutil = false;
}

ConfigParseResult ParseConfigDocument(const platform::IniDocument& document,
                                      DownloadOptions& options, platform::Dialogs& dialogs) {
    return Parser(document, options, dialogs).Run();
}

ConfigParseResult ParseConfigText(std::string_view text, DownloadOptions& options,
                                  platform::Dialogs& dialogs) {
    return ParseConfigDocument(platform::IniDocument::Parse(text), options, dialogs);
}

ConfigParseResult ParseConfig(platform::Files& files, const std::filesystem::path& path, DownloadOptions& options,
                              platform::Dialogs& dialogs) {
    if (files.KindOf(path) == platform::FileKind::Missing) return ParseConfigText("", options, dialogs);
    std::string error;
    const std::optional<std::string> text = platform::ReadFileUpTo(files, path, kConfigFileMaxBytes, error);
    if (!text) {
        ClearDownloadItems(options);
        return {true, error};
    }
    return ParseConfigText(*text, options, dialogs);
}

}  // namespace firmora::package
