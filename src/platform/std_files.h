#pragma once
// The file seam over the standard library alone, for tests and the virtual
// modem's helper programs. Unlike a platform's own implementation it checks
// a path's kind before opening it rather than while opening it, and its
// replace does not flush to the device.

#include "platform/files.h"

namespace firmora::platform {

class StdFiles final : public Files {
public:
    bool ReplaceAtomically(const std::filesystem::path& path, std::string_view content) override;
    bool ReplaceFromSource(const std::filesystem::path& path, ByteSource& source) override;
    std::optional<std::string> ReadWhole(const std::filesystem::path& path, uint64_t maxBytes,
                                         ReadRefusal& refusal) override;
    FileKind KindOf(const std::filesystem::path& path) override;
};

}  // namespace firmora::platform
