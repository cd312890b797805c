#include "download/plan_input.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <system_error>

namespace firmora::download {

namespace {

namespace fs = std::filesystem;

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

// The file `name` stands for in `folder`.
fs::path Locate(const fs::path& folder, const std::string& name) {
    const fs::path given(name);
    if (given.is_absolute()) return given;
    const fs::path exact = folder / given;
    std::error_code ec;
    if (fs::exists(exact, ec) || given.has_parent_path()) return exact;
    const std::string wanted = Lower(name);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        if (Lower(it->path().filename().string()) == wanted) return it->path();
    }
    return exact;
}

// Sizes one image file; on failure leaves the reason in `error`.
std::optional<PlanImage> Measure(const fs::path& folder, const std::string& name, std::string& error) {
    const fs::path path = Locate(folder, name);
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) {
        error = "Image file not found: " + path.string();
        return std::nullopt;
    }
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) {
        error = "Image file cannot be read: " + path.string() + " (" + ec.message() + ")";
        return std::nullopt;
    }
    // The protocol announces a download in eight hexadecimal digits.
    if (size > std::numeric_limits<uint32_t>::max()) {
        error = "Image file too large for one download: " + path.string() + " (" + std::to_string(size) + " bytes)";
        return std::nullopt;
    }
    return PlanImage{path.string(), static_cast<uint32_t>(size)};
}

}  // namespace

bool IsSkippedPlanFile(const std::string& file) { return file.find("tzfastboot.mbn") != std::string::npos; }

std::string EmptyImageProblem(const PlanInput& input) {
    for (const auto& image : input.singleImages) {
        if (image && image->size == 0) return "Image file is empty: " + image->path;
    }
    if (!input.configuration) return {};
    for (const PlanEntry& entry : input.entries) {
        if (entry.file != kEraseFile && !IsSkippedPlanFile(entry.file) && entry.size == 0) {
            return "Image file is empty: " + entry.file;
        }
    }
    return {};
}

uint64_t PlanInput::TotalBytes() const {
    uint64_t total = 0;
    for (const auto& image : singleImages) {
        if (image) total += image->size;
    }
    if (configuration) {
        for (const PlanEntry& entry : entries) {
            if (!IsSkippedPlanFile(entry.file)) total += entry.size;
        }
    }
    return total;
}

PlanInputResult BuildPlanInput(const package::DownloadOptions& options, const fs::path& imageFolder) {
    PlanInputResult result;
    PlanInput& input = result.input;
    const auto images = SingleImages();
    for (size_t i = 0; i < images.size(); ++i) {
        if (!(options.*images[i].selection)) continue;
        input.singleImages[i] = Measure(imageFolder, images[i].fileName, result.error);
        if (!result.ok()) return result;
    }
    input.systemImageInPackets = options.bFastbootSystemImageMutil;
    input.configuration = options.bFastbootConfiguration;
    if (!input.configuration) return result;

    const size_t count = std::min(options.FastbootFileCmdList.size(), options.FastbootFileNameList.size());
    for (size_t i = 0; i < count; ++i) {
        PlanEntry entry{options.FastbootFileCmdList[i], options.FastbootFileNameList[i], 0};
        if (entry.file != kEraseFile) {
            const std::optional<PlanImage> image = Measure(imageFolder, entry.file, result.error);
            if (!image) return result;
            entry.file = image->path;
            entry.size = image->size;
        }
        input.entries.push_back(std::move(entry));
    }
    return result;
}

}  // namespace firmora::download
