#include "preserve/nv_backup_file.h"

#include <algorithm>

namespace firmora::preserve {

std::array<uint8_t, kNvRecordBytes> EncodeNvRecord(const NvRecord& record) {
    std::array<uint8_t, kNvRecordBytes> bytes{};
    bytes[0] = static_cast<uint8_t>(record.number & 0xFF);
    bytes[1] = static_cast<uint8_t>(record.number >> 8);
    std::copy(record.data.begin(), record.data.end(), bytes.begin() + 2);
    return bytes;
}

NvRecord DecodeNvRecord(std::span<const uint8_t, kNvRecordBytes> bytes) {
    NvRecord record;
    record.number = static_cast<uint16_t>(bytes[0] | bytes[1] << 8);
    std::copy(bytes.begin() + 2, bytes.end(), record.data.begin());
    return record;
}

std::optional<size_t> NvRecordCount(uintmax_t fileSize) {
    if (fileSize % kNvRecordBytes != 0) return std::nullopt;
    return static_cast<size_t>(fileSize / kNvRecordBytes);
}

std::optional<std::vector<NvRecord>> DecodeNvBackup(std::span<const uint8_t> file) {
    const std::optional<size_t> count = NvRecordCount(file.size());
    if (!count) return std::nullopt;
    std::vector<NvRecord> records;
    records.reserve(*count);
    for (size_t i = 0; i < *count; ++i) {
        records.push_back(DecodeNvRecord(file.subspan(i * kNvRecordBytes).first<kNvRecordBytes>()));
    }
    return records;
}

std::vector<uint8_t> EncodeNvBackup(std::span<const NvRecord> records) {
    std::vector<uint8_t> file;
    file.reserve(records.size() * kNvRecordBytes);
    for (const NvRecord& record : records) {
        const auto bytes = EncodeNvRecord(record);
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    return file;
}

}  // namespace firmora::preserve
