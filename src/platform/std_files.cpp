#include "platform/std_files.h"

#include <fstream>
#include <system_error>

namespace firmora::platform {

namespace fs = std::filesystem;

bool StdFiles::ReplaceAtomically(const fs::path& requested, std::string_view content) {
    std::error_code ec;
    const fs::path path = KindOf(requested) == FileKind::Link ? fs::weakly_canonical(requested, ec) : requested;
    if (ec) return false;
    fs::path temporary = path;
    temporary += ".partial";
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        if (!out.write(content.data(), static_cast<std::streamsize>(content.size())) || !out.flush()) {
            fs::remove(temporary, ec);
            return false;
        }
    }
    fs::rename(temporary, path, ec);
    if (ec) fs::remove(temporary, ec);
    return !ec;
}

bool StdFiles::ReplaceFromSource(const fs::path& path, ByteSource& source) {
    std::error_code ec;
    fs::path temporary = path;
    temporary += ".partial";
    bool written = true;
    {
        std::ofstream out(temporary, std::ios::binary | std::ios::trunc);
        std::string buffer(65536, '\0');
        for (int64_t got; written && (got = source.Read(buffer)) != 0;) {
            written = got > 0 && out.write(buffer.data(), got);
        }
        written = written && out.flush();
    }
    if (written) fs::rename(temporary, path, ec);
    if (!written || ec) fs::remove(temporary, ec);
    return written && !ec;
}

std::optional<std::string> StdFiles::ReadWhole(const fs::path& path, uint64_t maxBytes, ReadRefusal& refusal) {
    switch (KindOf(path)) {
        case FileKind::Regular: break;
        case FileKind::Missing: refusal = ReadRefusal::Missing; return std::nullopt;
        case FileKind::Link: refusal = ReadRefusal::Link; return std::nullopt;
        case FileKind::Folder:
        case FileKind::Other: refusal = ReadRefusal::NotRegular; return std::nullopt;
    }
    std::error_code ec;
    if (fs::file_size(path, ec) > maxBytes && !ec) {
        refusal = ReadRefusal::TooLarge;
        return std::nullopt;
    }
    std::ifstream in(path, std::ios::binary);
    std::string content(maxBytes < 65536 ? maxBytes + 1 : 65536, '\0');
    std::string whole;
    while (in) {
        in.read(content.data(), static_cast<std::streamsize>(content.size()));
        whole.append(content.data(), static_cast<size_t>(in.gcount()));
        if (whole.size() > maxBytes) {
            refusal = ReadRefusal::TooLarge;
            return std::nullopt;
        }
    }
    if (!in.eof()) {
        refusal = ReadRefusal::Failed;
        return std::nullopt;
    }
    refusal = ReadRefusal::None;
    return whole;
}

FileKind StdFiles::KindOf(const fs::path& path) {
    std::error_code ec;
    const fs::file_status status = fs::symlink_status(path, ec);
    if (status.type() == fs::file_type::not_found) return FileKind::Missing;
    if (ec) return FileKind::Other;
    if (fs::is_symlink(status)) return FileKind::Link;
    if (fs::is_regular_file(status)) return FileKind::Regular;
    if (fs::is_directory(status)) return FileKind::Folder;
    return FileKind::Other;
}

}  // namespace firmora::platform
