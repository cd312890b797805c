#pragma once
// The image checks before a run: the image folder is scanned, each file it
// holds assigned by name to one of the images a configuration can select,
// and every selected image must then exist with a plausible size. The sizes
// recorded go to the worker (the fastboot plan's byte counts, the total that
// scales the progress); the accepted files are the window's file list. The
// first failing check is shown in a message box and leaves the list empty,
// so that Start refuses the run.

#include <array>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "core/line_log.h"
#include "package/download_options.h"
#include "platform/dialogs.h"
#include "platform/files.h"

namespace firmora::package {

enum class ImageSlot {
    Programmer,
    Partition,
    Amss,
    AmssHeader,
    Efs,
    CEfs,
    AppsEfs,
    RawAppsEfs,
    Dsp1,
    Dsp2,
    Qcsbl,
    QcsblHeader,
    Oemsbl,
    OemsblHeader,
    Fsbl,
    Dbl,
    Osbl,
    Sbl1,
    Sbl2Dl,
    Rpm,
    AppsHeader,
    Apps,
    AppsBootHeader,
    AppsBoot,
    Cfgdata,
    Phone,
    Boot,
    PrimaryGpt,
    SecondaryGpt,
    ZImage,
    Ramdisk,
    System,
    RamdiskRecovery,
    Userdata,
    ZImageRecovery,
    PcSuite,
    Count
};

inline constexpr size_t kImageSlotCount = static_cast<size_t>(ImageSlot::Count);

// A row of the file list: the file's name and its folder with a trailing
// separator.
struct ImageFileRow {
    std::string name;
    std::string location;
    bool operator==(const ImageFileRow&) const = default;
};

// One file per slot, empty where the scan assigned none.
using ImageSlotPaths = std::array<std::string, kImageSlotCount>;

struct ImageVerification {
    ImageSlotPaths paths;
    std::array<uint32_t, kImageSlotCount> sizes{};  // 0 where not checked
    std::string atBackupPath;
    std::string nvBackupPath;
    // One per [FastbootDownloadFiles] entry (0 for "erase"), one per
    // part-of-EFS file.
    std::vector<uint32_t> planSizes;
    std::vector<std::string> partOfEfsPaths;
    std::vector<uint32_t> partOfEfsSizes;
    uint64_t total = 0;  // images only, computed once every check passed
    std::vector<ImageFileRow> fileList;
    std::string message;  // the failing check's message; empty when none failed

    const std::string& Path(ImageSlot slot) const { return paths[static_cast<size_t>(slot)]; }
    uint32_t Size(ImageSlot slot) const { return sizes[static_cast<size_t>(slot)]; }
};

struct ImageCheckServices {
    platform::Files& files;
    platform::Dialogs& dialogs;
    core::LineLog* log = nullptr;  // receives why a programmer did not convert
};

struct ImageCheckContext {
    // During Re-update the backup files are looked for in the backup folder.
    bool reupdate = false;
    std::filesystem::path backupFolder;
};

// Assigns the files under `folder` (subfolders included, each folder's
// entries in name order, a later match replacing an earlier one) to their
// slots. A name holding ".hex" is the programmer: it is converted, and on
// success its binary fills the programmer slot. Symbolic links and other
// non-regular entries are passed over.
void ScanImageFolder(const ImageCheckServices& services, const DownloadOptions& options,
                     const std::filesystem::path& folder, ImageSlotPaths& paths);

// A whole pass over `folder`: the scan, then every check the options call
// for, in order. An empty folder text gives an empty result and no message.
ImageVerification CheckImages(const ImageCheckServices& services, const DownloadOptions& options,
                              const std::string& folder, const ImageCheckContext& context = {});

}  // namespace firmora::package
