#include "preserve/diag_nv.h"

#include <algorithm>
#include <charconv>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <span>

#include "link/diag_commands.h"
#include "link/diag_nv_packet.h"
#include "package/project_table.h"
#include "preserve/nv_backup_file.h"
#include "preserve/nv_status.h"

namespace firmora::preserve {
namespace {

// The UIT result items are kept only by the products that store them there.
constexpr int32_t kUit87Item = 6503;
constexpr int32_t kUit89Item = 6504;

// The first reply that is paused after: saving pauses from the second reply
// on, writing from the third.
constexpr int kReadPauseFromReply = 2;
constexpr int kWritePauseFromReply = 3;

// The most a backup of this tool writes into nv.bak: the table backup stops
// at kMaxNvTableEntries items, and the vendor list is shorter.
static_assert(kVendorNvTableSize <= kMaxNvTableEntries);
constexpr uint64_t kMaxNvBackupBytes = kMaxNvTableEntries * kNvRecordBytes;

bool Healthy(const NvSession& s) { return s.reporter.RunStatus() == core::kRunHealthy; }

void Report(NvSession& s, const std::string& text) { s.reporter.ReportStatus(text, core::kReportInfo); }
void ErrorLine(NvSession& s, const std::string& text) { s.reporter.ReportStatus(text, core::kReportError); }

bool OneOf(int value, std::initializer_list<int> set) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

bool IsCdmaProject(const package::DownloadOptions& o) {
    using namespace package;
    return o.PlatformType == 2 || OneOf(o.ProjectIndex, {kProjectXL82_31, kProjectXL83_31, kProjectXM88_51,
                                                         kProjectXM89_51, kProjectZQ65_Custom, kProjectXM88_Custom});
}

bool SavesUitItems(const package::DownloadOptions& o) {
    using namespace package;
    return !o.UIT_NewWays && OneOf(o.ProjectIndex, {kProjectXM88_51, kProjectXM89_51, kProjectXM88_Custom});
}

// The item number as the requests carry it: its low two bytes.
uint16_t WireNumber(int32_t number) { return static_cast<uint16_t>(number); }

std::string Prefix(const NvEntry& entry) { return "[" + std::to_string(entry.number) + "]" + entry.name; }

link::DiagNvPacket NvReadRequest(uint16_t item) {
    return link::DiagNvRequest(link::kDiagNvRead, item, {}, 0xCCCC);
}

link::DiagNvPacket NvWriteRequest(const NvRecord& record) {
    return link::DiagNvRequest(link::kDiagNvWrite, record.number, record.data, 0);
}

std::span<const uint8_t, kNvRecordBytes> ReplyRecord(std::span<const uint8_t> reply) {
    return reply.subspan<1, kNvRecordBytes>();
}

// Sends `request` and reads a reply, again and again until the reply
// answers it: at most `attempts` replies, pausing after reply `pauseFrom`
// and every later one. A read that fails or times out counts as a reply
// that does not answer. Gives up at once when the run stops or the port's
// device has gone, since the reader returns at once then and the pauses
// would only keep Stop waiting.
// On success the framer holds the reply.
bool Exchange(NvSession& s, std::span<const uint8_t> request, uint16_t item, int attempts, int pauseFrom) {
    const uint8_t command = request[0];
    s.framer.BuildPacket(request);
    for (int reply = 1; reply <= attempts && Healthy(s); ++reply) {
        s.framer.SendFrame();
        const link::FrameReadResult result = s.framer.ReadFrame();
        if (result.outcome == link::FrameReadOutcome::DeviceGone) return false;
        if (reply >= pauseFrom) s.clock.Sleep(kNvRetryPauseMs);
        if (result.ok() && link::IsDiagNvReplyTo(s.framer.ReceivedPacket(), command, item)) return true;
    }
    return false;
}

// One status byte: 0 when it lets the item pass.
int JudgeStatusByte(core::Reporter& reporter, uint8_t code, const std::string& prefix, NvStatusRules rules) {
    if (code == kNvStatusDone) return 0;
    const std::string text = prefix + DiagNvStatusText(code);
    if (code == kNvStatusInactive || code == kNvStatusBadParameter) {
        if (rules == NvStatusRules::Backup) {
            reporter.ReportStatus(text, core::kReportInfo);
            return code;
        }
        if (rules == NvStatusRules::Vendor) {
            reporter.ReportStatus(text, core::kReportInfo);
            return 0;
        }
    }
    reporter.ReportError(text);
    return code > 10 ? kNvStatusUnknownResult : code;
}

bool WriteRecord(std::ofstream& file, std::span<const uint8_t, kNvRecordBytes> record) {
    file.write(reinterpret_cast<const char*>(record.data()), static_cast<std::streamsize>(record.size()));
    // Flushed record by record, so a full disk shows at the item it hits.
    file.flush();
    return static_cast<bool>(file);
}

enum class BackupKind { Table, Vendor };

bool Backup(NvSession& s, const NvTable& table, BackupKind kind, NvTable* saved) {
    const bool vendor = kind == BackupKind::Vendor;
    Report(s, "Backup NV Start.");
    if (saved) saved->clear();
    std::ofstream file(s.backupFile, std::ios::binary | std::ios::trunc);
    // Without its backup the download would wipe items nothing can give
    // back: a file that cannot be made or written fails the run.
    if (!file) {
        s.reporter.ReportError("Fail to create......");
        return false;
    }
    for (const NvEntry& entry : table) {
        if (entry.number == -1 || (vendor && entry.name.empty())) break;
        if (!vendor && (entry.number == kUit87Item || entry.number == kUit89Item) && !SavesUitItems(s.options)) {
            continue;
        }
        const uint16_t item = WireNumber(entry.number);
        const std::string prefix = Prefix(entry);
        if (!Exchange(s, NvReadRequest(item), item, kNvItemAttempts, kReadPauseFromReply)) {
            s.reporter.ReportError(prefix + ":Fail to backup NV");
            return false;
        }
        const std::span<const uint8_t> reply = s.framer.ReceivedPacket();
        const int result = DiagNvStatus(s.reporter, link::DiagNvReplyStatus(reply), prefix,
                                        vendor ? NvStatusRules::Vendor : NvStatusRules::Backup);
        if (result == kNvStatusInactive || result == kNvStatusBadParameter) continue;  // absent: nothing to keep
        if (result != 0) return false;
        if (saved && saved->size() < kMaxNvTableEntries) saved->push_back(entry);
        if (!WriteRecord(file, ReplyRecord(reply))) {
            s.reporter.ReportError("Fail to write NV......");
            return false;
        }
        if (!Healthy(s)) {
            ErrorLine(s, "Fail to backup NV......");
            return false;
        }
        if (!vendor) Report(s, "Success to backup NV......");
    }
    file.close();
    if (!file) {
        s.reporter.ReportError("Fail to write NV......");
        return false;
    }
    Report(s, "Backup NV......OK");
    return true;
}

bool Restore(NvSession& s, const NvTable& labels, NvStatusRules rules) {
    Report(s, "Restore NV Start.");
    const std::string path = s.backupFile.string();
    std::string refusal;
    const std::optional<std::string> content = platform::ReadFileUpTo(s.files, s.backupFile, kMaxNvBackupBytes, refusal);
    if (!content) {
        s.reporter.ReportError("Could not open backup file: " + path);
        ErrorLine(s, refusal);
        return false;
    }
    if (content->empty()) {
        Report(s, "Backup file length <= 0");
        return false;
    }
    // A damaged file is refused before anything reaches the device.
    const std::optional<std::vector<NvRecord>> records =
        DecodeNvBackup(std::span(reinterpret_cast<const uint8_t*>(content->data()), content->size()));
    if (!records) {
        s.reporter.ReportError("backup file size error: " + path);
        return false;
    }
    for (size_t i = 0; i < records->size(); ++i) {
        const NvRecord& record = (*records)[i];
        // Records follow the saved list; a record past its end is named by
        // its own number.
        const bool listed = i < labels.size() && labels[i].number != -1;
        const std::string prefix = Prefix(listed ? labels[i] : NvEntry{record.number, ""});
        if (!Exchange(s, NvWriteRequest(record), record.number, kNvItemAttempts, kWritePauseFromReply)) {
            s.reporter.ReportError(prefix + ":Fail to restore NV");
            return false;
        }
        if (DiagNvStatus(s.reporter, link::DiagNvReplyStatus(s.framer.ReceivedPacket()), prefix, rules) != 0) return false;
        if (!Healthy(s)) {
            ErrorLine(s, "Fail to restore......");
            return false;
        }
    }
    Report(s, "Restore NV......OK");
    return true;
}

// "00" to "FF", two upper-case hexadecimal digits.
std::optional<uint8_t> HexByte(std::string_view text) {
    auto digit = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (text.size() != 2) return std::nullopt;
    const int high = digit(text[0]);
    const int low = digit(text[1]);
    if (high < 0 || low < 0) return std::nullopt;
    return static_cast<uint8_t>(high << 4 | low);
}

// A decimal item number from 0 to 65535, blanks around it allowed.
std::optional<uint16_t> ItemNumber(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return std::nullopt;
    text = text.substr(first, text.find_last_not_of(" \t") - first + 1);
    uint32_t value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc{} || end != text.data() + text.size() || value > 0xFFFF) return std::nullopt;
    return static_cast<uint16_t>(value);
}

void WriteConfiguredItem(NvSession& s, uint16_t number, const std::string& numberText, std::string_view dataText) {
    const std::vector<std::string> texts = SplitConfiguredNvData(dataText);
    if (texts.empty() || texts.size() > kMaxConfiguredNvBytes) {
        s.reporter.ReportError("NVData length is incorrect!");
        return;
    }
    NvRecord record{number, {}};
    bool converted = true;
    for (size_t i = 0; i < texts.size(); ++i) {
        const std::optional<uint8_t> byte = HexByte(texts[i]);
        if (!byte) {
            s.reporter.ReportError("String to hex failed!");
            converted = false;
            continue;
        }
        record.data[i] = *byte;
    }
    // An item whose bytes could not all be read is not written: zeros in
    // their place would overwrite the device's value with a wrong one.
    if (!converted) return;
    if (!Exchange(s, NvWriteRequest(record), number, kConfiguredNvAttempts, kWritePauseFromReply)) {
        s.reporter.ReportError("[" + numberText + "]:Fail to write NV");
        return;
    }
    if (DiagNvStatus(s.reporter, link::DiagNvReplyStatus(s.framer.ReceivedPacket()), "Custom NV", NvStatusRules::Custom) != 0) {
        return;
    }
    if (!Healthy(s)) {
        ErrorLine(s, "Fail to write NV......");
        return;
    }
    Report(s, "[" + numberText + "]Write NV......OK");
}

}  // namespace

bool IsVendorNvVariant(const package::DownloadOptions& options) {
    return options.ProjectIndex == package::kProjectDE78_11 && options.IsVendrix;
}

void PrepareNvTable(const package::DownloadOptions& options, const ProductNvTables& tables, DiagNvState& state) {
    state.SavedNvList.clear();
    if (IsVendorNvVariant(options)) return;

    NvTable& table = state.NvItemTable;
    table.clear();
    bool ended = false;
    auto append = [&](const NvTable& list) {
        for (const NvEntry& entry : list) {
            // A list ends at an entry numbered -1, and the table at its size.
            if (ended || entry.number == -1 || table.size() >= kMaxNvTableEntries) {
                ended = true;
                return;
            }
            table.push_back(entry);
        }
    };
    if (IsCdmaProject(options)) {
        append(CdmaNvTable());
        if (options.RTRECFG && OneOf(options.ProjectIndex, {package::kProjectXL82_31, package::kProjectXL83_31})) {
            append(CdmaIdentityNvTable());
        }
    } else if (options.PlatformType == 3) {
        append(tables.lte);
    } else {
        append(tables.defaults);
    }
    if (options.strLTEType == "LTE") append(tables.lte);
}

int DiagNvStatus(core::Reporter& reporter, uint16_t status, const std::string& prefix, NvStatusRules rules) {
    const auto high = static_cast<uint8_t>(status >> 8);
    const auto low = static_cast<uint8_t>(status & 0xFF);
    const bool reportOk = rules == NvStatusRules::Backup || rules == NvStatusRules::Restore;
    if (high == 0 && reportOk) reporter.ReportStatus(prefix + DiagNvStatusText(kNvStatusDone), core::kReportInfo);
    if (const int result = JudgeStatusByte(reporter, high, prefix, rules); result != 0) return result;
    return JudgeStatusByte(reporter, low, prefix, rules);
}

bool DiagNvBackup(NvSession& session, DiagNvState& state) {
    return Backup(session, state.NvItemTable, BackupKind::Table, &state.SavedNvList);
}

bool DiagNvBackupVendor(NvSession& session) {
    return Backup(session, session.tables.vendor, BackupKind::Vendor, nullptr);
}

bool DiagNvRestore(NvSession& session, const DiagNvState& state) {
    // An item the device will not take, inactive ones included, ends the
    // restore as a failure: the items after it stay unwritten, and a run
    // that passed would delete the only copy of them.
    return Restore(session, state.SavedNvList, NvStatusRules::Restore);
}

bool DiagNvRestoreVendor(NvSession& session) {
    return Restore(session, session.tables.vendor, NvStatusRules::Vendor);
}

std::vector<std::string> SplitConfiguredNvData(std::string_view text) {
    auto blank = [](char c) { return static_cast<unsigned char>(c) <= ' '; };
    std::vector<std::string> items;
    const size_t n = text.size();
    size_t p = 0;
    while (p < n && blank(text[p])) ++p;
    while (p < n) {
        if (text[p] == '"') {
            const size_t close = text.find('"', p + 1);
            const size_t end = close == std::string_view::npos ? n : close;
            items.emplace_back(text.substr(p + 1, end - p - 1));
            p = close == std::string_view::npos ? n : close + 1;
        } else {
            const size_t start = p;
            while (p < n && !blank(text[p]) && text[p] != ',') ++p;
            items.emplace_back(text.substr(start, p - start));
        }
        while (p < n && blank(text[p])) ++p;
        if (p < n && text[p] == ',') {
            if (p + 1 == n) items.emplace_back();  // a trailing comma ends with an empty text
            do {
                ++p;
            } while (p < n && blank(text[p]));
        }
    }
    return items;
}

void WriteConfiguredNvItems(NvSession& session) {
    for (const std::string& entry : session.options.NVItemList) {
        const size_t colon = entry.find(':');
        if (colon == std::string::npos || colon == 0) {
            session.reporter.ReportError("NVID is not contained in the configration!");
            return;
        }
        const std::string_view data = std::string_view(entry).substr(colon + 1);
        if (data.empty()) {
            session.reporter.ReportError("NVData is is incorrect!");
            return;
        }
        if (!Healthy(session)) continue;
        const std::string numberText = entry.substr(0, colon);
        const std::optional<uint16_t> number = ItemNumber(numberText);
        if (!number) {
            session.reporter.ReportError("NVID is not a number: " + entry);
            return;
        }
        WriteConfiguredItem(session, *number, numberText, data);
    }
}

}  // namespace firmora::preserve
