#include "cli/config_file.h"

#include <fstream>
#include <system_error>

namespace firmora::cli {

std::string CheckReadableConfig(const std::filesystem::path& path) {
    namespace fs = std::filesystem;
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) return "config file not found: " + path.string();
    if (fs::is_directory(status)) return "config file is a directory: " + path.string();
    // Opening a FIFO would wait for a writer, and a device has no end to read to.
    if (!fs::is_regular_file(status)) return "config file is not a regular file: " + path.string();
    if (!std::ifstream(path, std::ios::binary)) return "cannot read config file: " + path.string();
    return {};
}

}  // namespace firmora::cli
