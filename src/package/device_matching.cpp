#include "package/device_matching.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>
#include <string_view>
#include <tuple>

#include "package/project_table.h"

namespace firmora::package {
namespace {

constexpr const char* kReady = "Ready";
constexpr const char* kNotReady = "Not Ready";
constexpr const char* kReadyJapanese = "準備完了";
constexpr const char* kNotReadyJapanese = "準備中";
constexpr const char* kVersionLabel = "Version:";
constexpr const char* kMemoryMismatch = "Memory size is not matched!";
constexpr const char* kBoardMismatch = "Device and software version is not matched!";
constexpr const char* kBoardMismatchDot = "Device and software version is not matched.";

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

bool Contains(std::string_view text, std::string_view part) { return text.find(part) != std::string_view::npos; }

bool IsJapaneseWindowProject(int index) { return index == kProjectDO78_21 || index == kProjectDI79_21; }

bool IsDataCardVersionProject(int index) { return index == kProjectRA66_51 || index == kProjectZP200; }

// Characters 8 to 10 (counted from 1) of a version text: its family.
std::string Family(const std::string& text) { return text.size() < 8 ? std::string() : text.substr(7, 3); }

// The last four characters: the version code (the whole text when shorter).
std::string Tail(const std::string& text) { return text.size() < 4 ? text : text.substr(text.size() - 4); }

std::string_view Trim(std::string_view text) {
    const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!text.empty() && blank(text.front())) text.remove_prefix(1);
    while (!text.empty() && blank(text.back())) text.remove_suffix(1);
    return text;
}

// The memory size a flash information number stands for.
std::string SizeOfCode(std::string_view number) {
    number = Trim(number);
    int code = -1;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), code);
    if (error != std::errc() || end != number.data() + number.size()) return "Unknown";
    static constexpr std::array<const char*, 4> kSizes = {"256M", "512M", "1024M", "2048M"};
    return code >= 0 && code < static_cast<int>(kSizes.size()) ? kSizes[static_cast<size_t>(code)] : "Unknown";
}

bool EmptyOr(const std::string& value, std::string_view allowed) { return value.empty() || value == allowed; }

// Flash information with the memory-chip numbers ("MCP:flash,ram").
std::optional<std::string> McpRefusal(const DownloadOptions& options, const std::string& info,
                                      const std::string& flashId) {
    std::string_view numbers = std::string_view(info).substr(info.find("MCP:") + 4);
    const size_t width = numbers.find("DEVICEWIDTH:");
    if (width != std::string_view::npos) numbers = numbers.substr(0, width);
    const size_t comma = numbers.find(',');
    const std::string flashSize = SizeOfCode(numbers.substr(0, comma));
    const std::string ramSize =
        comma == std::string_view::npos ? std::string("Unknown") : SizeOfCode(numbers.substr(comma + 1));
    if (!options.MemFlashSize.empty() && options.MemFlashSize != flashSize) return kMemoryMismatch;
    if (!options.RAMSize.empty() && options.RAMSize != ramSize) return kMemoryMismatch;
    if (!options.SupportFlashID.empty() && !Contains(Upper(options.SupportFlashID), flashId)) return kMemoryMismatch;
    return std::nullopt;
}

std::optional<std::string> RouterIdRefusal(const DownloadOptions& options, const std::string& flashId) {
    std::string_view ramAllowed;
    if (flashId == "0X2CB1") {
        ramAllowed = "1024M";
    } else if (flashId == "0XADA1" || flashId == "0XECA1") {
        ramAllowed = "512M";
    } else {
        return "Can not check memory size!";
    }
    if (!EmptyOr(options.MemFlashSize, "1024M") || !EmptyOr(options.RAMSize, ramAllowed)) return kMemoryMismatch;
    return std::nullopt;
}

bool IsBoardPairName(const std::string& name) {
    return name == "ZT73" || name == "ZT72" || name == "ZT6711" || name == "ZT6718";
}

std::string PartnerOf(const std::string& name) {
    if (name == "ZT73") return "ZT72";
    if (name == "ZT72") return "ZT73";
    if (name == "ZT6711") return "ZT6718";
    if (name == "ZT6718") return "ZT6711";
    return {};
}

// A revision "vA.B.C" or "vA.B.CL" as (A, B, C, L), L 0 when missing.
using VersionParts = std::tuple<int, int, int, int>;

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

std::optional<VersionParts> ParseVersion(std::string_view text) {
    const size_t v = text.find('v');
    if (v == std::string_view::npos) return std::nullopt;
    const size_t first = text.find('.', v + 1);
    if (first == std::string_view::npos) return std::nullopt;
    const size_t second = text.find('.', first + 1);
    if (second == std::string_view::npos) return std::nullopt;
    const auto major = Number(text.substr(v + 1, first - v - 1));
    const auto minor = Number(text.substr(first + 1, second - first - 1));
    std::string rest;
    for (const char c : text.substr(second + 1)) {
        if (c != '.') rest += c;
    }
    if (!major || !minor || rest.empty() || !std::isdigit(static_cast<unsigned char>(rest[0]))) return std::nullopt;
    int letter = 0;
    if (rest.size() > 1) {
        if (!std::isalpha(static_cast<unsigned char>(rest[1]))) return std::nullopt;
        letter = static_cast<unsigned char>(rest[1]);
    }
    return VersionParts{*major, *minor, rest[0] - '0', letter};
}

}  // namespace

ReadinessDecision NoDeviceDecision(const DownloadOptions& options) {
    ReadinessDecision decision;
    const bool japanese = IsJapaneseWindowProject(options.ProjectIndex);
    decision.status = japanese ? kNotReadyJapanese : kNotReady;
    decision.japaneseFont = japanese;
    if (IsDataCardVersionProject(options.ProjectIndex)) decision.versionLabel = "Versinon:";
    // The Japanese wizard keeps Next as it is; it checks the ports itself.
    if (!japanese) decision.nextEnabled = false;
    return decision;
}

std::optional<std::string> ProjectCodeRefusal(const DownloadOptions& options, const std::string& deviceVersion) {
    if (!options.bCheckProjectCode) return std::nullopt;
    const std::string matchVersion = Upper(options.MatchVersion);
    const size_t dot = matchVersion.find('.');
    if (dot == std::string::npos) return "Can't get project code from config verison!";
    if (deviceVersion.find('.') == std::string::npos) return "Can't get project code from model verison!";
    // Both sides compared in upper case: a package's upper-cased "MDM9X15"
    // is the device's "MDM9x15".
    if (Upper(deviceVersion.substr(0, dot)) != matchVersion.substr(0, dot)) {
        return "Could not update other irrelevant model device!";
    }
    return std::nullopt;
}

std::optional<std::string> MainboardRefusal(const DownloadOptions& options, const SecondVariant& second,
                                            const std::string& deviceVersion) {
    if (!options.bCheckMainboardType) return std::nullopt;
    const std::string package = Upper(options.MatchVersion);
    const std::string device = Upper(deviceVersion);
    if (Family(package) == ".3." && Family(device) != Family(package)) {
        return "Can't update other irrelevant mobile devices!";
    }
    if (options.Name == "ZT73" || options.Name == "ZT72") {
        const std::string secondTail = second.Version.empty() ? "NONE" : Tail(Upper(second.Version));
        if (Tail(device) != Tail(package) && Tail(device) != secondTail) {
            return "Could not update other irrelevant mobile devices.";
        }
    } else if (Tail(device) != Tail(package)) {
        return "Can't update other irrelevant mobile devices.";
    }
    return std::nullopt;
}

std::optional<std::string> MemoryRefusal(const DownloadOptions& options, const std::string& flashInfo) {
    if (!options.bCheckDataCardMemory && !options.bCheckRouterMemory) return std::nullopt;
    const std::string info = Upper(flashInfo);
    if (info == "ERROR") {
        if (options.bCheckDataCardMemory && !EmptyOr(options.MemFlashSize, "512M")) return kMemoryMismatch;
        if (options.bCheckRouterMemory && (!EmptyOr(options.MemFlashSize, "1024M") || !EmptyOr(options.RAMSize, "1024M"))) {
            return kMemoryMismatch;
        }
        return std::nullopt;
    }
    std::string flashId;
    const size_t id = info.find("ID:");
    if (id != std::string::npos) {
        const size_t pageSize = info.find("PAGESIZE", id + 3);
        if (pageSize != std::string::npos) flashId = std::string(Trim(std::string_view(info).substr(id + 3, pageSize - id - 3)));
    }
    if (Contains(info, "MCP:")) return McpRefusal(options, info, flashId);
    if (options.bCheckDataCardMemory) {
        const bool large = flashId.size() >= 2 && flashId.compare(flashId.size() - 2, 2, "A1") == 0;
        if (options.MemFlashSize != (large ? "1024M" : "512M")) return kMemoryMismatch;
    }
    if (options.bCheckRouterMemory) return RouterIdRefusal(options, flashId);
    return std::nullopt;
}

std::optional<std::string> DeviceRuleRefusal(const DownloadOptions& options, const SecondVariant& second,
                                             const DeviceFacts& device) {
    const std::string& version = device.readings.DeviceSoftwareVersion;
    if (auto refusal = ProjectCodeRefusal(options, version)) return refusal;
    if (auto refusal = MainboardRefusal(options, second, version)) return refusal;
    return MemoryRefusal(options, device.FlashInfo);
}

ReadinessDecision Refusal(std::string text) {
    ReadinessDecision decision;
    decision.status = kNotReady;
    decision.refusal = std::move(text);
    decision.nextEnabled = true;  // the scan lists a Diag and an AT port
    decision.endsLoop = true;
    return decision;
}

ReadinessDecision FinalDecision(const DownloadOptions& options, const DeviceFacts& device) {
    const int project = options.ProjectIndex;
    const std::string& version = device.readings.DeviceSoftwareVersion;
    ReadinessDecision decision;
    decision.ready = true;
    decision.status = kReady;
    decision.nextEnabled = true;
    decision.versionLabel = "";

    if (IsDataCardVersionProject(project)) {
        std::string refusal;
        if (version == options.MatchVersion) {
            refusal = "Can't update the software because it is the latest";
        } else if (project == kProjectRA66_51 && !Contains(version, "VQA0012")) {
            return Refusal("Can't update other irrelevant Data Cards");
        } else if (project == kProjectZP200 && !Contains(version, "VQA0016")) {
            return Refusal("Can't update other irrelevant mobile devices");
        } else if (device.diagPorts >= 2) {
            refusal = "Two or more devices were found";
        }
        if (!refusal.empty()) {
            decision = Refusal(std::move(refusal));
            decision.versionLabel = kVersionLabel;
            return decision;
        }
        decision.versionLabel = kVersionLabel + version;
        return decision;
    }
    if (project == kProjectXC31_21 || project == kProjectDE78_11) return decision;
    if (IsJapaneseWindowProject(project)) {
        decision.status = kReadyJapanese;
        decision.japaneseFont = true;
        return decision;
    }
    if (project == kProjectZQ65_Custom || device.d1Sent) {
        decision.endsLoop = true;
        return decision;
    }
    decision.endsLoop = project == kProjectRE78_51 || project == kProjectXH70_31;
    decision.stopStartTimer = project == kProjectZP200_EA ||
                              (project == kProjectRE78_51 && options.VersionVariant != VersionVariantKind::None);
    if (project == kProjectMDM9x15) decision.versionLabel = kVersionLabel;
    return decision;
}

ReadinessDecision MatchDevice(const DownloadOptions& options, const SecondVariant& second,
                              const DeviceFacts& device) {
    if (auto refusal = DeviceRuleRefusal(options, second, device)) return Refusal(std::move(*refusal));
    return FinalDecision(options, device);
}

bool UsesDriverInstaller(int projectIndex) {
    return projectIndex == kProjectZP200 || projectIndex == kProjectZP200_Italy || projectIndex == kProjectXF60_31 ||
           projectIndex == kProjectZP200_EA;
}

std::string CheckPackagePair(const DownloadOptions& first, const DownloadOptions& second) {
    if (!IsBoardPairName(first.Name) && first.FlashType == second.FlashType) {
        return "两个版本包中不能是相同Flash大小的版本[FlashType]";
    }
    if (IsBoardPairName(first.Name) && PartnerOf(first.Name) != second.Name) return "ZT73或ZT67售后方案的配置不正确";
    return {};
}

SecondVariant SecondVariantOf(const DownloadOptions& first, const DownloadOptions& second) {
    SecondVariant variant;
    variant.Name = second.Name;
    variant.FlashType = second.FlashType;
    if (first.bCheckMainboardType) variant.Version = second.Version;
    return variant;
}

BoardTypeResult CheckBoardType(const DownloadOptions& options, const std::string& secondName,
                               const std::string& boardType) {
    const auto pass = [] { return BoardTypeResult{true, false, {}}; };
    const auto switchPass = [] { return BoardTypeResult{true, true, {}}; };
    const auto fail = [](const char* text = kBoardMismatch) { return BoardTypeResult{false, false, text}; };
    const std::string& name = options.Name;
    if (options.Packet == 2 && IsBoardPairName(boardType)) {
        // The board types the first variant serves before the second one
        // (ZT72, ZT6711), and those the second serves first (ZT73, ZT6718).
        const bool firstVariantFirst = boardType == "ZT72" || boardType == "ZT6711";
        if (firstVariantFirst && name == boardType) return pass();
        if (secondName == boardType) return switchPass();
        if (!firstVariantFirst && name == boardType) return pass();
        return fail();
    }
    if (options.Packet == 1) {
        if (boardType == "ZT73") return name == "ZT73" ? pass() : fail();
        if (boardType == "ZT6718") return name == "ZT6718" ? pass() : fail();
        if (boardType == "ZT72") return name == "ZT73" ? fail(kBoardMismatchDot) : pass();
        if (boardType == "ZT6711") return name == "ZT6718" ? fail(kBoardMismatchDot) : pass();
    }
    return fail();
}

bool CheckVersion(const std::string& deviceRevision, const std::string& packageVersion) {
    if (deviceRevision.empty()) return false;
    if (deviceRevision == packageVersion) return true;
    const auto device = ParseVersion(deviceRevision);
    const auto package = ParseVersion(packageVersion);
    // Compared as versions: a later minor number outweighs an earlier build
    // number ("v2.1.0" is later than "v2.0.9").
    return device && package && *device >= *package;
}

bool CheckRevisionFamily(const std::string& deviceRevision, const std::string& packageVersion) {
    const std::string& device = deviceRevision;
    const std::string& package = packageVersion;
    if (Contains(device, "d") != Contains(package, "d") || Contains(device, "r") != Contains(package, "r")) {
        return true;
    }
    if (!Contains(device, "v2.") && Contains(package, "v1.")) return true;
    if (!Contains(package, "v2.") && Contains(device, "v1.")) return true;
    if (Contains(device, "v1.") && Contains(package, "v2.")) return true;
    return Contains(device, "v2.1");
}

}  // namespace firmora::package
