#include "platform/posix/zip_resource_bundle.h"

#include <zip.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cstring>
#include <fstream>
#include <map>
#include <system_error>

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;

// ZIP end records (APPNOTE 4.3.14 to 4.3.16).
constexpr uint32_t kEndOfCentralDirectory = 0x06054b50;
constexpr uint32_t kZip64EndLocator = 0x07064b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kCentralFileHeader = 0x02014b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kMaxComment = 65535;

uint64_t Little(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

bool ReadAt(std::ifstream& in, uint64_t offset, unsigned char* into, size_t count) {
    in.clear();
    in.seekg(static_cast<std::streamoff>(offset));
    return static_cast<bool>(in.read(reinterpret_cast<char*>(into), static_cast<std::streamsize>(count)));
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string ZipError(zip_t* archive) { return zip_strerror(archive); }

class ZipEntrySource final : public ByteSource {
public:
    ZipEntrySource(zip_file_t* file, std::string name) : file_(file), name_(std::move(name)) {}
    ~ZipEntrySource() override { zip_fclose(file_); }

    int64_t Read(std::span<char> buffer) override {
        const zip_int64_t got = zip_fread(file_, buffer.data(), buffer.size());
        if (got < 0) error_ = name_ + " cannot be read from the package: " + zip_file_strerror(file_);
        return got;
    }
    std::string Error() const override { return error_; }

private:
    zip_file_t* file_;
    std::string name_;
    std::string error_;
};

class ZipBundle final : public ResourceBundle {
public:
    explicit ZipBundle(zip_t* archive) : archive_(archive) {
        const zip_int64_t count = zip_get_num_entries(archive_, 0);
        for (zip_int64_t i = 0; i < count; ++i) {
            zip_stat_t stat;
            if (zip_stat_index(archive_, static_cast<zip_uint64_t>(i), 0, &stat) != 0) continue;
            const std::string path = stat.name;
            const size_t slash = path.find('/');
            if (slash == std::string::npos || slash == 0 || slash + 1 == path.size() ||
                path.find('/', slash + 1) != std::string::npos) {
                continue;
            }
            entries_.push_back({path.substr(0, slash), path.substr(slash + 1), stat.size});
            indices_.emplace(Lower(path), static_cast<zip_uint64_t>(i));
        }
    }
    ~ZipBundle() override { zip_discard(archive_); }

    std::unique_ptr<ByteSource> Open(std::string_view type, std::string_view name, std::string& error) override {
        const std::string path = BundleEntryPath(type, name);
        const auto found = indices_.find(Lower(path));
        if (found == indices_.end()) {
            error = "The package carries no " + path;
            return nullptr;
        }
        zip_file_t* file = zip_fopen_index(archive_, found->second, 0);
        if (file == nullptr) {
            error = path + " cannot be read from the package: " + ZipError(archive_);
            return nullptr;
        }
        return std::make_unique<ZipEntrySource>(file, path);
    }

    std::vector<BundleEntry> Entries() const override { return entries_; }

private:
    zip_t* archive_;
    std::vector<BundleEntry> entries_;
    std::map<std::string, zip_uint64_t> indices_;
};

// Copies `count` bytes (all that is left when nullopt) from `in` to `out`.
bool CopyBytes(std::ifstream& in, std::ofstream& out, std::optional<uint64_t> count) {
    std::vector<char> buffer(1 << 20);
    uint64_t left = count.value_or(UINT64_MAX);
    while (left > 0) {
        const auto want = static_cast<std::streamsize>(std::min<uint64_t>(left, buffer.size()));
        in.read(buffer.data(), want);
        const std::streamsize got = in.gcount();
        if (got == 0) break;
        if (!out.write(buffer.data(), got)) return false;
        left -= static_cast<uint64_t>(got);
    }
    return count ? left == 0 : in.eof();
}

}  // namespace

std::optional<uint64_t> FindAppendedArchive(const fs::path& file, std::string& error) {
    std::ifstream in(file, std::ios::binary);
    std::error_code ec;
    const uint64_t size = fs::file_size(file, ec);
    if (!in || ec) {
        error = file.string() + " cannot be read";
        return std::nullopt;
    }
    error = file.string() + " carries no package";
    if (size < kEndRecordSize) return std::nullopt;

    // The end record is the last thing in the file but for its comment.
    const uint64_t tailSize = std::min<uint64_t>(size, kEndRecordSize + kMaxComment);
    std::vector<unsigned char> tail(tailSize);
    if (!ReadAt(in, size - tailSize, tail.data(), tail.size())) return std::nullopt;
    for (size_t at = tailSize - kEndRecordSize + 1; at-- > 0;) {
        const unsigned char* record = tail.data() + at;
        if (Little(record, 4) != kEndOfCentralDirectory) continue;
        if (at + kEndRecordSize + Little(record + 20, 2) != tailSize) continue;
        const uint64_t endAt = size - tailSize + at;
        uint64_t entries = Little(record + 10, 2);
        uint64_t directorySize = Little(record + 12, 4);
        uint64_t directoryOffset = Little(record + 16, 4);
        uint64_t directoryEnd = endAt;  // where the central directory ends
        if (entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF) {
            // A ZIP64 archive: its own end record, found through the locator,
            // holds the true figures and follows the central directory.
            std::array<unsigned char, kZip64LocatorSize> locator{};
            if (endAt < kZip64LocatorSize || !ReadAt(in, endAt - kZip64LocatorSize, locator.data(), locator.size()) ||
                Little(locator.data(), 4) != kZip64EndLocator) {
                continue;
            }
            std::array<unsigned char, 56> record64{};
            const uint64_t record64At = endAt - kZip64LocatorSize - record64.size();
            if (endAt < kZip64LocatorSize + record64.size() ||
                !ReadAt(in, record64At, record64.data(), record64.size()) ||
                Little(record64.data(), 4) != kZip64End) {
                continue;
            }
            entries = Little(record64.data() + 32, 8);
            directorySize = Little(record64.data() + 40, 8);
            directoryOffset = Little(record64.data() + 48, 8);
            directoryEnd = record64At;
        }
        if (directorySize + directoryOffset > directoryEnd) continue;
        const uint64_t start = directoryEnd - directorySize - directoryOffset;
        std::array<unsigned char, 4> signature{};
        if (entries > 0 && (!ReadAt(in, start + directoryOffset, signature.data(), signature.size()) ||
                            Little(signature.data(), 4) != kCentralFileHeader)) {
            continue;
        }
        error.clear();
        return start;
    }
    return std::nullopt;
}

std::unique_ptr<ResourceBundle> OpenZipBundle(const fs::path& file, std::string& error) {
    const std::optional<uint64_t> start = FindAppendedArchive(file, error);
    if (!start) return nullptr;
    zip_error_t zipError;
    zip_error_init(&zipError);
    zip_source_t* source = zip_source_file_create(file.c_str(), *start, -1, &zipError);
    zip_t* archive = source == nullptr ? nullptr : zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &zipError);
    if (archive == nullptr) {
        if (source != nullptr) zip_source_free(source);
        error = "the package in " + file.string() + " cannot be read: " + zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return nullptr;
    }
    zip_error_fini(&zipError);
    return std::make_unique<ZipBundle>(archive);
}

fs::path RunningProgramFile() {
    std::error_code ec;
    fs::path program = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path("/proc/self/exe") : program;
}

std::unique_ptr<ResourceBundle> OpenProgramBundle(std::string& error) {
    // /proc/self/exe itself, not the name it shows: the file that runs,
    // even when a newer build has replaced it under that name since.
    return OpenZipBundle("/proc/self/exe", error);
}

bool WriteProductWithBundle(const fs::path& program, const std::vector<BundleFile>& files, const fs::path& output,
                            std::string& error) {
    std::error_code ec;
    fs::path archivePath = output;
    archivePath += ".zip.partial";
    fs::path productPath = output;
    productPath += ".partial";
    const auto fail = [&](std::string text) {
        error = std::move(text);
        fs::remove(archivePath, ec);
        fs::remove(productPath, ec);
        return false;
    };

    int zipErrorCode = 0;
    zip_t* archive = zip_open(archivePath.c_str(), ZIP_CREATE | ZIP_TRUNCATE, &zipErrorCode);
    if (archive == nullptr) return fail("cannot make the archive " + archivePath.string());
    for (const BundleFile& file : files) {
        const std::string path = BundleEntryPath(file.type, file.name);
        zip_source_t* source = zip_source_file(archive, file.source.c_str(), 0, -1);
        zip_int64_t index = source == nullptr ? -1 : zip_file_add(archive, path.c_str(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            if (source != nullptr) zip_source_free(source);
            const std::string why = ZipError(archive);
            zip_discard(archive);
            return fail("cannot add " + file.source.string() + " as " + path + ": " + why);
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), ZIP_CM_STORE, 0);
    }
    if (zip_close(archive) != 0) {
        const std::string why = ZipError(archive);
        zip_discard(archive);
        return fail("cannot write the archive: " + why);
    }

    std::string ignored;
    const std::optional<uint64_t> carried = FindAppendedArchive(program, ignored);
    {
        std::ifstream programIn(program, std::ios::binary);
        std::ifstream archiveIn(archivePath, std::ios::binary);
        std::ofstream out(productPath, std::ios::binary | std::ios::trunc);
        if (!programIn) return fail("cannot read the program " + program.string());
        if (!out) return fail("cannot write " + productPath.string());
        if (!CopyBytes(programIn, out, carried) || !CopyBytes(archiveIn, out, std::nullopt) || !out.flush()) {
            return fail("cannot write " + productPath.string());
        }
    }
    fs::permissions(productPath, fs::status(program, ec).permissions(), ec);
    fs::rename(productPath, output, ec);
    if (ec) return fail("cannot replace " + output.string() + ": " + ec.message());
    fs::remove(archivePath, ec);
    return true;
}

}  // namespace firmora::platform
