#pragma once
// DownloadOptions: a package's Config.ini parsed once into one record. It
// decides which steps a run performs, which partitions get which files, which
// device data are preserved and which device checks must pass.

#include <cstdint>
#include <string>
#include <vector>

namespace firmora::package {

enum class VersionVariantKind { None, A, B, C };

// Every field once, in order: its type, its name (the Config.ini key where it
// has one) and its default. The struct below and its JSON form (options_json)
// are both made from this list, so a new field cannot be missed in either.
#define FIRMORA_DOWNLOAD_OPTIONS_FIELDS(FIELD)                                               \
    /* [Project] */                                                                          \
    FIELD(std::string, Caption, "Firmora_***")                                               \
    FIELD(std::string, Version)                                                              \
    FIELD(int, ProjectIndex, -1)                                                             \
    FIELD(bool, bPhoneType, false)                                                           \
    FIELD(int, PlatformName, 255) /* chip code to compare with the device; 255 = no check */ \
    FIELD(std::string, Name, "UNKNOWN")                                                      \
    FIELD(int, Language, 0) /* 0 English, 1 Japanese */                                      \
    FIELD(std::string, strLTEType)                                                           \
    FIELD(std::string, strGPIO)                                                              \
    FIELD(int, PlatformType, 0) /* 3 LTE, 2 EVDO, 1 CDMA2000, else 0 */                      \
    FIELD(bool, bCheckMainboardType, false)                                                  \
    FIELD(bool, bCheckProjectCode, false)                                                    \
    FIELD(bool, ExecuteRebootle, false)                                                      \
    FIELD(std::string, MatchVersion)                                                         \
    FIELD(VersionVariantKind, VersionVariant, VersionVariantKind::None)                      \
    FIELD(bool, IsVendrix, false)                                                            \
    FIELD(int, Packet, 1)                                                                    \
    FIELD(int, FlashType, 0)                                                                 \
    FIELD(std::string, FlashID)                                                              \
    FIELD(std::string, FlashSize)                                                            \
    FIELD(bool, RTRECFG, false)                                                              \
                                                                                             \
    /* [MemoryType] */                                                                       \
    FIELD(bool, bCheckDataCardMemory, false)                                                 \
    FIELD(bool, bCheckRouterMemory, false)                                                   \
    FIELD(std::string, RAMSize)                                                              \
    FIELD(std::string, MemFlashSize)                                                         \
    FIELD(std::string, SupportFlashID)                                                       \
                                                                                             \
    /* [General Option] */                                                                   \
    FIELD(int, m_nBlockSize, 1024)                                                           \
    FIELD(bool, bFastSpeedDownload, false)                                                   \
                                                                                             \
    /* [BackupRestore_AT] */                                                                 \
    FIELD(bool, UIT_NewWays, false)                                                          \
    FIELD(bool, ESN, false)                                                                  \
                                                                                             \
    /* [DownloadItems] */                                                                    \
    FIELD(bool, bBootloader, false)                                                          \
    /* The boot loader's three stages; read (default on) only with bBootloader. */           \
    FIELD(bool, bdbl, false)                                                                 \
    FIELD(bool, bfsbl, false)                                                                \
    FIELD(bool, bosbl, false)                                                                \
    FIELD(bool, bRpmBootloader, false)                                                       \
    FIELD(bool, bEnprg9x15, false)                                                           \
    FIELD(bool, bAppsBootloader, false)                                                      \
    FIELD(bool, bAppsImageAndBootloader, false)                                              \
    FIELD(bool, bAMSSFile, false)                                                            \
    FIELD(bool, bDSP, false)                                                                 \
    FIELD(bool, bCfgdata, false)                                                             \
    FIELD(bool, bPhoneImage, false)                                                          \
    FIELD(bool, bEFS, false)                                                                 \
    FIELD(bool, bRawAppsEFS, false)                                                          \
    FIELD(bool, bPartOfEFS, false)                                                           \
    FIELD(bool, bCDROM, false)                                                               \
    FIELD(bool, bDISK, false)                                                                \
    FIELD(bool, bResImage, false)                                                            \
    FIELD(bool, bPCSuite, false) /* derived: one of bCDROM, bDISK, bResImage */              \
    FIELD(bool, bFastbootConfiguration, false)                                               \
    FIELD(bool, bFastbootPrimary_gpt, false)                                                 \
    FIELD(bool, bFastbootSecondary_gpt, false)                                               \
    FIELD(bool, bFastbootzImage, false)                                                      \
    FIELD(bool, bFastbootRamdisk, false)                                                     \
    FIELD(bool, bFastbootBootImage, false)                                                   \
    FIELD(bool, bFastbootRamdisk_recoveryImage, false)                                       \
    FIELD(bool, bFastbootzImage_recoveryImage, false)                                        \
    FIELD(bool, bFastbootUserdataImage, false)                                               \
    FIELD(bool, bFastbootSystemImageMutil, false)                                            \
    FIELD(bool, bFastbootSystemImage, false)                                                 \
    FIELD(std::string, FastBootSystemImageFilePath)                                          \
    FIELD(bool, bSwitchFastbootMode, false)                                                  \
    FIELD(bool, bBackup, false)                                                              \
    FIELD(bool, bRestore, false)                                                             \
    FIELD(bool, bBackupUserData, false)                                                      \
                                                                                             \
    /* [FastbootDownloadFiles]: partition names and file names at the same positions. */     \
    FIELD(std::vector<std::string>, FastbootFileCmdList)                                     \
    FIELD(std::vector<std::string>, FastbootFileNameList)                                    \
                                                                                             \
    /* Part-of-EFS plan and user data. */                                                    \
    FIELD(std::vector<std::string>, RemoveFilesList)                                         \
    FIELD(std::vector<std::string>, RemoveDirList)                                           \
    FIELD(std::vector<std::string>, CreateDirList)                                           \
    FIELD(std::vector<std::string>, AddFilesList)                                            \
    FIELD(std::vector<std::string>, UserDataFilesList)                                       \
    FIELD(std::vector<std::string>, UserDataDirList)                                         \
                                                                                             \
    /* [SIMLOCK] */                                                                          \
    FIELD(bool, bSimLockOn, false)                                                           \
    FIELD(int, SimLockMode, 0)                                                               \
    FIELD(std::string, SimLockValue)                                                         \
                                                                                             \
    /* [NV_Default] then [NV_Custom], upper-cased. */                                        \
    FIELD(std::vector<std::string>, NVItemList)                                              \
                                                                                             \
    /* [Start_AT], [End_AT]; each entry ends with "\r\n\r\n". */                             \
    FIELD(std::vector<std::string>, StartATList)                                             \
    FIELD(std::vector<std::string>, EndATList)

struct DownloadOptions {
#define FIRMORA_DECLARE_FIELD(type, name, ...) type name{__VA_ARGS__};
    FIRMORA_DOWNLOAD_OPTIONS_FIELDS(FIRMORA_DECLARE_FIELD)
#undef FIRMORA_DECLARE_FIELD
};

}  // namespace firmora::package
