#include "package/image_verification.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "package/hexmorph.h"

namespace firmora::package {

namespace {

namespace fs = std::filesystem;

struct NamedSlot {
    const char* name;
    ImageSlot slot;
};

constexpr NamedSlot kNamedSlots[] = {
    {"partition.mbn", ImageSlot::Partition},
    {"amss.mbn", ImageSlot::Amss},
    {"amsshd.mbn", ImageSlot::AmssHeader},
    {"efs.mbn", ImageSlot::Efs},
    {"cefs.mbn", ImageSlot::CEfs},
    {"cefs_apps.mbn", ImageSlot::AppsEfs},
    {"nandimage", ImageSlot::RawAppsEfs},
    {"dsp1.mbn", ImageSlot::Dsp1},
    {"dsp2.mbn", ImageSlot::Dsp2},
    {"qcsbl.mbn", ImageSlot::Qcsbl},
    {"qcsblhd_cfgdata.mbn", ImageSlot::QcsblHeader},
    {"oemsbl.mbn", ImageSlot::Oemsbl},
    {"oemsblhd.mbn", ImageSlot::OemsblHeader},
    {"fsbl.mbn", ImageSlot::Fsbl},
    {"dbl.mbn", ImageSlot::Dbl},
    {"osbl.mbn", ImageSlot::Osbl},
    {"sbl1.mbn", ImageSlot::Sbl1},
    {"sbl2_dl.mbn", ImageSlot::Sbl2Dl},
    {"rpm.mbn", ImageSlot::Rpm},
    {"appshd.mbn", ImageSlot::AppsHeader},
    {"apps.mbn", ImageSlot::Apps},
    {"appsboothd.mbn", ImageSlot::AppsBootHeader},
    {"appsboot.mbn", ImageSlot::AppsBoot},
    {"cfgdata.mbn", ImageSlot::Cfgdata},
    {"all.mbn", ImageSlot::Phone},
    {"boot.img", ImageSlot::Boot},
    {"primary_gpt", ImageSlot::PrimaryGpt},
    {"secondary_gpt", ImageSlot::SecondaryGpt},
    {"zimage", ImageSlot::ZImage},
    {"ramdisk.img", ImageSlot::Ramdisk},
    {"system.img", ImageSlot::System},
    {"ramdisk_recovery.img", ImageSlot::RamdiskRecovery},
    {"userdata.img", ImageSlot::Userdata},
    {"zimage_recovery", ImageSlot::ZImageRecovery},
};

constexpr uint64_t kMiB = 1024 * 1024;
constexpr uint64_t kBelow10MiB = 10 * kMiB - 1;
constexpr uint64_t kBelow100MiB = 100 * kMiB - 1;
constexpr uint64_t kBelow200MiB = 200 * kMiB - 1;
constexpr uint64_t kBelow240MiB = 240 * kMiB - 1;
constexpr uint64_t kBelow500MiB = 500 * kMiB - 1;
constexpr uint64_t kHeaderBytes = 511;
constexpr uint64_t kPartitionTableBytes = 1023;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

std::string& SlotPath(ImageSlotPaths& paths, ImageSlot slot) { return paths[static_cast<size_t>(slot)]; }

// The slot of the PC-suite image: by its own rules, each only while its
// selection is set.
bool IsPcSuiteImage(const std::string& lower, const DownloadOptions& options) {
    if (options.bCDROM && Contains(lower, "iso") && lower != "imageempty.iso") return true;
    if (options.bDISK && Contains(lower, ".ima") && lower != "fatempty.ima") return true;
    return options.bResImage && lower == "resimage";
}

void AssignFile(const ImageCheckServices& services, const DownloadOptions& options, const fs::path& folder,
                const std::string& name, ImageSlotPaths& paths) {
    const std::string lower = Lower(name);
    const fs::path path = folder / name;
    if (Contains(lower, ".hex")) {
        const fs::path binary = folder / ProgrammerBinaryName(name);
        std::string detail;
        if (ConvertProgrammerHex(services.files, services.dialogs, path, binary, detail)) {
            SlotPath(paths, ImageSlot::Programmer) = binary.string();
        } else if (services.log) {
            services.log->Log("The programmer did not convert: " + detail);
        }
        return;
    }
    for (const NamedSlot& named : kNamedSlots) {
        if (lower == named.name) {
            SlotPath(paths, named.slot) = path.string();
            return;
        }
    }
    if (IsPcSuiteImage(lower, options)) SlotPath(paths, ImageSlot::PcSuite) = path.string();
}

bool InProjects43To47(int project) { return project >= 43 && project <= 47; }

// A file the pass checks, and where its size goes when it passes.
struct Check {
    std::string path;
    std::string missingPrefix;
    std::string sizePrefix;
    std::optional<uint64_t> maxBytes;  // none: its existence alone is checked
    uint32_t* size = nullptr;          // none: the size is not recorded
    bool listed = true;
};

class CheckList {
public:
    explicit CheckList(ImageVerification& result) : result_(result) {}

    void Slot(ImageSlot slot, const char* missingPrefix, const char* sizePrefix, uint64_t maxBytes) {
        const size_t index = static_cast<size_t>(slot);
        checks_.push_back({result_.paths[index], missingPrefix, sizePrefix, maxBytes, &result_.sizes[index]});
    }
    void Slot(ImageSlot slot, const char* prefix, uint64_t maxBytes) { Slot(slot, prefix, prefix, maxBytes); }
    void File(const std::string& path, const char* prefix, uint64_t maxBytes, uint32_t* size) {
        checks_.push_back({path, prefix, prefix, maxBytes, size});
    }
    void Existence(const std::string& path, const char* prefix) { checks_.push_back({path, prefix, prefix, {}}); }
    void Unlisted() { checks_.back().listed = false; }

    std::vector<Check>& checks() { return checks_; }

private:
    ImageVerification& result_;
    std::vector<Check> checks_;
};

bool AnySerialImage(const DownloadOptions& o) {
    return o.bAMSSFile || o.bPhoneImage || o.bEFS || o.bRawAppsEFS || o.bBootloader || o.bCfgdata || o.bPCSuite ||
           o.bAppsBootloader || o.bAppsImageAndBootloader;
}

void AddBootloaderChecks(const DownloadOptions& options, CheckList& list) {
    if (!options.bBootloader) return;
    if (InProjects43To47(options.ProjectIndex)) {
        list.Slot(ImageSlot::Fsbl, "Error:Fsbl file ", "Error:Fsbl ile ", kBelow100MiB);
        list.Slot(ImageSlot::Dbl, "Error:Dbl file ", kBelow100MiB);
        list.Slot(ImageSlot::Osbl, "Error:Osbl file ", kBelow100MiB);
    } else if (options.ProjectIndex == 1013) {
        list.Slot(ImageSlot::Sbl1, "Error: File ", kBelow100MiB);
        list.Slot(ImageSlot::Sbl2Dl, "Error: File ", kBelow100MiB);
    } else {
        list.Slot(ImageSlot::Qcsbl, "Error:QC file ", kBelow100MiB);
        list.Slot(ImageSlot::QcsblHeader, "Error:Qchd file ", kBelow100MiB);
        list.Slot(ImageSlot::OemsblHeader, "Error:Oemh file ", "Error:Oemhd file ", kHeaderBytes);
        list.Slot(ImageSlot::Oemsbl, "Error:Oem file ", "Error:Oem ile ", kBelow100MiB);
    }
}

void AddSerialImageChecks(const DownloadOptions& options, CheckList& list) {
    if (options.bBackup || AnySerialImage(options)) {
        list.Slot(ImageSlot::Programmer, "Error: BIN file ", "Error:BIN file ", kBelow10MiB);
        list.Unlisted();
        if (options.ProjectIndex != 35) list.Slot(ImageSlot::Partition, "Error:partition file ", kPartitionTableBytes);
    }
    AddBootloaderChecks(options, list);
    if (options.bCfgdata) {
        list.Slot(ImageSlot::Cfgdata, "Error:Cofiguration file ", "Error:Configuration file ", kBelow100MiB);
    }
    if (options.bAMSSFile) {
        list.Slot(ImageSlot::Amss, "Error:AMss file ", "Error:Amss file ", kBelow100MiB);
        if (!InProjects43To47(options.ProjectIndex)) list.Slot(ImageSlot::AmssHeader, "Error:Amsshd file ", kHeaderBytes);
    }
    if (options.bPhoneImage) list.Slot(ImageSlot::Phone, "Error:Phone image file ", kBelow100MiB);
    if (options.bDSP) {
        list.Slot(ImageSlot::Dsp1, "Error: File ", kBelow100MiB);
        list.Slot(ImageSlot::Dsp2, "Error: File ", kBelow100MiB);
    }
    if (options.bAppsImageAndBootloader) {
        list.Slot(ImageSlot::AppsHeader, "Error: File ", kBelow100MiB);
        list.Slot(ImageSlot::Apps, "Error: File ", kBelow100MiB);
        list.Slot(ImageSlot::AppsBootHeader, "Error: File ", kHeaderBytes);
        list.Slot(ImageSlot::AppsBoot, "Error: File ", kBelow100MiB);
    }
    if (options.bAppsBootloader) list.Slot(ImageSlot::AppsBoot, "Error: File ", kBelow100MiB);
}

void AddFastbootChecks(const DownloadOptions& options, const fs::path& folder, ImageVerification& result,
                       CheckList& list) {
    if (options.bFastbootBootImage) list.Slot(ImageSlot::Boot, "Error: File ", kBelow100MiB);
    const struct {
        bool selected;
        ImageSlot slot;
        const char* missingPrefix;
    } singles[] = {
        {options.bFastbootPrimary_gpt, ImageSlot::PrimaryGpt, "Error:Primary File "},
        {options.bFastbootSecondary_gpt, ImageSlot::SecondaryGpt, "Error:Secondary File "},
        {options.bFastbootzImage, ImageSlot::ZImage, "Error:zImage File "},
        {options.bFastbootRamdisk, ImageSlot::Ramdisk, "Error:ramdisk File "},
        {options.bFastbootSystemImage, ImageSlot::System, "Error:system File "},
        {options.bFastbootRamdisk_recoveryImage, ImageSlot::RamdiskRecovery, "Error: File "},
        {options.bFastbootUserdataImage, ImageSlot::Userdata, "Error: File "},
        {options.bFastbootzImage_recoveryImage, ImageSlot::ZImageRecovery, "Error: File "},
    };
    for (const auto& single : singles) {
        if (single.selected) list.Slot(single.slot, single.missingPrefix, "Error: File ", kBelow200MiB);
    }
    if (!options.bFastbootConfiguration) return;
    const std::vector<std::string>& files = options.FastbootFileNameList;
    result.planSizes.assign(files.size(), 0);
    for (size_t i = 0; i < files.size(); ++i) {
        if (files[i] == "erase") continue;
        // An entry names a file of the image folder, or one given by its full path.
        const fs::path given(files[i]);
        const fs::path path = given.is_absolute() ? given : folder / given;
        list.File(path.string(), "Error: File ", kBelow500MiB, &result.planSizes[i]);
    }
}

void AddEfsChecks(const DownloadOptions& options, CheckList& list) {
    if (options.bRawAppsEFS) list.Slot(ImageSlot::RawAppsEfs, "Error: File ", kBelow100MiB);
    if (!options.bEFS) return;
    if (options.ProjectIndex == 7) {
        list.Slot(ImageSlot::CEfs, "Error: File ", kBelow100MiB);
        list.Slot(ImageSlot::AppsEfs, "Error: File ", kBelow100MiB);
    } else if (options.ProjectIndex == 46) {
        list.Slot(ImageSlot::AppsEfs, "Error: File ", kBelow100MiB);
    } else {
        list.Slot(ImageSlot::Efs, "Error:EFS file ", kBelow100MiB);
    }
}

// The checks of one pass, in the order they run.
std::vector<Check> ChecksFor(const DownloadOptions& options, const fs::path& folder, ImageVerification& result) {
    CheckList list(result);
    if (options.bRestore && !options.bBackup) {
        list.Existence(result.atBackupPath, "Error: File ");
        list.Existence(result.nvBackupPath, "Error: File ");
    }
    AddSerialImageChecks(options, list);
    AddFastbootChecks(options, folder, result, list);
    AddEfsChecks(options, list);
    if (options.bPartOfEFS) {
        result.partOfEfsSizes.assign(result.partOfEfsPaths.size(), 0);
        for (size_t i = 0; i < result.partOfEfsPaths.size(); ++i) {
            list.File(result.partOfEfsPaths[i], "Error: File ", kBelow200MiB, &result.partOfEfsSizes[i]);
        }
    }
    if (options.bPCSuite) list.Slot(ImageSlot::PcSuite, "Error:PCSuit file ", kBelow240MiB);
    if (options.bRpmBootloader) list.Slot(ImageSlot::Rpm, "Error: File ", kBelow100MiB);
    return std::move(list.checks());
}

// The failure message of one check, or empty when it passes.
std::string Judge(platform::Files& files, const Check& check) {
    const std::optional<uint64_t> size = check.path.empty() ? std::nullopt : files.SizeOf(check.path);
    if (!size) return check.missingPrefix + check.path + " does not exist!\n";
    if (check.maxBytes && (*size == 0 || *size > *check.maxBytes)) {
        return check.sizePrefix + check.path + " size error!\n";
    }
    // Every bound is below 4 GiB, so a recorded size always fits.
    if (check.size) *check.size = static_cast<uint32_t>(*size);
    return {};
}

ImageFileRow RowOf(const std::string& path) {
    const fs::path file(path);
    std::string location = file.parent_path().string();
    if (location.empty() || location.back() != fs::path::preferred_separator) location += fs::path::preferred_separator;
    return {file.filename().string(), location};
}

std::string PartOfEfsName(const std::string& entry) {
    const size_t slash = entry.rfind('/');
    return slash == std::string::npos ? entry : entry.substr(slash + 1);
}

}  // namespace

void ScanImageFolder(const ImageCheckServices& services, const DownloadOptions& options, const fs::path& folder,
                     ImageSlotPaths& paths) {
    const auto entries = services.files.ListFolder(folder);
    if (!entries) return;
    for (const platform::FolderEntry& entry : *entries) {
        if (entry.kind == platform::FileKind::Folder) {
            ScanImageFolder(services, options, folder / entry.name, paths);
        } else if (entry.kind == platform::FileKind::Regular) {
            AssignFile(services, options, folder, entry.name, paths);
        }
    }
}

ImageVerification CheckImages(const ImageCheckServices& services, const DownloadOptions& options,
                              const std::string& folderText, const ImageCheckContext& context) {
    ImageVerification result;
    if (folderText.empty()) return result;
    const fs::path folder(folderText);
    ScanImageFolder(services, options, folder, result.paths);

    const fs::path backupFolder = context.reupdate ? context.backupFolder : folder;
    result.nvBackupPath = (backupFolder / "nv.bak").string();
    result.atBackupPath = (backupFolder / "at.bak").string();
    if (options.bPartOfEFS) {
        for (const std::string& entry : options.AddFilesList) {
            result.partOfEfsPaths.push_back((folder / PartOfEfsName(entry)).string());
        }
    }

    for (const Check& check : ChecksFor(options, folder, result)) {
        result.message = Judge(services.files, check);
        if (!result.message.empty()) {
            services.dialogs.ShowMessage("", result.message, platform::DialogButtons::Ok, platform::DialogIcon::None);
            result.fileList.clear();
            return result;
        }
        if (check.listed) result.fileList.push_back(RowOf(check.path));
    }
    for (uint32_t size : result.sizes) result.total += size;
    for (uint32_t size : result.planSizes) result.total += size;
    for (uint32_t size : result.partOfEfsSizes) result.total += size;
    return result;
}

}  // namespace firmora::package
