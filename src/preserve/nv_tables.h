#pragma once
// The NV item lists the tool saves and restores. Each list is an ordered set
// of (item number, name) pairs; the names only label log lines.
//
// The three short lists are part of the program. The three long product
// lists (radio calibration items of the GSM, WCDMA and LTE bands) are product
// data, shipped as text files beside the program and checked when loaded, so
// a damaged file is a clear error rather than a wrong backup.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"

namespace firmora::preserve {

struct NvEntry {
    int32_t number = -1;
    std::string name;
};
using NvTable = std::vector<NvEntry>;

// Built-in lists, in their order.
const NvTable& LibraryNvTable();       // 62 items, the diagnostic library's backup
const NvTable& CdmaNvTable();          // 52 items (1749 occurs twice, under two names)
const NvTable& CdmaIdentityNvTable();  // 12 items

// The product lists, loaded from their files.
struct ProductNvTables {
    NvTable defaults;  // 805 items
    NvTable lte;       // 272 items
    NvTable vendor;    // 349 items
};

inline constexpr size_t kDefaultNvTableSize = 805;
inline constexpr size_t kLteNvTableSize = 272;
inline constexpr size_t kVendorNvTableSize = 349;

// File names of the product lists inside the table folder.
inline constexpr const char* kDefaultNvTableFile = "default.nvtable";
inline constexpr const char* kLteNvTableFile = "lte.nvtable";
inline constexpr const char* kVendorNvTableFile = "vendor.nvtable";
// The table folder's name beside the program.
inline constexpr const char* kNvTableFolder = "nv";
// The longest list is tens of kilobytes; a file past this is no list.
inline constexpr uint64_t kNvTableFileMaxBytes = 1 * platform::kMebibyte;

// Reads one list file: one entry a line, "<number> <name>"; blank lines and
// lines starting with '#' are ignored. The file must hold exactly
// `expectedEntries` entries, each a non-negative decimal number that fits a
// signed 32-bit integer followed by one name of letters, digits and '_'.
// nullopt with `error` set (file, line number and what is wrong) otherwise.
std::optional<NvTable> LoadNvTableFile(platform::Files& files, const std::filesystem::path& file,
                                       size_t expectedEntries, std::string& error);

// Loads the three product lists from `folder`, or, when there is no
// `folder` at all, the copies the program was built with; nullopt with
// `error` set when any of them is missing or broken. Their items travel in DIAG NV requests,
// whose item number field has two bytes, so a number above 65535 counts as
// broken here.
std::optional<ProductNvTables> LoadProductNvTables(platform::Files& files, const std::filesystem::path& folder,
                                                   std::string& error);

}  // namespace firmora::preserve
