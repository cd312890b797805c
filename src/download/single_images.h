#pragma once
// The nine single images of [DownloadItems] a fastboot plan can write, in
// the order it writes them: the selection that picks each, its file in the
// image folder, its flash command and what the plan reports once it is in.

#include <cstddef>
#include <span>

#include "download/fastboot_commands.h"
#include "package/download_options.h"

namespace firmora::download {

struct SingleImage {
    bool package::DownloadOptions::*selection;
    const char* fileName;
    FixedFlash flash;
    const char* successText;
};

inline constexpr size_t kSingleImageCount = 9;

std::span<const SingleImage, kSingleImageCount> SingleImages();

}  // namespace firmora::download
