// The Intel HEX converter over the programmer file of a package.
//
// Properties: a file that converts gives an image whose every byte comes
// from a data record (the gaps between records read 0x00), that begins with
// the lowest byte a record placed and ends with the highest, and that stays
// within the size limit.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "package/hexmorph.h"

namespace {

constexpr uint64_t kMaxImage = 1 << 20;

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The data records of a file the converter accepted: address and bytes.
struct Placed {
    uint64_t address;
    std::vector<uint8_t> bytes;
};

std::vector<Placed> DataRecords(std::string_view text) {
    std::vector<Placed> placed;
    uint64_t segment = 0;
    uint64_t linear = 0;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        if (line.empty() || line.front() != ':') continue;
        std::vector<uint8_t> bytes;
        for (size_t i = 1; i + 1 < line.size(); i += 2) {
            bytes.push_back(static_cast<uint8_t>(Nibble(line[i]) << 4 | Nibble(line[i + 1])));
        }
        const uint8_t type = bytes.at(3);
        if (type == 0x01) break;
        const uint64_t offset = uint64_t{bytes[1]} << 8 | bytes[2];
        const uint64_t word = bytes.size() >= 6 ? (uint64_t{bytes[4]} << 8 | bytes[5]) : 0;
        if (type == 0x00) placed.push_back({linear + segment + offset, {bytes.begin() + 4, bytes.end() - 1}});
        if (type == 0x02) segment = word << 4;
        if (type == 0x04) linear = word << 16;
    }
    return placed;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const firmora::package::HexConversion result = firmora::package::ParseIntelHex(text, kMaxImage);
    if (!result.ok()) {
        FUZZ_CHECK(result.image.bytes.empty());
        return 0;
    }
    const std::string& image = result.image.bytes;
    FUZZ_CHECK(!image.empty() && image.size() <= kMaxImage);

    std::vector<int> owner(image.size(), -1);  // which record placed each byte
    uint64_t lowest = UINT64_MAX;
    uint64_t highest = 0;
    const std::vector<Placed> placed = DataRecords(text);
    for (size_t r = 0; r < placed.size(); ++r) {
        const Placed& record = placed[r];
        if (record.bytes.empty()) continue;
        FUZZ_CHECK(record.address >= result.image.baseAddress);
        const uint64_t at = record.address - result.image.baseAddress;
        FUZZ_CHECK(at + record.bytes.size() <= image.size());
        lowest = std::min(lowest, record.address);
        highest = std::max(highest, record.address + record.bytes.size());
        for (size_t i = 0; i < record.bytes.size(); ++i) {
            FUZZ_CHECK(owner[at + i] == -1);  // no two records place the same byte
            owner[at + i] = static_cast<int>(r);
            FUZZ_CHECK(static_cast<uint8_t>(image[at + i]) == record.bytes[i]);
        }
    }
    FUZZ_CHECK(lowest == result.image.baseAddress);
    FUZZ_CHECK(highest - lowest == image.size());
    for (size_t i = 0; i < image.size(); ++i) {
        if (owner[i] == -1) FUZZ_CHECK(image[i] == '\0');
    }
    return 0;
}
