#pragma once
// Device/package matching: whether the connected device may receive the
// package. A package is built for one product, board, memory size and line
// of software versions; writing it to another device can ruin the device.
// Pure logic over the device readings, DownloadOptions and the second
// variant of a dual package; the readiness loop (readiness_loop.h) and the
// window's Start run it.

#include <cstddef>
#include <optional>
#include <string>

#include "package/device_interrogation.h"
#include "package/download_options.h"

namespace firmora::package {

// Captions of the matching's message boxes.
inline constexpr const char* kWarningCaption = "Warning";
inline constexpr const char* kPackagePairCaption = "警告";

// What the second variant of a dual package (Packet = 2) brings to the
// matching. Version is read only when the mainboard type is checked.
struct SecondVariant {
    std::string Version;
    std::string Name;
    int FlashType = 0;
};

// What the readiness check knows of the device after its port scan.
struct DeviceFacts {
    DeviceReadings readings;
    // The device's flash information; nothing queries it yet, so it is empty.
    std::string FlashInfo;
    size_t diagPorts = 0;
    // The discovery switch went to a device during this program run.
    bool d1Sent = false;
};

// What one readiness check shows, and whether the loop goes on.
struct ReadinessDecision {
    bool ready = false;  // Start enabled
    // The status label: "Ready", "Not Ready", or for the Japanese window
    // "準備完了" / "準備中" in the font "MS PGothic" (Shift-JIS).
    std::string status;
    bool japaneseFont = false;
    // The version label's new text; nullopt leaves it as it is.
    std::optional<std::string> versionLabel;
    // The wizard's Next; nullopt leaves it as it is.
    std::optional<bool> nextEnabled;
    // Why the device is refused, shown in a box captioned "Warning"; empty
    // when it is not refused.
    std::string refusal;
    // The loop ends after this decision (a refusal, or a final Ready).
    bool endsLoop = false;
    // The 20-second start timer is stopped (the device was found in time).
    bool stopStartTimer = false;
};

// No Diag or no AT port after the scan: "Not Ready", Start off; the loop goes on.
ReadinessDecision NoDeviceDecision(const DownloadOptions& options);

// The project-code, mainboard and memory rules, in that order, when the
// package asks for them: the first refusal's text, nullopt when all pass.
std::optional<std::string> DeviceRuleRefusal(const DownloadOptions& options, const SecondVariant& second,
                                             const DeviceFacts& device);
// The single rules, each only as the package's flag asks for it.
std::optional<std::string> ProjectCodeRefusal(const DownloadOptions& options, const std::string& deviceVersion);
std::optional<std::string> MainboardRefusal(const DownloadOptions& options, const SecondVariant& second,
                                            const std::string& deviceVersion);
std::optional<std::string> MemoryRefusal(const DownloadOptions& options, const std::string& flashInfo);

// The decision for a refused device: "Not Ready", Start off, the loop ends.
ReadinessDecision Refusal(std::string text);

// The final decision by project once every rule passed.
ReadinessDecision FinalDecision(const DownloadOptions& options, const DeviceFacts& device);

// The whole decision for a present device, without the driver step that
// projects 6, 19, 20 and 42 take between the rules and the final decision.
ReadinessDecision MatchDevice(const DownloadOptions& options, const SecondVariant& second,
                              const DeviceFacts& device);

// Projects whose readiness check runs the driver installer.
bool UsesDriverInstaller(int projectIndex);

// The dual-package rule at start-up on the two variants' options: the
// message (caption kPackagePairCaption) after which the caller clears the
// download selections and ends the program; empty when the pair fits.
std::string CheckPackagePair(const DownloadOptions& first, const DownloadOptions& second);
// What the matching keeps of the second variant.
SecondVariant SecondVariantOf(const DownloadOptions& first, const DownloadOptions& second);

// The board-type rule at Start for the ZT72/ZT73/ZT6711/ZT6718 packages.
struct BoardTypeResult {
    bool pass = false;
    // Pass by switching the window to the second variant (TempFiles2).
    bool switchToSecond = false;
    // The failure's message (caption "Warning"); empty on a pass.
    std::string message;
};
BoardTypeResult CheckBoardType(const DownloadOptions& options, const std::string& secondName,
                               const std::string& boardType);

// The software version rule at Start: the device's revision must be the
// package's Version or a later one ("v2.0.3a" is later than "v2.0.3").
bool CheckVersion(const std::string& deviceRevision, const std::string& packageVersion);

// The revision-family rule of the wizard: true when the device's revision
// does not fit the package's Version.
bool CheckRevisionFamily(const std::string& deviceRevision, const std::string& packageVersion);

}  // namespace firmora::package
