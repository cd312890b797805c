#pragma once
// nv.bak: NV items as records of exactly 130 bytes, without header, count or
// checksum. A record is the item number (2 bytes, little-endian, as the
// device returns it) and the item's 128 data bytes. A valid file has a size
// that is a non-zero multiple of 130.

#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace firmora::preserve {

inline constexpr size_t kNvItemBytes = 128;
inline constexpr size_t kNvRecordBytes = 130;
inline constexpr const char* kNvBackupFileName = "nv.bak";

using NvItemData = std::array<uint8_t, kNvItemBytes>;

struct NvRecord {
    uint16_t number = 0;
    NvItemData data{};
};

// The 130 bytes of a record, and a record from 130 bytes.
std::array<uint8_t, kNvRecordBytes> EncodeNvRecord(const NvRecord& record);
NvRecord DecodeNvRecord(std::span<const uint8_t, kNvRecordBytes> bytes);

// The number of whole records in a file of `fileSize` bytes; nullopt when
// the size is not a multiple of 130 (a damaged file, never partly used).
std::optional<size_t> NvRecordCount(uintmax_t fileSize);

// The records of a whole file, in file order; nullopt when its size is not a
// multiple of 130. The bytes of a file the tool wrote from `records`.
std::optional<std::vector<NvRecord>> DecodeNvBackup(std::span<const uint8_t> file);
std::vector<uint8_t> EncodeNvBackup(std::span<const NvRecord> records);

}  // namespace firmora::preserve
