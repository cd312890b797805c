#include "modeswitch/command_sets.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <string_view>

#include "package/project_table.h"

namespace firmora::modeswitch {
namespace {

constexpr const char* kDiskD1 = "AT+DISK=8,\"D1\"\r\n\r\n";
constexpr const char* kDiskD2 = "AT+DISK=8,\"D2\"\r\n\r\n";
constexpr const char* kOpenDiag = "AT+DIAG=1\r\n\r\n";
constexpr const char* kDiagReset = "AT%RESET\r\n\r\n";
constexpr const char* kToCdrom = "AT+CDROM=1\r\n\r\n";
constexpr const char* kDeviceReset = "AT+MVTRESET\r\n\r\n";
constexpr const char* kSleep = "AT%SLEEP";
// A long pause is taken in slices so that a Stop ends it.
constexpr uint32_t kSleepSliceMs = 1000;

bool Healthy(const core::Reporter& reporter) { return reporter.RunStatus() == core::kRunHealthy; }

std::string_view Trimmed(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// "AT%SLEEP=3000" pauses 3 s; without "=", or with a value that is not a
// decimal number of milliseconds, nothing happens.
void Sleep(const std::string& entry, platform::Clock& clock, const core::Reporter& reporter) {
    const size_t equals = entry.find('=');
    if (equals == std::string::npos) return;
    const std::string_view value = Trimmed(std::string_view(entry).substr(equals + 1));
    uint32_t ms = 0;
    const auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), ms);
    if (error != std::errc() || end != value.data() + value.size()) return;
    while (ms > 0 && Healthy(reporter)) {
        const uint32_t slice = std::min(ms, kSleepSliceMs);
        clock.Sleep(slice);
        ms -= slice;
    }
}

bool IsSleep(const std::string& entry) { return entry.find(kSleep) != std::string::npos; }

}  // namespace

void RunStartAtSet(const std::vector<std::string>& startAtList, link::AtChannel& at, platform::Clock& clock,
                   core::Reporter& reporter, bool d1Sent) {
    for (size_t i = 0; i < startAtList.size() && Healthy(reporter); ++i) {
        const std::string& entry = startAtList[i];
        // Discovery has already switched the device to D1.
        if (d1Sent && entry == kDiskD1) continue;
        if (IsSleep(entry)) {
            Sleep(entry, clock, reporter);
            continue;
        }
        // Not every device answers the request for its Diag interface.
        if (!at.AtQuery(entry) && entry != kOpenDiag) {
            reporter.ReportError("Fail to send command(start) :" + std::to_string(i + 1));
            return;
        }
    }
}

void RunEndAtSet(const std::vector<std::string>& endAtList, link::AtChannel& at, link::DiagCommands& diag,
                 platform::Clock& clock, core::Reporter& reporter) {
    for (size_t i = 0; i < endAtList.size() && Healthy(reporter); ++i) {
        const std::string& entry = endAtList[i];
        if (entry == kDiagReset) {
            // Offline first, then the reset; neither failure ends the run.
            diag.DiagModeOffline();
            diag.DiagModeReset();
            continue;
        }
        if (IsSleep(entry)) {
            Sleep(entry, clock, reporter);
            continue;
        }
        if (!at.AtQuery(entry) && (entry == kToCdrom || entry == kDeviceReset)) {
            reporter.ReportError("Fail to send command(end) :" + std::to_string(i + 1) + "[" + entry + "]");
            return;
        }
    }
}

std::string DiskModeCommandFor(int projectIndex) {
    switch (projectIndex) {
        case 3: case 12: case 15: case 16: case 17: case 18: case 21: case 22: case 24: case 25: case 26:
        case 27: case 28: case 29: case 30: case 31: case 32: case 33: case 38: case 39: case 48:
            return kDiskD1;
        case 13: case 23: case 34:
            return kDiskD2;
        default:
            return {};
    }
}

bool DiskModeCommandWanted(const package::DownloadOptions& options, int32_t runStatus) {
    if (options.bPCSuite) return true;
    const int index = options.ProjectIndex;
    if ((index == package::kProjectXF60_31 || index == package::kProjectXH70_31) && options.bAMSSFile && !options.bEFS &&
        !options.bRawAppsEFS) {
        return true;
    }
    return index == package::kProjectRE78_51 && options.VersionVariant != package::VersionVariantKind::None &&
           runStatus == core::kRunHealthy;
}

void SendDiskModeCommand(const package::DownloadOptions& options, link::AtChannel& at, core::Reporter& reporter) {
    if (!DiskModeCommandWanted(options, reporter.RunStatus())) return;
    const std::string command = DiskModeCommandFor(options.ProjectIndex);
    if (command.empty()) return;
    if (!at.AtQuery(command)) reporter.ReportError("Fail to set from modem start");
}

}  // namespace firmora::modeswitch
