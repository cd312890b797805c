#include "package/hexmorph.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "platform/last_error.h"

namespace firmora::package {

namespace {

enum RecordType : uint8_t {
    kData = 0x00,
    kEndOfFile = 0x01,
    kExtendedSegmentAddress = 0x02,
    kStartSegmentAddress = 0x03,
    kExtendedLinearAddress = 0x04,
    kStartLinearAddress = 0x05,
};

constexpr uint64_t kAddressSpace = uint64_t{1} << 32;

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llX", static_cast<unsigned long long>(value));
    return text;
}

std::string AtLine(size_t line, const std::string& what) { return "line " + std::to_string(line) + ": " + what; }

int Nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// The bytes of one record (length, address, type, data, checksum) from the
// hexadecimal digits after its colon.
bool DecodeDigits(std::string_view digits, std::vector<uint8_t>& bytes) {
    if (digits.size() % 2 != 0) return false;
    bytes.clear();
    for (size_t i = 0; i < digits.size(); i += 2) {
        const int high = Nibble(digits[i]);
        const int low = Nibble(digits[i + 1]);
        if (high < 0 || low < 0) return false;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return true;
}

// A run of data bytes placed by one data record.
struct Chunk {
    uint64_t address;
    size_t offset;  // into the decoded data
    size_t length;
    size_t line;
};

class Parser {
public:
    explicit Parser(uint64_t maxImageBytes) : maxImageBytes_(maxImageBytes) {}

    HexConversion Run(std::string_view text) {
        HexConversion result;
        size_t line = 0;
        while (!text.empty()) {
            const size_t end = text.find('\n');
            std::string_view record = text.substr(0, end);
            text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
            ++line;
            if (!record.empty() && record.back() == '\r') record.remove_suffix(1);
            if (ended_) {
                // Blank lines and an old end-of-text mark may follow; records may not.
                if (record.find_first_not_of(" \t\x1a") != std::string_view::npos) {
                    result.error = AtLine(line, "a record after the end-of-file record");
                    return result;
                }
                continue;
            }
            if (record.empty()) continue;
            result.error = Record(record, line);
            if (!result.error.empty()) return result;
        }
        if (!ended_) {
            result.error = "no end-of-file record: the file is cut short";
            return result;
        }
        result.error = Assemble(result.image);
        return result;
    }

private:
    std::string Record(std::string_view record, size_t line) {
        if (record.front() != ':') return AtLine(line, "a record must begin with ':'");
        if (!DecodeDigits(record.substr(1), bytes_)) {
            return AtLine(line, "a record holds pairs of hexadecimal digits only");
        }
        if (bytes_.size() < 5 || bytes_.size() != size_t{bytes_[0]} + 5) {
            return AtLine(line, "the record's length does not match its byte count");
        }
        uint8_t sum = 0;
        for (const uint8_t byte : bytes_) sum = static_cast<uint8_t>(sum + byte);
        if (sum != 0) {
            const uint8_t found = bytes_.back();
            const uint8_t expected = static_cast<uint8_t>(found - sum);
            return AtLine(line, "bad checksum (expected " + Hex(expected) + ", found " + Hex(found) + ")");
        }
        const size_t length = bytes_[0];
        const uint32_t offset = static_cast<uint32_t>(bytes_[1]) << 8 | bytes_[2];
        const uint8_t* data = bytes_.data() + 4;
        const auto word = [data](size_t at) { return static_cast<uint32_t>(data[at]) << 8 | data[at + 1]; };
        switch (bytes_[3]) {
            case kData: return Data(offset, data, length, line);
            case kEndOfFile:
                if (length != 0) return AtLine(line, "an end-of-file record carries no data");
                ended_ = true;
                return {};
            case kExtendedSegmentAddress:
                if (length != 2) return AtLine(line, "an extended segment address record holds 2 bytes");
                segmentBase_ = word(0) << 4;
                return {};
            case kStartSegmentAddress:
                if (length != 4) return AtLine(line, "a start segment address record holds 4 bytes");
                startAddress_ = (word(0) << 4) + word(2);
                return {};
            case kExtendedLinearAddress:
                if (length != 2) return AtLine(line, "an extended linear address record holds 2 bytes");
                linearBase_ = word(0) << 16;
                return {};
            case kStartLinearAddress:
                if (length != 4) return AtLine(line, "a start linear address record holds 4 bytes");
                startAddress_ = word(0) << 16 | word(2);
                return {};
            default: return AtLine(line, "unknown record type " + Hex(bytes_[3]));
        }
    }

    // Both bases apply at once, as objcopy reads a file that sets both.
    std::string Data(uint32_t offset, const uint8_t* data, size_t length, size_t line) {
        if (length == 0) return {};
        const uint64_t address = uint64_t{linearBase_} + segmentBase_ + offset;
        if (address + length > kAddressSpace) return AtLine(line, "data past the 4 GiB address space");
        chunks_.push_back({address, decoded_.size(), length, line});
        decoded_.append(reinterpret_cast<const char*>(data), length);
        return {};
    }

    std::string Assemble(HexImage& image) {
        if (chunks_.empty()) return "no data record: the file describes no image";
        std::stable_sort(chunks_.begin(), chunks_.end(),
                         [](const Chunk& a, const Chunk& b) { return a.address < b.address; });
        const uint64_t base = chunks_.front().address;
        uint64_t end = base;
        const Chunk* last = nullptr;
        for (const Chunk& chunk : chunks_) {
            if (last && chunk.address < end) {
                return AtLine(chunk.line, "data at " + Hex(chunk.address) + " overlaps the data of line " +
                                              std::to_string(last->line));
            }
            end = chunk.address + chunk.length;
            last = &chunk;
        }
        if (end - base > maxImageBytes_) {
            return "the image runs from " + Hex(base) + " to " + Hex(end) + ", " + std::to_string(end - base) +
                   " bytes, more than " + std::to_string(maxImageBytes_);
        }
        // Gaps read as 0x00, as objcopy fills them.
        image.baseAddress = static_cast<uint32_t>(base);
        image.bytes.assign(end - base, '\0');
        for (const Chunk& chunk : chunks_) {
            decoded_.copy(image.bytes.data() + (chunk.address - base), chunk.length, chunk.offset);
        }
        image.startAddress = startAddress_;
        return {};
    }

    uint64_t maxImageBytes_;
    std::vector<uint8_t> bytes_;
    std::vector<Chunk> chunks_;
    std::string decoded_;
    uint32_t segmentBase_ = 0;
    uint32_t linearBase_ = 0;
    std::optional<uint32_t> startAddress_;
    bool ended_ = false;
};

}  // namespace

HexConversion ParseIntelHex(std::string_view text, uint64_t maxImageBytes) {
    return Parser(maxImageBytes).Run(text);
}

HexmorphOutcome Hexmorph(platform::Files& files, const std::filesystem::path& hexPath,
                         const std::filesystem::path& binPath, const HexLimits& limits) {
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    const std::optional<std::string> text = files.ReadWhole(hexPath, limits.maxHexBytes, refusal);
    if (!text) {
        std::string error = platform::RefusalSentence(hexPath, refusal, limits.maxHexBytes);
        switch (refusal) {
            case platform::ReadRefusal::Missing:
            case platform::ReadRefusal::Link:
            case platform::ReadRefusal::NotRegular: return {HexmorphResult::NotOpened, error};
            case platform::ReadRefusal::TooLarge: return {HexmorphResult::NotConverted, error};
            case platform::ReadRefusal::None:
            case platform::ReadRefusal::Failed: return {HexmorphResult::NotRead, error};
        }
    }
    const HexConversion conversion = ParseIntelHex(*text, limits.maxImageBytes);
    if (!conversion.ok()) return {HexmorphResult::NotConverted, hexPath.string() + " " + conversion.error};
    // The replace would follow a link and overwrite whatever it names.
    if (files.KindOf(binPath) == platform::FileKind::Link) {
        return {HexmorphResult::NotConverted, binPath.string() + " is a symbolic link"};
    }
    if (!files.ReplaceAtomically(binPath, conversion.image.bytes)) {
        return {HexmorphResult::NotConverted,
                binPath.string() + " cannot be written (error " + std::to_string(platform::LastError()) + ")"};
    }
    return {HexmorphResult::Converted, {}};
}

std::string ProgrammerBinaryName(const std::string& hexName) {
    const size_t dot = hexName.find('.');
    return (dot == std::string::npos ? hexName : hexName.substr(0, dot + 1)) + "BIN";
}

bool ConvertProgrammerHex(platform::Files& files, platform::Dialogs& dialogs, const std::filesystem::path& hexPath,
                          const std::filesystem::path& binPath, std::string& detail) {
    const HexmorphOutcome outcome = Hexmorph(files, hexPath, binPath);
    detail = outcome.error;
    using platform::DialogButtons;
    using platform::DialogIcon;
    switch (outcome.result) {
        case HexmorphResult::Converted: return true;
        case HexmorphResult::NotOpened:
            dialogs.ShowMessage("ERROR", "Read hex file failed(INVALID_HANDLE)!", DialogButtons::Ok, DialogIcon::None);
            return false;
        case HexmorphResult::NotRead:
            dialogs.ShowMessage("ERROR", "Read hex file failed!", DialogButtons::Ok, DialogIcon::None);
            return false;
        case HexmorphResult::NotConverted:
            dialogs.ShowMessage("ERROR", "switch hex to bin failed!", DialogButtons::Ok, DialogIcon::Warning);
            return false;
    }
    return false;
}

}  // namespace firmora::package
