// Writes the demo package into a folder: the embedded default Config.ini,
// one image for every file its download plan names, the programmer (Intel
// HEX) and the partition table that every package carries, and the library
// files the run looks for. The images are filler made from a generator seeded by
// the file name, so that every build makes the same bytes and no two images
// are alike; a few MiB in all. The virtual modem and firmora-sim take them
// as they would take real images.
//
// usage: make_demo_package FOLDER

#include <array>
#include <cstdint>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "package/config_parser.h"
#include "package/default_config.h"
#include "package/download_options.h"
#include "platform/dialogs.h"

namespace {

namespace fs = std::filesystem;

constexpr uint64_t kKiB = 1024;
constexpr const char* kEraseFile = "erase";

// The file systems of the plan are the large images; the loaders are small.
uint64_t ImageSize(const std::string& name) {
    return fs::path(name).extension() == ".ubi" ? 1024 * kKiB : 192 * kKiB;
}

uint64_t Seed(const std::string& name) {
    uint64_t hash = 14695981039346656037ull;  // FNV-1a
    for (const unsigned char c : name) hash = (hash ^ c) * 1099511628211ull;
    return hash | 1;  // xorshift needs a state other than zero
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!file.flush()) throw std::runtime_error("cannot write " + path.string());
}

std::string Filler(const std::string& name, uint64_t size) {
    uint64_t state = Seed(name);
    std::string bytes;
    bytes.reserve(size);
    while (bytes.size() < size) {
        state ^= state << 13;
        state ^= state >> 7;
        state ^= state << 17;
        for (int i = 0; i < 8 && bytes.size() < size; ++i) bytes.push_back(static_cast<char>(state >> (8 * i)));
    }
    return bytes;
}

void WriteImage(const fs::path& path, uint64_t size) { WriteFile(path, Filler(path.filename().string(), size)); }

// The programmer for the serial download as its maker ships it: Intel HEX,
// 16 data bytes a record after an extended linear address, then the end.
std::string ProgrammerHex(size_t size) {
    constexpr size_t kRecordBytes = 16;
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string image = Filler("nprg9x15.hex", size);
    std::string text;
    const auto record = [&](uint16_t address, uint8_t type, std::string_view data) {
        std::vector<uint8_t> bytes = {static_cast<uint8_t>(data.size()), static_cast<uint8_t>(address >> 8),
                                      static_cast<uint8_t>(address), type};
        bytes.insert(bytes.end(), data.begin(), data.end());
        uint8_t sum = 0;
        for (const uint8_t byte : bytes) sum = static_cast<uint8_t>(sum + byte);
        bytes.push_back(static_cast<uint8_t>(-sum));
        text += ':';
        for (const uint8_t byte : bytes) {
            text += kDigits[byte >> 4];
            text += kDigits[byte & 15];
        }
        text += "\r\n";
    };
    record(0, 4, std::string("\0\0", 2));
    for (size_t at = 0; at < image.size(); at += kRecordBytes) {
        record(static_cast<uint16_t>(at), 0, std::string_view(image).substr(at, kRecordBytes));
    }
    record(0, 1, {});
    return text;
}

void MakePackage(const fs::path& folder) {
    fs::create_directories(folder);
    const std::string_view config = firmora::package::DefaultConfigText();
    WriteFile(folder / "Config.ini", std::string(config));

    firmora::package::DownloadOptions options;
    firmora::platform::ScriptedDialogs dialogs;
    const auto parsed = firmora::package::ParseConfigText(config, options, dialogs);
    if (parsed.stoppedOnError) throw std::runtime_error("the embedded Config.ini does not parse: " + parsed.errorText);
    std::set<std::string> written;
    for (const std::string& file : options.FastbootFileNameList) {
        if (file == kEraseFile || !written.insert(file).second) continue;
        WriteImage(folder / file, ImageSize(file));
    }

    WriteFile(folder / "nprg9x15.hex", ProgrammerHex(8 * kKiB));
    WriteImage(folder / "partition.mbn", 512);  // a partition table has at most 1023 bytes

    // The run's bindings are our own code; they only look for these files
    // in the package, as the run has always required.
    for (const char* library : {"QMSL_MSVC10R.dll", "AdbWinApi.dll", "AdbWinUsbApi.dll"}) {
        WriteFile(folder / library, "Firmora demo package: marks the library as present for the run.\n");
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: make_demo_package FOLDER\n";
        return 2;
    }
    try {
        MakePackage(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << "make_demo_package: " << e.what() << '\n';
        return 1;
    }
    return 0;
}
