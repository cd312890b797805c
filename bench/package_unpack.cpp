// The start-up unpack of a large package against cp of the same bytes on the
// same disk, and the unpack's peak memory at two package sizes.
//
// A package of SIZE MiB is made in a private temporary folder: four images
// of SIZE/4 MiB each (a varying pattern, so that nothing is sparse or
// compressible) named by the embedded configuration's kind of plan, plus the
// small files every package carries, packed behind a copy of this program
// as firmora-pack packs. Each round then, in interleaved order:
//   - unpack: a forked child opens the product's package and unpacks it into
//     an empty working folder (UnpackPackage over PosixFiles);
//   - cp: `cp` copies the four image files into an empty folder.
// The folders are emptied before each round. The page cache is not dropped:
// both read bytes that sit in memory, so what is compared is the work of
// each, not the disk's read speed. The unpack's pause of 100 ms after its
// last file passes on a virtual clock: it is a fixed wait of the start-up,
// not copying. After the last round the unpacked images are compared with
// the packed ones byte for byte.
//
// usage: package_unpack [--size MiB] [--small-size MiB] [--rounds N]

#include <cstdio>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <string>
#include <vector>

#include "support/bench_files.h"
#include "package/config_parser.h"
#include "package/package_unpack.h"
#include "platform/dialogs.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/zip_resource_bundle.h"
#include "platform/virtual_clock.h"
#include "support/child_process.h"

namespace firmora::bench {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t kMiB = 1024 * 1024;
const std::vector<std::string> kImages = {"mdm9607sysfs.ubi", "NONHLOS.ubi", "boot9607.img", "cdrom.ubi"};

std::string ConfigText() {
    std::string text = "[Project]\r\nProject = MDM9x15\r\nVersion = v1\r\n[DownloadItems]\r\nbFastbootConfiguration=1\r\n"
                       "[FastbootDownloadFiles]\r\n";
    for (size_t i = 0; i < kImages.size(); ++i) {
        text += "DL" + std::to_string(i) + " = part" + std::to_string(i) + " | " + kImages[i] + "\r\n";
    }
    return text;
}

void WritePattern(const fs::path& path, uint64_t size, unsigned seed) {
    std::vector<char> chunk(kMiB);
    std::ofstream out(path, std::ios::binary);
    for (uint64_t at = 0; at < size; at += chunk.size()) {
        for (size_t i = 0; i < chunk.size(); ++i) chunk[i] = static_cast<char>(((at + i) * 131 + seed) % 251);
        out.write(chunk.data(), static_cast<std::streamsize>(std::min<uint64_t>(chunk.size(), size - at)));
    }
    if (!out.flush()) throw std::runtime_error("cannot write " + path.string());
}

struct Package {
    fs::path images;   // the folder the package was made from
    fs::path product;  // the program with the package appended
};

Package MakePackage(const fs::path& base, uint64_t sizeMiB) {
    Package made{base / "package", base / "product"};
    fs::create_directories(made.images);
    std::ofstream(made.images / "Config.ini") << ConfigText();
    std::vector<platform::BundleFile> files = {{"INI", "ConfigFile", made.images / "Config.ini"}};
    for (size_t i = 0; i < kImages.size(); ++i) {
        WritePattern(made.images / kImages[i], sizeMiB * kMiB / kImages.size(), static_cast<unsigned>(i));
        const package::PackageFile named = package::PackageFileNamed(kImages[i]);
        files.push_back({named.type, named.name, made.images / kImages[i]});
    }
    package::DownloadOptions options;
    platform::ScriptedDialogs dialogs;
    package::ParseConfigText(ConfigText(), options, dialogs);
    for (const package::PackageFile& file : package::FirstVariantFiles(options)) {
        if (file.optional || file.type == "UBI" || file.type == "IMG") continue;
        std::ofstream(made.images / file.file) << "small file " << file.file;
        files.push_back({file.type, file.name, made.images / file.file});
    }
    std::string error;
    if (!platform::WriteProductWithBundle(ProgramBeside("package_unpack"), files, made.product, error)) {
        throw std::runtime_error(error);
    }
    return made;
}

bool SameBytes(const fs::path& a, const fs::path& b) {
    std::ifstream left(a, std::ios::binary);
    std::ifstream right(b, std::ios::binary);
    std::vector<char> leftChunk(kMiB);
    std::vector<char> rightChunk(kMiB);
    while (left && right) {
        left.read(leftChunk.data(), static_cast<std::streamsize>(leftChunk.size()));
        right.read(rightChunk.data(), static_cast<std::streamsize>(rightChunk.size()));
        if (left.gcount() != right.gcount() ||
            !std::equal(leftChunk.begin(), leftChunk.begin() + left.gcount(), rightChunk.begin())) {
            return false;
        }
    }
    return left.eof() && right.eof();
}

void Empty(const fs::path& folder) {
    fs::remove_all(folder);
    fs::create_directories(folder);
}

ChildResult Unpack(const fs::path& product, const fs::path& working) {
    Empty(working);
    return RunForked([&] {
        std::string error;
        const std::unique_ptr<platform::ResourceBundle> bundle = platform::OpenZipBundle(product, error);
        if (bundle == nullptr) return 1;
        package::DownloadOptions options;
        platform::ScriptedDialogs dialogs;
        package::ParseConfigText(ConfigText(), options, dialogs);
        platform::PosixFiles files;
        platform::VirtualClock clock;
        return package::UnpackPackage(*bundle, files, clock, options, working).ok() ? 0 : 1;
    });
}

ChildResult Copy(const Package& package, const fs::path& target, const fs::path& log) {
    Empty(target);
    std::vector<std::string> argv = {"cp"};
    for (const std::string& image : kImages) argv.push_back((package.images / image).string());
    argv.push_back(target.string());
    return RunProgram(argv, log.string());
}

struct Figures {
    std::vector<double> seconds;
    std::vector<double> cpuSeconds;  // user and system
    double peakRssMiB = 0;
    void Add(const ChildResult& result) {
        if (result.exitCode != 0) throw std::runtime_error("a round failed");
        seconds.push_back(result.wallSeconds);
        cpuSeconds.push_back(result.userSeconds + result.systemSeconds);
        peakRssMiB = std::max(peakRssMiB, result.peakRssMiB);
    }
    double Best() const { return *std::min_element(seconds.begin(), seconds.end()); }
};

void Row(const std::string& what, uint64_t sizeMiB, const Figures& figures) {
    std::cout << std::left << std::setw(10) << what << std::right << std::setw(8) << sizeMiB << std::fixed
              << std::setprecision(3) << std::setw(10) << figures.Best() << std::setw(10) << Median(figures.seconds)
              << std::setprecision(0) << std::setw(10) << sizeMiB / figures.Best() << std::setprecision(1)
              << std::setw(12) << figures.peakRssMiB << std::setprecision(3) << std::setw(10)
              << Median(figures.cpuSeconds) << '\n';
}

// Interleaved rounds of both at one size; the unpack's figures.
Figures Measure(uint64_t sizeMiB, int rounds, bool withCopy) {
    TempFolder folder;
    const Package package = MakePackage(folder.path(), sizeMiB);
    Figures unpack;
    Figures copy;
    for (int round = 0; round < rounds; ++round) {
        unpack.Add(Unpack(package.product, folder.path() / "TempFiles"));
        if (withCopy) copy.Add(Copy(package, folder.path() / "copy", folder.path() / "cp.log"));
    }
    for (const std::string& image : kImages) {
        if (!SameBytes(package.images / image, folder.path() / "TempFiles" / image)) {
            throw std::runtime_error("the unpacked " + image + " differs from the packed one");
        }
    }
    Row("unpack", sizeMiB, unpack);
    if (withCopy) {
        Row("cp", sizeMiB, copy);
        std::cout << "unpack speed against cp (best rounds): " << std::setprecision(0)
                  << 100 * copy.Best() / unpack.Best() << " %\n";
    }
    return unpack;
}

}  // namespace
}  // namespace firmora::bench

int main(int argc, char** argv) {
    using namespace firmora::bench;
    uint64_t size = 1024;
    uint64_t smallSize = 256;
    int rounds = 3;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        const unsigned long value = std::stoul(argv[i + 1]);
        if (option == "--size") size = value;
        else if (option == "--small-size") smallSize = value;
        else if (option == "--rounds") rounds = static_cast<int>(value);
    }
    try {
        std::cout << "what      size MiB    best s  median s     MiB/s  peak RSS MiB     CPU s\n";
        Measure(size, rounds, true);
        Measure(smallSize, rounds, false);
        std::cout << "benchmark's own peak RSS (the floor of a child's figure): " << std::setprecision(1)
                  << OwnPeakRssMiB() << " MiB\n";
    } catch (const std::exception& e) {
        std::cerr << "package_unpack: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
