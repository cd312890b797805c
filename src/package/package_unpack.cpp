#include "package/package_unpack.h"

#include <algorithm>
#include <cctype>
#include <set>
#include <tuple>

#include "package/project_table.h"

namespace firmora::package {
namespace {

namespace fs = std::filesystem;

constexpr const char* kEraseFile = "erase";
constexpr uint32_t kPauseAfterUnpackMs = 100;

bool IsBootloaderProject(int index) { return index >= 43 && index <= 47; }

// The products whose package carries the driver installer.
bool HasDriverInstaller(int index) {
    return index == kProjectZP200 || index == kProjectZP200_Italy || index == kProjectXF60_31 ||
           index == kProjectZP200_EA;
}

bool IsOutsidePath(const std::string& entry) { return entry.find_first_of("\\/") != std::string::npos; }

std::string AfterLast(const std::string& text, const char* separators) {
    const size_t at = text.find_last_of(separators);
    return at == std::string::npos ? text : text.substr(at + 1);
}

class FileList {
public:
    void Add(std::string type, std::string name, std::string file) {
        files_.push_back({std::move(type), std::move(name), std::move(file), {}, false, {}});
    }
    // A program or library that travels with the package but is never started.
    void AddCarried(std::string type, std::string name, std::string file) {
        Add(std::move(type), std::move(name), std::move(file));
        files_.back().optional = true;
    }
    void Add(PackageFile file) { files_.push_back(std::move(file)); }
    std::vector<PackageFile> Take() { return std::move(files_); }

private:
    std::vector<PackageFile> files_;
};

bool AnyFastbootImage(const DownloadOptions& o) {
    return o.bFastbootPrimary_gpt || o.bFastbootSecondary_gpt || o.bFastbootzImage || o.bFastbootRamdisk ||
           o.bFastbootBootImage || o.bFastbootRamdisk_recoveryImage || o.bFastbootzImage_recoveryImage ||
           o.bFastbootUserdataImage || o.bFastbootSystemImage;
}

// The modem image, its header and the phone image; `suffix` names the
// second variant's resources.
void AddModemImages(const DownloadOptions& o, FileList& list, const std::string& suffix) {
    if (o.bAMSSFile) {
        list.Add("MBN", "AmssFile" + suffix, "amss.mbn");
        if (!IsBootloaderProject(o.ProjectIndex)) list.Add("MBN", "AmsshdFile" + suffix, "amsshd.mbn");
    }
    if (o.bPhoneImage) list.Add("MBN", "AllFile" + suffix, "all.mbn");
}

// The DSP images, the PC-suite images and the configuration data.
void AddDataImages(const DownloadOptions& o, FileList& list, const std::string& suffix) {
    if (o.bDSP) {
        list.Add("MBN", "DSP1File" + suffix, "dsp1.mbn");
        list.Add("MBN", "DSP2File" + suffix, "dsp2.mbn");
    }
    if (o.bCDROM) list.Add("ISO", "CDROMFile" + suffix, "CDROM.iso");
    if (o.bDISK) list.Add("IMA", "FAT16File" + suffix, "FAT16.IMA");
    if (o.bResImage) list.Add("MBN", "ResimageFile" + suffix, "resimage");
    if (o.bCfgdata) list.Add("MBN", "CfgdataFile" + suffix, "cfgdata.mbn");
}

void AddPlanFiles(const DownloadOptions& o, FileList& list) {
    for (const std::string& entry : o.FastbootFileNameList) {
        if (entry == kEraseFile) continue;
        if (IsOutsidePath(entry)) {
            list.Add({"", "", AfterLast(entry, "\\/"), entry, false, "Copy file failed!"});
        } else {
            list.Add(PackageFileNamed(entry));
        }
    }
}

// Unpacks or copies one file; "" on success, else the message to show.
std::string WriteOne(platform::ResourceBundle& bundle, platform::Files& files, const PackageFile& file,
                     const fs::path& folder) {
    const fs::path path = folder / file.file;
    if (file.outside.empty()) return UnpackResource(bundle, files, file, path);
    std::string error;
    const std::unique_ptr<platform::ByteSource> source = platform::ReadInPieces(file.outside, error);
    if (source == nullptr || !files.ReplaceFromSource(path, *source)) return file.copyFailure;
    return "";
}

UnpackResult WriteAll(platform::ResourceBundle& bundle, platform::Files& files, const std::vector<PackageFile>& list,
                      const fs::path& folder) {
    // A file named twice (a plan that writes one image to two partitions)
    // is written once.
    std::set<std::tuple<std::string, std::string, std::string>> written;
    for (const PackageFile& file : list) {
        if (!written.emplace(file.type + file.name, file.outside.string(), file.file).second) continue;
        if (std::string error = WriteOne(bundle, files, file, folder); !error.empty()) return {error};
    }
    return {};
}

}  // namespace

PackageFile PackageFileNamed(const std::string& fileName) {
    const size_t dot = fileName.find('.');
    std::string type = dot == std::string::npos ? "BIN" : fileName.substr(dot + 1);
    std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::toupper(c); });
    return {type, fileName.substr(0, dot) + "File", fileName, {}, false, {}};
}

std::vector<PackageFile> FirstVariantFiles(const DownloadOptions& o) {
    FileList list;
    const int project = o.ProjectIndex;
    if (o.bFastbootRamdisk_recoveryImage) list.Add("IMG", "Ramdisk_RecoveryimageFile", "ramdisk_recovery.img");
    if (o.bFastbootUserdataImage) list.Add("IMG", "UserdataimageFile", "userdata.img");
    if (o.bFastbootBootImage) list.Add("IMG", "BootimageFile", "boot.img");
    if (o.bFastbootPrimary_gpt) list.Add("BIN", "Primary_gptFile", "primary_gpt");
    if (o.bFastbootSecondary_gpt) list.Add("BIN", "Secondary_gptFile", "secondary_gpt");
    if (o.bFastbootzImage) list.Add("BIN", "ZimageFile", "zImage");
    if (o.bFastbootRamdisk) list.Add("IMG", "RamdiskFile", "ramdisk.img");
    if (o.bFastbootSystemImage) {
        if (o.FastBootSystemImageFilePath.empty()) {
            list.Add("IMG", "SystemimageFile", "system.img");
        } else {
            list.Add({"", "", "system.img", fs::path(o.FastBootSystemImageFilePath) / "system.img", false,
                      "Copy file failed [system.img]!"});
        }
    }
    if (o.bFastbootzImage_recoveryImage) list.Add("BIN", "zImage_recoveryFile", "zImage_recovery");
    if (o.bSwitchFastbootMode) list.Add("BIN", "xloadFile", "xload.bin");
    if (o.bFastbootConfiguration) AddPlanFiles(o, list);
    list.Add("HEX", "NPRG6260File", o.bEnprg9x15 ? "ENPRG9x15.hex" : "nprg9x15.hex");
    if (project != kProjectXK81_21) list.Add("MBN", "PartitionFile", "partition.mbn");
    AddModemImages(o, list, "");
    if (o.bEFS) {
        if (project == kProjectZP800) {
            list.Add("MBN", "CEfsFile", "cefs.mbn");
            list.Add("MBN", "AppEfsFile", "cefs_apps.mbn");
        } else if (project == 46) {
            list.Add("MBN", "AppEfsFile", "cefs_apps.mbn");
        } else {
            list.Add("MBN", "EfsFile", "efs.mbn");
        }
    }
    if (o.bRawAppsEFS) list.Add("MBN", "NandimageFile", "nandimage");
    if (o.bPartOfEFS) {
        for (const std::string& entry : o.AddFilesList) list.Add(PackageFileNamed(AfterLast(entry, "/")));
    }
    if (o.bBootloader) {
        if (IsBootloaderProject(project)) {
            list.Add("MBN", "DblFile", "dbl.mbn");
            list.Add("MBN", "FsblFile", "fsbl.mbn");
            list.Add("MBN", "OsblFile", "osbl.mbn");
        } else {
            list.Add("MBN", "Oemsbl1File", "sbl1.mbn");
            list.Add("MBN", "Oemsbl2dlFile", "sbl2_dl.mbn");
            list.Add("DLL", "AdbWinApiFile", "AdbWinApi.dll");
            list.Add("DLL", "AdbWinUsbApiFile", "AdbWinUsbApi.dll");
            list.AddCarried("EXE", "fastbootFile", "fastboot.exe");
            list.AddCarried("EXE", "adbFile", "adb.exe");
        }
    }
    AddDataImages(o, list, "");
    if (o.bRpmBootloader) list.Add("MBN", "OemRPMFile", "rpm.mbn");
    if (o.bAppsBootloader) list.Add("MBN", "AppsBootloaderFile", "appsboot.mbn");
    if (o.bAppsImageAndBootloader) {
        list.Add("MBN", "AppsImageHeaderFile", "appshd.mbn");
        list.Add("MBN", "AppsImageFile", "apps.mbn");
        list.Add("MBN", "AppsBootloaderHeaderFile", "appsboothd.mbn");
        list.Add("MBN", "AppsBootloaderFile", "appsboot.mbn");
    }
    if (o.ExecuteRebootle) list.Add("EXE", "RebootleFile", "Rebootle.exe");
    list.Add("EXE", "SwivletFile", "Swivlet.exe");
    list.AddCarried("EXE", "NetswivletFile", "NetswivletFile.exe");
    list.AddCarried("DLL", "HexmorphFile", "Hexmorph.dll");
    if (HasDriverInstaller(project)) {
        list.Add("EXE", "DrivletFile", "Drivlet.exe");
    }
    list.AddCarried("EXE", "Envscrub32File", "Envscrub32.exe");
    list.AddCarried("EXE", "Envscrub64File", "Envscrub64.exe");
    list.AddCarried("BAT", "BATFiles", "adbdev.bat");
    list.Add("DLL", "AdbWinApiFile", "AdbWinApi.dll");
    list.Add("DLL", "QMSL_MSVC10RFile", "QMSL_MSVC10R.dll");
    list.AddCarried("DLL", "msvcp100File", "msvcp100.dll");
    list.AddCarried("DLL", "msvcr100File", "msvcr100.dll");
    list.Add("DLL", "AdbWinUsbApiFile", "AdbWinUsbApi.dll");
    list.AddCarried("EXE", "fastbootFile", "fastboot.exe");
    list.AddCarried("EXE", "adbFile", "adb.exe");
    return list.Take();
}

std::vector<PackageFile> SecondVariantFiles(const DownloadOptions& o) {
    FileList list;
    const int project = o.ProjectIndex;
    list.Add("HEX", "NPRG6260File2", "NPRG6260.hex");
    if (project != kProjectXK81_21) list.Add("MBN", "PartitionFile2", "partition.mbn");
    AddModemImages(o, list, "2");
    if (o.bEFS) {
        if (project == kProjectZP800) {
            list.Add("MBN", "CEfsFile2", "cefs.mbn");
            list.Add("MBN", "AppEfsFile2", "cefs_apps.mbn");
        } else {
            list.Add("MBN", "EfsFile2", "efs.mbn");
        }
    }
    AddDataImages(o, list, "2");
    if (o.bAppsBootloader) {
        list.Add("MBN", "AppsBootloaderHeaderFile2", "appsboothd.mbn");
        list.Add("MBN", "AppsBootloaderFile2", "appsboot.mbn");
    }
    if (o.bAppsImageAndBootloader) {
        // The header of the application image has no variant of its own.
        list.Add("MBN", "AppsImageHeaderFile", "appshd.mbn");
        list.Add("MBN", "AppsImageFile2", "apps.mbn");
        list.Add("MBN", "AppsBootloaderHeaderFile2", "appsboothd.mbn");
        list.Add("MBN", "AppsBootloaderFile2", "appsboot.mbn");
    }
    if (o.bFastbootRamdisk_recoveryImage) list.Add("IMG", "RecoveryimageFile", "recovery.img");
    if (o.bFastbootUserdataImage) list.Add("IMG", "UserdataimageFile", "userdata.img");
    if (o.bFastbootBootImage) list.Add("IMG", "BootimageFile", "boot.img");
    if (o.bFastbootSystemImage) list.Add("IMG", "SystemimageFile", "system.img");
    if (o.bFastbootzImage_recoveryImage) list.Add("BIN", "SplashimageFile", "splash.bin");
    if (AnyFastbootImage(o) || o.bFastbootConfiguration) {
        list.Add("DLL", "AdbWinApiFile", "AdbWinApi.dll");
        list.Add("DLL", "AdbWinUsbApiFile", "AdbWinUsbApi.dll");
    }
    list.Add("EXE", "SwivletFile2", "Swivlet.exe");
    list.AddCarried("DLL", "HexmorphFile2", "Hexmorph.dll");
    if (HasDriverInstaller(project)) {
        list.Add("EXE", "DrivletFile", "Drivlet.exe");
        list.AddCarried("EXE", "Envscrub32File", "Envscrub32.exe");
        list.AddCarried("EXE", "Envscrub64File", "Envscrub64.exe");
    }
    list.Add("INI", "ConfigFile2", "Config.ini");
    return list.Take();
}

std::string UnpackResource(platform::ResourceBundle& bundle, platform::Files& files, const PackageFile& file,
                           const fs::path& path) {
    std::string error;
    const std::unique_ptr<platform::ByteSource> source = bundle.Open(file.type, file.name, error);
    if (source == nullptr) return file.optional ? "" : "Unpack failed [" + file.file + "]: " + error;
    if (!files.ReplaceFromSource(path, *source)) {
        const std::string why = source->Error();
        return "Unpack failed [" + file.file + "]: " + (why.empty() ? "cannot write " + path.string() : why);
    }
    return "";
}

UnpackResult UnpackPackage(platform::ResourceBundle& bundle, platform::Files& files, platform::Clock& clock,
                           DownloadOptions& options, const fs::path& workingFolder) {
    UnpackResult result = WriteAll(bundle, files, FirstVariantFiles(options), workingFolder);
    if (!result.ok()) return result;
    if (options.bFastbootConfiguration) {
        for (std::string& entry : options.FastbootFileNameList) {
            if (entry == kEraseFile) continue;
            entry = (workingFolder / (IsOutsidePath(entry) ? AfterLast(entry, "\\/") : entry)).string();
        }
    }
    clock.Sleep(kPauseAfterUnpackMs);
    return result;
}

UnpackResult UnpackSecondVariant(platform::ResourceBundle& bundle, platform::Files& files,
                                 const DownloadOptions& options, const fs::path& secondFolder) {
    return WriteAll(bundle, files, SecondVariantFiles(options), secondFolder);
}

}  // namespace firmora::package
