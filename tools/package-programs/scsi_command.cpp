#include "package-programs/scsi_command.h"

#include <algorithm>
#include <charconv>

namespace firmora::programs {
namespace {

constexpr uint32_t kWrapperSignature = 0x43425355;  // "USBC"
constexpr uint32_t kStatusSignature = 0x53425355;   // "USBS"

std::string_view Trimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    return text;
}

void PutLittleEndian(uint8_t* out, uint32_t value) {
    for (int i = 0; i < 4; ++i) out[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t GetLittleEndian(const uint8_t* in) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | in[i];
    return value;
}

}  // namespace

std::optional<std::vector<uint8_t>> ParseScsiCommand(std::string_view text) {
    std::vector<uint8_t> bytes;
    for (;;) {
        const size_t comma = text.find(',');
        const std::string_view item = Trimmed(text.substr(0, comma));
        if (item.empty() || item.size() > 2 || bytes.size() == kMaxCommandBytes) return std::nullopt;
        uint8_t value = 0;
        const auto [end, error] = std::from_chars(item.data(), item.data() + item.size(), value, 16);
        if (error != std::errc() || end != item.data() + item.size()) return std::nullopt;
        bytes.push_back(value);
        if (comma == std::string_view::npos) return bytes;
        text.remove_prefix(comma + 1);
    }
}

std::array<uint8_t, kCommandBlockWrapperBytes> BuildCommandBlockWrapper(uint32_t tag,
                                                                        const std::vector<uint8_t>& command) {
    std::array<uint8_t, kCommandBlockWrapperBytes> wrapper{};
    PutLittleEndian(&wrapper[0], kWrapperSignature);
    PutLittleEndian(&wrapper[4], tag);
    PutLittleEndian(&wrapper[8], 0);  // no data phase
    wrapper[12] = 0x00;               // direction: out (no data either way)
    wrapper[13] = 0;                  // LUN
    const size_t length = std::min(command.size(), kMaxCommandBytes);
    wrapper[14] = static_cast<uint8_t>(length);
    std::copy_n(command.begin(), length, wrapper.begin() + 15);
    return wrapper;
}

CommandStatus ReadCommandStatus(const uint8_t* data, size_t length, uint32_t tag) {
    if (length != kCommandStatusWrapperBytes || GetLittleEndian(data) != kStatusSignature ||
        GetLittleEndian(data + 4) != tag) {
        return CommandStatus::Invalid;
    }
    switch (data[12]) {
        case 0: return CommandStatus::Passed;
        case 1: return CommandStatus::Failed;
        case 2: return CommandStatus::PhaseError;
        default: return CommandStatus::Invalid;
    }
}

}  // namespace firmora::programs
