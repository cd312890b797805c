#pragma once
// The file seam on POSIX: replace by mkstemp, fsync and rename; reads that
// open with O_NOFOLLOW and judge the opened file itself.

#include "platform/files.h"

namespace firmora::platform {

class PosixFiles final : public Files {
public:
    bool ReplaceAtomically(const std::filesystem::path& path, std::string_view content) override;
    bool ReplaceFromSource(const std::filesystem::path& path, ByteSource& source) override;
    std::optional<std::string> ReadWhole(const std::filesystem::path& path, uint64_t maxBytes,
                                         ReadRefusal& refusal) override;
    FileKind KindOf(const std::filesystem::path& path) override;
};

}  // namespace firmora::platform
