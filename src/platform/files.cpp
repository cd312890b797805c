#include "platform/files.h"

#include "platform/last_error.h"

namespace firmora::platform {

std::optional<std::string> ReadFileUpTo(Files& files, const std::filesystem::path& path, uint64_t maxBytes,
                                        std::string& error) {
    ReadRefusal refusal = ReadRefusal::None;
    std::optional<std::string> content = files.ReadWhole(path, maxBytes, refusal);
    if (content) return content;
    const std::string name = path.string();
    switch (refusal) {
        case ReadRefusal::Missing: error = name + " does not exist"; break;
        case ReadRefusal::Link: error = name + " is a symbolic link"; break;
        case ReadRefusal::NotRegular: error = name + " is not a regular file"; break;
        case ReadRefusal::TooLarge: error = name + " is larger than " + std::to_string(maxBytes) + " bytes"; break;
        case ReadRefusal::None:
        case ReadRefusal::Failed: error = name + " cannot be read (error " + std::to_string(LastError()) + ")"; break;
    }
    return std::nullopt;
}

}  // namespace firmora::platform
