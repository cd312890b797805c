#pragma once
// NV items saved and written back by the tool itself over the diagnostic
// channel: DIAG NV read and write requests, one item of 128 bytes each,
// with the saved items kept in nv.bak (see nv_backup_file.h). Also the
// writing of the NV items whose values the package configures.
//
// Every exchange sends one framed request and reads one framed reply, and is
// repeated a fixed number of times until a reply to that very request comes
// back: a reply must carry the request's command, the request's item number
// and all of its fields before anything in it is used.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "core/reporter.h"
#include "link/hdlc_framer.h"
#include "package/download_options.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "preserve/nv_tables.h"

namespace firmora::preserve {

inline constexpr size_t kMaxNvTableEntries = 1500;
// Replies read per item before giving up: saving and restoring, and the
// configured items.
inline constexpr int kNvItemAttempts = 99;
inline constexpr int kConfiguredNvAttempts = 50;
inline constexpr uint32_t kNvRetryPauseMs = 500;
// A configured item carries 1 to 128 data bytes.
inline constexpr size_t kMaxConfiguredNvBytes = 128;

// What the DIAG NV operations keep between calls. The owner keeps one for
// the program's lifetime: `NvItemTable` stays as the last preparation left
// it, so a run that saves without preparing walks the previous table.
struct DiagNvState {
    // The items the backup reads, at most kMaxNvTableEntries.
    NvTable NvItemTable;
    // The items whose records nv.bak holds, in file order; labels the
    // restore's lines. Emptied by PrepareNvTable and by each backup.
    NvTable SavedNvList;
};

// The device operations of this file need the diagnostic channel open.
struct NvSession {
    link::HdlcFramer& framer;
    platform::Clock& clock;
    core::Reporter& reporter;
    const package::DownloadOptions& options;
    const ProductNvTables& tables;
    // Reads nv.bak for the restore (never through a link, and bounded).
    platform::Files& files;
    // nv.bak in the device backup folder.
    std::filesystem::path backupFile;
};

// Builds `state.NvItemTable` from the project (left alone for the vendor
// variant, which walks the vendor list directly) and empties
// `state.SavedNvList`:
// - PlatformType 2 or project 36 to 39, 41, 48: the CDMA list, and for 36
//   and 37 with RTRECFG the CDMA identity list after it;
// - else PlatformType 3: the LTE list;
// - else the default list;
// then the LTE list once more when strLTEType is "LTE".
void PrepareNvTable(const package::DownloadOptions& options, const ProductNvTables& tables, DiagNvState& state);

// True for the vendor variant (project 12 with IsVendrix).
bool IsVendorNvVariant(const package::DownloadOptions& options);

// Reads every item of `state.NvItemTable` into nv.bak. Inactive items and
// bad parameters are left out; any other bad status ends the backup (a
// failure). True when the whole table was walked ("Backup NV......OK").
bool DiagNvBackup(NvSession& session, DiagNvState& state);
// The same over the vendor list, where inactive items and bad parameters
// are saved like any other.
bool DiagNvBackupVendor(NvSession& session);

// Writes every record of nv.bak back into the device, stopping at the
// first item the device does not take. True when every record was written
// ("Restore NV......OK").
bool DiagNvRestore(NvSession& session, const DiagNvState& state);
// The same for a file the vendor backup made; inactive items and bad
// parameters count as written.
bool DiagNvRestoreVendor(NvSession& session);

// Writes the items of `options.NVItemList` ("<item>:<byte>,<byte>,..." with
// two upper-case hexadecimal digits a byte, at most 128, padded with zeros).
// An entry without an item or without data, or with an item that is not a
// number from 0 to 65535, fails the run and ends the list; a bad item's data
// fails the run and is not written.
void WriteConfiguredNvItems(NvSession& session);

// How a reply's status is judged.
enum class NvStatusRules {
    Backup,   // ": OK" reported; inactive and bad parameter reported and returned
    Restore,  // ": OK" reported; every other code a failure
    Vendor,   // nothing reported for 0; inactive and bad parameter reported, then 0
    Custom,   // nothing reported for 0; every other code a failure
};

// Judges the 16-bit status of an NV reply, high byte first and then, when
// that gave 0, the low byte: each code is reported after `prefix` with the
// DIAG texts of nv_status.h, a failure through ReportError. The result is 0,
// the code that was only reported (Backup: 5 or 6), or the failing code
// (kNvStatusUnknownResult for codes above 10).
int DiagNvStatus(core::Reporter& reporter, uint16_t status, const std::string& prefix, NvStatusRules rules);

// The data text of a configured item split into byte texts: commas separate,
// blanks around them and at the start are skipped, a blank alone separates
// too, two commas in a row and a trailing comma give an empty text, and a
// text in double quotes loses them. Exposed for its tests.
std::vector<std::string> SplitConfiguredNvData(std::string_view text);

}  // namespace firmora::preserve
