#include "platform/files.h"

#include <fstream>

#include "platform/last_error.h"

namespace firmora::platform {

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
