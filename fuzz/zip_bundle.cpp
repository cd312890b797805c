// The package appended to a product executable: bytes written to a file of
// the fuzzer's own folder, opened as the program opens its package, and each
// entry unpacked into a folder as start-up does.
//
// Properties: a file that is no sound archive is refused with a message;
// the entries of one that opens are "TYPE/NAME" with neither part empty nor
// holding a "/"; an entry reads exactly the size the archive gives it, or
// fails with a message (never more bytes, never a silent short read); an
// unpacked entry lands only at the path it was asked to go to, with its full
// size, and a failed unpack leaves nothing behind in the folder.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "scratch_folder.h"
#include "package/package_unpack.h"
#include "platform/posix/zip_resource_bundle.h"
#include "platform/std_files.h"

namespace {

namespace fs = std::filesystem;

// Entries larger than this are not read: a small input may claim gigabytes.
constexpr uint64_t kMaxReadBytes = 1 << 20;

const fs::path& Folder() {
    static const ScratchFolder folder("firmora-fuzz-bundle-");
    return folder.path();
}

std::vector<fs::path> FilesIn(const fs::path& folder) {
    std::vector<fs::path> found;
    for (const auto& entry : fs::recursive_directory_iterator(folder)) found.push_back(entry.path());
    return found;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fs::path package = Folder() / "package.bin";
    std::ofstream(package, std::ios::binary | std::ios::trunc).write(reinterpret_cast<const char*>(data),
                                                                    static_cast<std::streamsize>(size));
    std::string error;
    const std::unique_ptr<firmora::platform::ResourceBundle> bundle = firmora::platform::OpenZipBundle(package, error);
    if (!bundle) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    const fs::path target = Folder() / "unpacked";
    fs::remove_all(target);
    fs::create_directories(target);
    firmora::platform::StdFiles files;
    for (const firmora::platform::BundleEntry& entry : bundle->Entries()) {
        FUZZ_CHECK(!entry.type.empty() && !entry.name.empty());
        FUZZ_CHECK(entry.type.find('/') == std::string::npos && entry.name.find('/') == std::string::npos);
        if (entry.size > kMaxReadBytes) continue;

        std::unique_ptr<firmora::platform::ByteSource> source = bundle->Open(entry.type, entry.name, error);
        if (!source) {
            FUZZ_CHECK(!error.empty());
            continue;
        }
        std::vector<char> buffer(4096);
        uint64_t total = 0;
        int64_t got = 0;
        while ((got = source->Read(buffer)) > 0) {
            total += static_cast<uint64_t>(got);
            FUZZ_CHECK(total <= entry.size);
        }
        if (got < 0) FUZZ_CHECK(!source->Error().empty());
        if (got == 0) FUZZ_CHECK(total == entry.size);

        const fs::path path = target / "entry.bin";
        const firmora::package::PackageFile file{entry.type, entry.name, "entry.bin", {}, false, {}};
        const std::string failed = firmora::package::UnpackResource(*bundle, files, file, path);
        const std::vector<fs::path> left = FilesIn(target);
        if (failed.empty()) {
            FUZZ_CHECK(left == std::vector<fs::path>{path} && fs::is_regular_file(path));
            FUZZ_CHECK(fs::file_size(path) == entry.size);
        } else {
            FUZZ_CHECK(failed.rfind("Unpack failed [entry.bin]: ", 0) == 0);
            FUZZ_CHECK(left.empty());
        }
        fs::remove_all(target);
        fs::create_directories(target);
    }
    return 0;
}
