#include "platform/posix/zip_resource_bundle.h"

#include <fcntl.h>
#include <isa-l/crc.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zip.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <system_error>

namespace firmora::platform {
namespace {

namespace fs = std::filesystem;

// ZIP end records (APPNOTE 4.3.14 to 4.3.16).
constexpr uint32_t kEndOfCentralDirectory = 0x06054b50;
constexpr uint32_t kZip64EndLocator = 0x07064b50;
constexpr uint32_t kZip64End = 0x06064b50;
constexpr uint32_t kCentralFileHeader = 0x02014b50;
constexpr uint32_t kLocalFileHeader = 0x04034b50;
constexpr size_t kEndRecordSize = 22;
constexpr size_t kCentralHeaderSize = 46;
constexpr size_t kLocalHeaderSize = 30;
constexpr uint16_t kZip64ExtraField = 0x0001;
constexpr size_t kZip64LocatorSize = 20;
constexpr size_t kMaxComment = 65535;
// A package's central directory is a few KiB; one larger than this is not
// walked, and its entries are all read through libzip.
constexpr uint64_t kMaxWalkedDirectory = 16 * 1024 * 1024;

uint64_t Little(const unsigned char* bytes, int count) {
    uint64_t value = 0;
    for (int i = count - 1; i >= 0; --i) value = (value << 8) | bytes[i];
    return value;
}

bool ReadAt(int fd, uint64_t offset, unsigned char* into, size_t count) {
    while (count > 0) {
        const ssize_t got = ::pread(fd, into, count, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        into += got;
        offset += static_cast<uint64_t>(got);
        count -= static_cast<size_t>(got);
    }
    return true;
}

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

std::string ZipError(zip_t* archive) { return zip_strerror(archive); }

// Where the archive lies in its file and where its central directory is.
struct ArchiveLayout {
    uint64_t start = 0;  // the archive's first byte in the file
    uint64_t directoryOffset = 0;
    uint64_t directorySize = 0;
    uint64_t entries = 0;
};

// Each central directory entry's name and the offset of its local header
// from the archive's first byte, in the directory's order (libzip's index
// order); empty when the directory cannot be walked.
std::vector<std::pair<std::string, uint64_t>> LocalHeaders(int fd, const ArchiveLayout& layout) {
    std::vector<std::pair<std::string, uint64_t>> headers;
    if (layout.directorySize > kMaxWalkedDirectory) return headers;
    std::vector<unsigned char> directory(layout.directorySize);
    if (!ReadAt(fd, layout.start + layout.directoryOffset, directory.data(), directory.size())) return headers;
    size_t at = 0;
    for (uint64_t i = 0; i < layout.entries; ++i) {
        const unsigned char* entry = directory.data() + at;
        if (directory.size() - at < kCentralHeaderSize || Little(entry, 4) != kCentralFileHeader) return {};
        const size_t nameSize = Little(entry + 28, 2);
        const size_t extraSize = Little(entry + 30, 2);
        const size_t commentSize = Little(entry + 32, 2);
        if (directory.size() - at - kCentralHeaderSize < nameSize + extraSize + commentSize) return {};
        uint64_t offset = Little(entry + 42, 4);
        if (offset == 0xFFFFFFFF) {
            // The true offset is in the ZIP64 field, after the sizes that
            // overflow their own fields.
            const unsigned char* extra = entry + kCentralHeaderSize + nameSize;
            bool found = false;
            for (size_t field = 0; field + 4 <= extraSize && !found;) {
                const uint64_t id = Little(extra + field, 2);
                const size_t size = Little(extra + field + 2, 2);
                if (field + 4 + size > extraSize) return {};
                if (id == kZip64ExtraField) {
                    const size_t skip = (Little(entry + 24, 4) == 0xFFFFFFFF ? 8 : 0) +
                                        (Little(entry + 20, 4) == 0xFFFFFFFF ? 8 : 0);
                    if (skip + 8 > size) return {};
                    offset = Little(extra + field + 4 + skip, 8);
                    found = true;
                }
                field += 4 + size;
            }
            if (!found) return {};
        }
        headers.emplace_back(std::string(reinterpret_cast<const char*>(entry + kCentralHeaderSize), nameSize),
                             offset);
        at += kCentralHeaderSize + nameSize + extraSize + commentSize;
    }
    return headers;
}

// The open file a bundle reads, shared by the bundle and its sources.
struct ArchiveFile {
    explicit ArchiveFile(int descriptor) : fd(descriptor) {}
    ~ArchiveFile() {
        if (fd >= 0) ::close(fd);
    }
    ArchiveFile(const ArchiveFile&) = delete;
    ArchiveFile& operator=(const ArchiveFile&) = delete;
    int fd;
};

// A stored entry's bytes read straight from the archive file at their
// offset into the caller's buffer, and their CRC-32 computed there, while
// the piece is still in the processor's cache, by ISA-L's vectorised CRC.
// Through libzip the bytes passed its buffers and zlib's CRC-32, which on
// its own took about as long as copying them: the unpack ran at 40 % of
// the speed of cp. The read that brings the last byte fails when the CRC-32
// is not the archive's, so a damaged entry never reaches its end as if it
// were whole, and a file that ends early fails the read that finds it.
class StoredEntrySource final : public ByteSource {
public:
    StoredEntrySource(std::shared_ptr<const ArchiveFile> file, std::string name, uint64_t dataAt, uint64_t size,
                      uint32_t crc)
        : file_(std::move(file)), name_(std::move(name)), dataAt_(dataAt), size_(size), expectedCrc_(crc) {}

    int64_t Read(std::span<char> buffer) override {
        if (!error_.empty()) return -1;
        const uint64_t want = std::min<uint64_t>(buffer.size(), size_ - read_);
        if (want == 0) return crc_ == expectedCrc_ ? 0 : Fail("CRC error");
        ssize_t got;
        do {
            got = ::pread(file_->fd, buffer.data(), want, static_cast<off_t>(dataAt_ + read_));
        } while (got < 0 && errno == EINTR);
        if (got < 0) return Fail(std::strerror(errno));
        if (got == 0) {
            return Fail("the file ends after " + std::to_string(read_) + " of its " + std::to_string(size_) +
                        " bytes");
        }
        crc_ = crc32_gzip_refl(crc_, reinterpret_cast<const unsigned char*>(buffer.data()), static_cast<uint64_t>(got));
        read_ += static_cast<uint64_t>(got);
        if (read_ == size_ && crc_ != expectedCrc_) return Fail("CRC error");
        return got;
    }
    std::string Error() const override { return error_; }

private:
    int64_t Fail(const std::string& why) {
        error_ = name_ + " cannot be read from the package: " + why;
        return -1;
    }

    std::shared_ptr<const ArchiveFile> file_;
    std::string name_;
    uint64_t dataAt_;  // in the file
    uint64_t size_;
    uint32_t expectedCrc_;
    uint64_t read_ = 0;
    uint32_t crc_ = 0;
    std::string error_;
};

// A compressed entry, read through libzip. libzip checks the CRC-32 only at
// the end and never the size the archive declares, so a damaged or hostile
// entry could inflate to far more than it says (filling the disk it is
// unpacked to) before anything failed: more bytes than declared fail the read.
class ZipEntrySource final : public ByteSource {
public:
    ZipEntrySource(zip_file_t* file, std::string name, uint64_t size)
        : file_(file), name_(std::move(name)), size_(size) {}
    ~ZipEntrySource() override { zip_fclose(file_); }

    int64_t Read(std::span<char> buffer) override {
        if (!error_.empty()) return -1;
        const zip_int64_t got = zip_fread(file_, buffer.data(), buffer.size());
        if (got < 0) {
            error_ = name_ + " cannot be read from the package: " + zip_file_strerror(file_);
            return -1;
        }
        if (static_cast<uint64_t>(got) > size_ - read_) {
            error_ = name_ + " cannot be read from the package: it holds more than the " + std::to_string(size_) +
                     " bytes the package declares";
            return -1;
        }
        read_ += static_cast<uint64_t>(got);
        return got;
    }
    std::string Error() const override { return error_; }

private:
    zip_file_t* file_;
    std::string name_;
    uint64_t size_;  // as the central directory declares it
    uint64_t read_ = 0;
    std::string error_;
};

class ZipBundle final : public ResourceBundle {
public:
    ZipBundle(zip_t* archive, std::shared_ptr<const ArchiveFile> file, const ArchiveLayout& layout)
        : archive_(archive), file_(std::move(file)) {
        const std::vector<std::pair<std::string, uint64_t>> localHeaders = LocalHeaders(file_->fd, layout);
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
            Entry entry{static_cast<zip_uint64_t>(i), stat.size, std::nullopt};
            const auto at = static_cast<size_t>(i);
            if (at < localHeaders.size() && localHeaders[at].first == path) {
                entry.stored = FindStoredBytes(stat, layout, localHeaders[at].second);
            }
            indices_.emplace(Lower(path), entry);
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
        if (const std::optional<StoredBytes>& stored = found->second.stored) {
            return std::make_unique<StoredEntrySource>(file_, path, stored->at, stored->size, stored->crc);
        }
        zip_file_t* file = zip_fopen_index(archive_, found->second.index, 0);
        if (file == nullptr) {
            error = path + " cannot be read from the package: " + ZipError(archive_);
            return nullptr;
        }
        return std::make_unique<ZipEntrySource>(file, path, found->second.size);
    }

    std::vector<BundleEntry> Entries() const override { return entries_; }

private:
    // Where a stored entry's bytes lie in the file, and their CRC-32.
    struct StoredBytes {
        uint64_t at;
        uint64_t size;
        uint32_t crc;
    };
    struct Entry {
        zip_uint64_t index;                 // libzip's
        uint64_t size;                      // uncompressed, as declared
        std::optional<StoredBytes> stored;  // when the bytes are read directly
    };

    // A stored, unencrypted entry's bytes follow its local header, whose
    // name and extra field may differ in length from the central
    // directory's. Anything unexpected leaves the entry to libzip, which
    // then gives its own reason when the archive is damaged.
    std::optional<StoredBytes> FindStoredBytes(const zip_stat_t& stat, const ArchiveLayout& layout,
                                           uint64_t localHeader) const {
        constexpr zip_uint64_t kNeeded =
            ZIP_STAT_SIZE | ZIP_STAT_COMP_SIZE | ZIP_STAT_CRC | ZIP_STAT_COMP_METHOD | ZIP_STAT_ENCRYPTION_METHOD;
        if ((stat.valid & kNeeded) != kNeeded || stat.comp_method != ZIP_CM_STORE ||
            stat.encryption_method != ZIP_EM_NONE || stat.comp_size != stat.size) {
            return std::nullopt;
        }
        std::array<unsigned char, kLocalHeaderSize> header{};
        const uint64_t headerAt = layout.start + localHeader;
        if (!ReadAt(file_->fd, headerAt, header.data(), header.size()) ||
            Little(header.data(), 4) != kLocalFileHeader) {
            return std::nullopt;
        }
        const uint64_t at = headerAt + kLocalHeaderSize + Little(header.data() + 26, 2) + Little(header.data() + 28, 2);
        const uint64_t directoryAt = layout.start + layout.directoryOffset;
        if (at > directoryAt || stat.size > directoryAt - at) return std::nullopt;
        return StoredBytes{at, stat.size, static_cast<uint32_t>(stat.crc)};
    }

    zip_t* archive_;
    std::shared_ptr<const ArchiveFile> file_;
    std::vector<BundleEntry> entries_;
    std::map<std::string, Entry> indices_;
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

namespace {

// Where the archive at the end of the open `file` lies, from its end records.
std::optional<ArchiveLayout> LocateArchive(int in, const fs::path& file, std::string& error) {
    struct stat status {};
    if (in < 0 || ::fstat(in, &status) != 0 || !S_ISREG(status.st_mode)) {
        error = file.string() + " cannot be read";
        return std::nullopt;
    }
    const auto size = static_cast<uint64_t>(status.st_size);
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
        return ArchiveLayout{start, directoryOffset, directorySize, entries};
    }
    return std::nullopt;
}

}  // namespace

std::optional<uint64_t> FindAppendedArchive(const fs::path& file, std::string& error) {
    const ArchiveFile in(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    const std::optional<ArchiveLayout> layout = LocateArchive(in.fd, file, error);
    return layout ? std::optional<uint64_t>(layout->start) : std::nullopt;
}

std::unique_ptr<ResourceBundle> OpenZipBundle(const fs::path& file, std::string& error) {
    // One open file for everything: libzip reads the same bytes as the
    // stored entries' direct reads, even if the path is replaced meanwhile.
    const auto archiveFile = std::make_shared<const ArchiveFile>(::open(file.c_str(), O_RDONLY | O_CLOEXEC));
    const int fd = archiveFile->fd;
    const std::optional<ArchiveLayout> layout = LocateArchive(fd, file, error);
    if (!layout) return nullptr;
    zip_error_t zipError;
    zip_error_init(&zipError);
    // Close-on-exec as the bundle's own: the programs the tool starts must
    // not inherit the package.
    const int libzipFd = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    FILE* stream = libzipFd < 0 ? nullptr : ::fdopen(libzipFd, "rb");
    if (stream == nullptr && libzipFd >= 0) ::close(libzipFd);
    zip_source_t* source =
        stream == nullptr ? nullptr : zip_source_filep_create(stream, layout->start, -1, &zipError);
    if (source == nullptr && stream != nullptr) ::fclose(stream);
    zip_t* archive = source == nullptr ? nullptr : zip_open_from_source(source, ZIP_RDONLY | ZIP_CHECKCONS, &zipError);
    if (archive == nullptr) {
        if (source != nullptr) zip_source_free(source);
        error = "the package in " + file.string() + " cannot be read: " + zip_error_strerror(&zipError);
        zip_error_fini(&zipError);
        return nullptr;
    }
    zip_error_fini(&zipError);
    return std::make_unique<ZipBundle>(archive, archiveFile, *layout);
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
