#pragma once
// DownloadOptions: a package's Config.ini parsed once into one record. It
// decides which steps a run performs, which partitions get which files, which
// device data are preserved and which device checks must pass.

#include <cstdint>
#include <string>
#include <vector>

namespace firmora::package {

enum class VersionVariantKind { None, A, B, C };

struct DownloadOptions {
    // [Project]
    std::string Caption = "Firmora_***";
    std::string Version;
    int ProjectIndex = -1;
    bool bPhoneType = false;
    int PlatformName = 255;  // chip code to compare with the device; 255 = no check
    std::string Name = "UNKNOWN";
    int Language = 0;  // 0 English, 1 Japanese
    std::string strLTEType;
    std::string strGPIO;
    int PlatformType = 0;  // 3 LTE, 2 EVDO, 1 CDMA2000, else 0
    bool bCheckMainboardType = false;
    bool bCheckProjectCode = false;
    bool ExecuteRebootle = false;
    std::string MatchVersion;
    VersionVariantKind VersionVariant = VersionVariantKind::None;
    bool IsVendrix = false;
    int Packet = 1;
    int FlashType = 0;
    std::string FlashID;
    std::string FlashSize;
    bool RTRECFG = false;

    // [MemoryType]
    bool bCheckDataCardMemory = false;
    bool bCheckRouterMemory = false;
    std::string RAMSize;
    std::string MemFlashSize;
    std::string SupportFlashID;

    // [General Option]
    int m_nBlockSize = 1024;
    bool bFastSpeedDownload = false;

    // [BackupRestore_AT]
    bool UIT_NewWays = false;
    bool ESN = false;

    // [DownloadItems]
    bool bBootloader = false;
    // The boot loader's three stages; read (default on) only with bBootloader.
    bool bdbl = false;
    bool bfsbl = false;
    bool bosbl = false;
    bool bRpmBootloader = false;
    bool bEnprg9x15 = false;
    bool bAppsBootloader = false;
    bool bAppsImageAndBootloader = false;
    bool bAMSSFile = false;
    bool bDSP = false;
    bool bCfgdata = false;
    bool bPhoneImage = false;
    bool bEFS = false;
    bool bRawAppsEFS = false;
    bool bPartOfEFS = false;
    bool bCDROM = false;
    bool bDISK = false;
    bool bResImage = false;
    bool bPCSuite = false;  // derived: one of bCDROM, bDISK, bResImage
    bool bFastbootConfiguration = false;
    bool bFastbootPrimary_gpt = false;
    bool bFastbootSecondary_gpt = false;
    bool bFastbootzImage = false;
    bool bFastbootRamdisk = false;
    bool bFastbootBootImage = false;
    bool bFastbootRamdisk_recoveryImage = false;
    bool bFastbootzImage_recoveryImage = false;
    bool bFastbootUserdataImage = false;
    bool bFastbootSystemImageMutil = false;
    bool bFastbootSystemImage = false;
    std::string FastBootSystemImageFilePath;
    bool bSwitchFastbootMode = false;
    bool bBackup = false;
    bool bRestore = false;
    bool bBackupUserData = false;

    // [FastbootDownloadFiles]: partition names and file names at the same positions.
    std::vector<std::string> FastbootFileCmdList;
    std::vector<std::string> FastbootFileNameList;

    // Part-of-EFS plan and user data.
    std::vector<std::string> RemoveFilesList;
    std::vector<std::string> RemoveDirList;
    std::vector<std::string> CreateDirList;
    std::vector<std::string> AddFilesList;
    std::vector<std::string> UserDataFilesList;
    std::vector<std::string> UserDataDirList;

    // [SIMLOCK]
    bool bSimLockOn = false;
    int SimLockMode = 0;
    std::string SimLockValue;

    // [NV_Default] then [NV_Custom], upper-cased.
    std::vector<std::string> NVItemList;

    // [Start_AT], [End_AT]; each entry ends with "\r\n\r\n".
    std::vector<std::string> StartATList;
    std::vector<std::string> EndATList;
};

}  // namespace firmora::package
