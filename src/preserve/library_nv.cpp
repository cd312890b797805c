#include "preserve/library_nv.h"

#include <system_error>

#include "preserve/nv_status.h"
#include "preserve/nv_tables.h"

namespace firmora::preserve {

namespace {

// What the status holds before a call, so that a call that never sets it is
// told apart from a device's answer.
constexpr uint16_t kStatusNotSet = 999;

bool Stopped(const core::Reporter& reporter) { return reporter.RunStatus() == core::kRunStopped; }

}  // namespace

std::string RfNvDevicePath(int32_t number) { return "nv//item_files//rfnv//000" + std::to_string(number); }

std::filesystem::path RfNvLocalPath(const std::filesystem::path& efsFolder, int32_t number) {
    return efsFolder / ("000" + std::to_string(number) + ".efs");
}

bool QlibNvBackup(LibraryNvSession& session, link::QlibHandle handle, const std::filesystem::path& efsFolder,
                  std::unique_ptr<NvSlots>& slots) {
    slots = std::make_unique<NvSlots>();
    core::Reporter& reporter = session.reporter;
    // The RF NV copies need their folder; a fresh backup folder has none yet.
    std::error_code ec;
    std::filesystem::create_directories(efsFolder, ec);

    for (const NvEntry& entry : LibraryNvTable()) {
        if (Stopped(reporter) || slots->count >= kNvSlotCount) break;
        NvSlot& slot = slots->slots[slots->count];
        const auto number = static_cast<uint16_t>(entry.number);
        reporter.ReportStatus("READ NV ITEM ID:" + std::to_string(entry.number), core::kReportInfo);
        if (entry.number >= kFirstRfNvItem) {
            const std::filesystem::path local = RfNvLocalPath(efsFolder, entry.number);
            if (session.qlib.EfsRead(handle, RfNvDevicePath(entry.number), local)) {
                slot.number = number;
                slot.rfNvFile = local;
                ++slots->count;
                reporter.ReportStatus("READ OK", core::kReportInfo);
            } else {
                reporter.ReportError("READ ERROR");
            }
            continue;
        }
        uint16_t status = kStatusNotSet;
        session.qlib.DiagNvReadF(handle, number, slot.data, status);
        if (status == kNvStatusDone) {
            slot.number = number;
            ++slots->count;
            reporter.ReportStatus(LibraryNvStatusText(status, false), core::kReportInfo);
        } else if (status == kNvStatusInactive || status == kNvStatusBadParameter) {
            slot.data = {};
            reporter.ReportStatus(LibraryNvStatusText(status, false), core::kReportInfo);
        } else {
            slot.data = {};
            reporter.ReportError(LibraryNvStatusText(status, false));
        }
    }
    return true;
}

bool QlibNvRestore(LibraryNvSession& session, link::QlibHandle handle, const NvSlots* slots) {
    if (slots == nullptr) return true;
    core::Reporter& reporter = session.reporter;
    for (size_t i = 0; i < slots->count && i < slots->slots.size(); ++i) {
        if (Stopped(reporter)) break;
        const NvSlot& slot = slots->slots[i];
        if (slot.number >= kFirstRfNvItem) {
            if (session.qlib.EfsWrite(handle, slot.rfNvFile, RfNvDevicePath(slot.number))) {
                reporter.ReportStatus("WRITE OK", core::kReportInfo);
            } else {
                reporter.ReportError("WRITE ERROR");
            }
            continue;
        }
        reporter.ReportStatus("WRITE NV ITEM ID:" + std::to_string(slot.number), core::kReportInfo);
        // Each item is judged by its own answer: a call that fails without
        // setting the status must not pass on the previous item's "done".
        uint16_t status = kStatusNotSet;
        if (!session.qlib.DiagNvWriteF(handle, slot.number, slot.data, status)) status = kStatusNotSet;
        switch (status) {
            case kNvStatusDone:
            case kNvStatusInactive:
            case kNvStatusBadParameter:
            case kNvStatusReadOnly: reporter.ReportStatus(LibraryNvStatusText(status, true), core::kReportInfo); break;
            default: reporter.ReportError(LibraryNvStatusText(status, true)); break;
        }
    }
    return true;
}

}  // namespace firmora::preserve
