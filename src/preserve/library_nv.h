#pragma once
// The diagnostic library's NV backup: the items of LibraryNvTable read into
// memory (NvSlots) before a download and written back after it. Items from
// 20000 up are RF NV files in the device's file system; they travel as local
// copies in the backup's EFS folder.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "link/qlib_api.h"
#include "preserve/nv_backup_file.h"

namespace firmora::preserve {

inline constexpr size_t kNvSlotCount = 4096;
inline constexpr int32_t kFirstRfNvItem = 20000;

// One kept item: its number and either its 128 bytes (items below 20000) or
// the local copy of its RF NV file.
struct NvSlot {
    uint16_t number = 0;
    NvItemData data{};
    std::filesystem::path rfNvFile;
};

// The library mechanism's store; only the first `count` slots are filled.
struct NvSlots {
    std::vector<NvSlot> slots = std::vector<NvSlot>(kNvSlotCount);
    size_t count = 0;
};

// "nv//item_files//rfnv//000" and the number, as the device names the file.
std::string RfNvDevicePath(int32_t number);
// `efsFolder`/"000<n>.efs".
std::filesystem::path RfNvLocalPath(const std::filesystem::path& efsFolder, int32_t number);

struct LibraryNvSession {
    link::QlibApi& qlib;
    core::Reporter& reporter;
};

// Reads every item of LibraryNvTable into a new store: status 0 keeps the
// item, 5 and 6 are reported and passed over, anything else fails the run
// (and the rest of the table is still read). Always true.
bool QlibNvBackup(LibraryNvSession& session, link::QlibHandle handle, const std::filesystem::path& efsFolder,
                  std::unique_ptr<NvSlots>& slots);
// Writes the filled slots back; without a store (no library backup in this
// run) nothing is written. Always true.
bool QlibNvRestore(LibraryNvSession& session, link::QlibHandle handle, const NvSlots* slots);

}  // namespace firmora::preserve
