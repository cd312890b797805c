#include "platform/files.h"

#include <algorithm>
#include <fstream>
#include <system_error>

#include "platform/last_error.h"

namespace firmora::platform {

namespace fs = std::filesystem;

namespace {

class StreamSource final : public ByteSource {
public:
    StreamSource(std::ifstream in, std::string name) : in_(std::move(in)), name_(std::move(name)) {}

    int64_t Read(std::span<char> buffer) override {
        in_.read(buffer.data(), static_cast<std::streamsize>(buffer.size()));
        if (in_.bad()) return -1;
        return in_.gcount();
    }
    std::string Error() const override { return name_ + " cannot be read"; }

private:
    std::ifstream in_;
    std::string name_;
};

}  // namespace

std::unique_ptr<ByteSource> ReadInPieces(const std::filesystem::path& path, std::string& error) {
    // A folder would read as empty and a FIFO could block for ever.
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec)) {
        error = path.string() + " is not a regular file";
        return nullptr;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path.string() + " cannot be opened";
        return nullptr;
    }
    return std::make_unique<StreamSource>(std::move(in), path.string());
}

std::optional<std::vector<FolderEntry>> Files::ListFolder(const fs::path& folder) {
    if (KindOf(folder) != FileKind::Folder) return std::nullopt;
    std::error_code ec;
    std::vector<FolderEntry> entries;
    for (fs::directory_iterator it(folder, ec), end; it != end; it.increment(ec)) {
        if (ec) break;
        entries.push_back({it->path().filename().string(), KindOf(it->path())});
    }
    if (ec) return std::nullopt;
    std::sort(entries.begin(), entries.end(),
              [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
    return entries;
}

std::optional<uint64_t> Files::SizeOf(const fs::path& path) {
    if (KindOf(path) != FileKind::Regular) return std::nullopt;
    std::error_code ec;
    const uintmax_t size = fs::file_size(path, ec);
    if (ec) return std::nullopt;
    return static_cast<uint64_t>(size);
}

std::string RefusalSentence(const fs::path& path, ReadRefusal refusal, uint64_t maxBytes) {
    const std::string name = path.string();
    switch (refusal) {
        case ReadRefusal::Missing: return name + " does not exist";
        case ReadRefusal::Link: return name + " is a symbolic link";
        case ReadRefusal::NotRegular: return name + " is not a regular file";
        case ReadRefusal::TooLarge: return name + " is larger than " + std::to_string(maxBytes) + " bytes";
        case ReadRefusal::None:
        case ReadRefusal::Failed: break;
    }
    return name + " cannot be read (error " + std::to_string(LastError()) + ")";
}

std::optional<std::string> ReadFileUpTo(Files& files, const fs::path& path, uint64_t maxBytes, std::string& error) {
    ReadRefusal refusal = ReadRefusal::None;
    std::optional<std::string> content = files.ReadWhole(path, maxBytes, refusal);
    if (!content) error = RefusalSentence(path, refusal, maxBytes);
    return content;
}

}  // namespace firmora::platform
