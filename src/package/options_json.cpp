#include "package/options_json.h"

#include <cstdio>

namespace firmora::package {

std::string_view VersionVariantName(VersionVariantKind kind) {
    switch (kind) {
        case VersionVariantKind::A: return "A";
        case VersionVariantKind::B: return "B";
        case VersionVariantKind::C: return "C";
        case VersionVariantKind::None: break;
    }
    return "None";
}

nlohmann::ordered_json OptionsToJson(const DownloadOptions& o) {
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
    // The key is spelt by the field itself, so the two cannot drift apart.
#define FIRMORA_FIELD(name) j[#name] = o.name
    FIRMORA_FIELD(Caption);
    FIRMORA_FIELD(Version);
    FIRMORA_FIELD(ProjectIndex);
    FIRMORA_FIELD(bPhoneType);
    FIRMORA_FIELD(PlatformName);
    FIRMORA_FIELD(Name);
    FIRMORA_FIELD(Language);
    FIRMORA_FIELD(strLTEType);
    FIRMORA_FIELD(strGPIO);
    FIRMORA_FIELD(PlatformType);
    FIRMORA_FIELD(bCheckMainboardType);
    FIRMORA_FIELD(bCheckProjectCode);
    FIRMORA_FIELD(ExecuteRebootle);
    FIRMORA_FIELD(MatchVersion);
    j["VersionVariant"] = VersionVariantName(o.VersionVariant);
    FIRMORA_FIELD(IsVendrix);
    FIRMORA_FIELD(Packet);
    FIRMORA_FIELD(FlashType);
    FIRMORA_FIELD(FlashID);
    FIRMORA_FIELD(FlashSize);
    FIRMORA_FIELD(RTRECFG);

    FIRMORA_FIELD(bCheckDataCardMemory);
    FIRMORA_FIELD(bCheckRouterMemory);
    FIRMORA_FIELD(RAMSize);
    FIRMORA_FIELD(MemFlashSize);
    FIRMORA_FIELD(SupportFlashID);

    FIRMORA_FIELD(m_nBlockSize);
    FIRMORA_FIELD(bFastSpeedDownload);

    FIRMORA_FIELD(UIT_NewWays);
    FIRMORA_FIELD(ESN);

    FIRMORA_FIELD(bBootloader);
    FIRMORA_FIELD(bdbl);
    FIRMORA_FIELD(bfsbl);
    FIRMORA_FIELD(bosbl);
    FIRMORA_FIELD(bRpmBootloader);
    FIRMORA_FIELD(bEnprg9x15);
    FIRMORA_FIELD(bAppsBootloader);
    FIRMORA_FIELD(bAppsImageAndBootloader);
    FIRMORA_FIELD(bAMSSFile);
    FIRMORA_FIELD(bDSP);
    FIRMORA_FIELD(bCfgdata);
    FIRMORA_FIELD(bPhoneImage);
    FIRMORA_FIELD(bEFS);
    FIRMORA_FIELD(bRawAppsEFS);
    FIRMORA_FIELD(bPartOfEFS);
    FIRMORA_FIELD(bCDROM);
    FIRMORA_FIELD(bDISK);
    FIRMORA_FIELD(bResImage);
    FIRMORA_FIELD(bPCSuite);
    FIRMORA_FIELD(bFastbootConfiguration);
    FIRMORA_FIELD(bFastbootPrimary_gpt);
    FIRMORA_FIELD(bFastbootSecondary_gpt);
    FIRMORA_FIELD(bFastbootzImage);
    FIRMORA_FIELD(bFastbootRamdisk);
    FIRMORA_FIELD(bFastbootBootImage);
    FIRMORA_FIELD(bFastbootRamdisk_recoveryImage);
    FIRMORA_FIELD(bFastbootzImage_recoveryImage);
    FIRMORA_FIELD(bFastbootUserdataImage);
    FIRMORA_FIELD(bFastbootSystemImageMutil);
    FIRMORA_FIELD(bFastbootSystemImage);
    FIRMORA_FIELD(FastBootSystemImageFilePath);
    FIRMORA_FIELD(bSwitchFastbootMode);
    FIRMORA_FIELD(bBackup);
    FIRMORA_FIELD(bRestore);
    FIRMORA_FIELD(bBackupUserData);

    FIRMORA_FIELD(FastbootFileCmdList);
    FIRMORA_FIELD(FastbootFileNameList);

    FIRMORA_FIELD(RemoveFilesList);
    FIRMORA_FIELD(RemoveDirList);
    FIRMORA_FIELD(CreateDirList);
    FIRMORA_FIELD(AddFilesList);
    FIRMORA_FIELD(UserDataFilesList);
    FIRMORA_FIELD(UserDataDirList);

    FIRMORA_FIELD(bSimLockOn);
    FIRMORA_FIELD(SimLockMode);
    FIRMORA_FIELD(SimLockValue);

    FIRMORA_FIELD(NVItemList);

    FIRMORA_FIELD(StartATList);
    FIRMORA_FIELD(EndATList);
#undef FIRMORA_FIELD
    return j;
}

std::string EscapeVisible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\\': out += "\\\\"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

namespace {

std::string ValueText(const nlohmann::ordered_json& value) {
    if (value.is_string()) return '"' + EscapeVisible(value.get_ref<const std::string&>()) + '"';
    if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
    return std::to_string(value.get<long long>());
}

}  // namespace

std::string OptionsToText(const DownloadOptions& options) {
    const nlohmann::ordered_json fields = OptionsToJson(options);
    std::string out;
    for (const auto& [key, value] : fields.items()) {
        if (!value.is_array()) {
            out += key + " = " + ValueText(value) + '\n';
            continue;
        }
        if (value.empty()) {
            out += key + " = (empty)\n";
            continue;
        }
        for (size_t i = 0; i < value.size(); ++i) {
            out += key + '[' + std::to_string(i) + "] = " + ValueText(value[i]) + '\n';
        }
    }
    return out;
}

}  // namespace firmora::package
