#pragma once
// What a fastboot plan writes: the selected single images and the
// [FastbootDownloadFiles] entries, each with its file's full path and its
// size as the 32-bit byte count the protocol announces. BuildPlanInput makes
// it from the parsed configuration and an image folder, and refuses a
// missing or unusable file before any device is touched.

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "download/single_images.h"
#include "package/download_options.h"

namespace firmora::download {

// The file word of a plan entry that erases its partition.
inline constexpr const char* kEraseFile = "erase";

struct PlanImage {
    std::string path;
    uint32_t size = 0;
};

struct PlanEntry {
    std::string partition;
    std::string file;   // kEraseFile, or the image's full path
    uint32_t size = 0;  // 0 for an erase
};

struct PlanInput {
    // By position in SingleImages(); empty where the image is not selected.
    std::array<std::optional<PlanImage>, kSingleImageCount> singleImages;
    bool systemImageInPackets = false;  // bFastbootSystemImageMutil
    bool configuration = false;         // bFastbootConfiguration: the entries are written
    std::vector<PlanEntry> entries;

    // Image bytes the plan sends to the device (skipped entries left out).
    uint64_t TotalBytes() const;
};

struct PlanInputResult {
    PlanInput input;
    std::string error;  // empty when the input is complete
    bool ok() const { return error.empty(); }
};

// File names are looked up in `imageFolder` (an exact name first, then one
// that differs only in case, as packages are made on a system that ignores
// case); an absolute name is used as it is.
PlanInputResult BuildPlanInput(const package::DownloadOptions& options, const std::filesystem::path& imageFolder);

// True for an entry the plan passes over without a command: one whose file
// path contains "tzfastboot.mbn" (exact case).
bool IsSkippedPlanFile(const std::string& file);

// "Image file is empty: NAME" for the first image the input would write that
// holds no byte, or empty. An empty image would leave its partition holding
// nothing; packages never carry one on purpose.
std::string EmptyImageProblem(const PlanInput& input);

}  // namespace firmora::download
