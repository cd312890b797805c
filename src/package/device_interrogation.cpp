#include "package/device_interrogation.h"

#include <algorithm>
#include <cctype>
#include <optional>
#include <string_view>
#include <vector>

#include "link/at_text.h"
#include "link/probe_port.h"

namespace firmora::package {
namespace {

constexpr uint32_t kPollMs = 100;
constexpr int kPolls = 10;
constexpr size_t kFirstReadBytes = 256;
constexpr size_t kReadBytes = 128;

constexpr const char* kAti = "ATI\r\n";
constexpr const char* kSoftwareVersionQuery = "AT+MVTSW\r\n\r\n";
constexpr const char* kInfoQuery = "at+mvtinf=0,2\r\n\r\n";
constexpr const char* kBoardQuery = "AT+PMU\r\n\r\n";
constexpr const char* kFirmwareQuery = "AT+CGMR\r\n\r\n";
constexpr std::string_view kSoftwareVersionTag = "+MVTSW:";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

std::string Trimmed(std::string_view text) {
    while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
    while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
    return std::string(text);
}

// The line of `text` that starts at `from`, without its line end.
std::string_view LineAt(std::string_view text, size_t from) {
    const size_t end = std::find_if(text.begin() + static_cast<ptrdiff_t>(from), text.end(), IsLineEnd) - text.begin();
    return text.substr(from, end - from);
}

enum class Verdict { Pending, Answered, Refused };

// Judges a reply collected so far, as the AT channel does: an error line
// before the result refuses, even when an "OK" follows it.
Verdict Judge(const std::string& reply, link::ReplyWait wait, std::optional<size_t>& okPos) {
    okPos = link::FindFinalOk(reply, wait);
    if (link::HasErrorResult(std::string_view(reply).substr(0, okPos.value_or(reply.size())))) {
        return Verdict::Refused;
    }
    return okPos ? Verdict::Answered : Verdict::Pending;
}

// One read appended to `reply`; false when the call failed.
bool ReadInto(platform::SerialPort& port, std::string& reply, size_t maxBytes) {
    std::vector<uint8_t> buffer(maxBytes);
    size_t got = 0;
    if (!port.Read(buffer.data(), buffer.size(), got)) return false;
    link::AppendReplyBytes(reply, buffer.data(), got);
    return true;
}

}  // namespace

std::string RevisionOf(std::string_view reply) {
    constexpr std::string_view kLabel = "Revision:";
    const size_t label = reply.find(kLabel);
    if (label == std::string_view::npos) return {};
    // The character after the colon is a blank on every known device and is
    // skipped without looking at it.
    const size_t start = label + kLabel.size() + 1;
    if (start >= reply.size()) return {};
    size_t end = reply.find("\r\nIMEI:", start);
    if (end == std::string_view::npos) end = LineAt(reply, start).size() + start;
    return std::string(reply.substr(start, end - start));
}

std::string SoftwareVersionOf(std::string_view reply, size_t okPos) {
    const std::string_view body = reply.substr(0, okPos);
    const size_t tag = body.find(kSoftwareVersionTag);
    if (tag != std::string_view::npos) return Trimmed(LineAt(body, tag + kSoftwareVersionTag.size()));
    for (size_t start = 0; start < body.size();) {
        const std::string line = Trimmed(LineAt(body, start));
        start += LineAt(body, start).size() + 1;
        std::string upper = line;
        std::transform(upper.begin(), upper.end(), upper.begin(), [](unsigned char c) { return std::toupper(c); });
        if (!line.empty() && upper.rfind("AT+MVTSW", 0) != 0) return line;
    }
    return {};
}

std::optional<std::string> FirmwareVersionOf(std::string_view reply, size_t okPos) {
    const std::string_view body = reply.substr(0, okPos);
    size_t start = body.find("VQA");
    if (start == std::string_view::npos) start = body.find("VWA");
    if (start == std::string_view::npos) return std::nullopt;
    const size_t end = okPos >= 1 ? okPos - 1 : 0;
    return link::StripLineBreaks(body.substr(start, end > start ? end - start : 0));
}

std::string BoardCodeOf(std::string_view reply, size_t okPos) {
    std::string value = link::StripLineBreaks(link::QueryValue(reply, okPos));
    std::erase_if(value, IsBlank);
    return value;
}

bool ProbeQuery(platform::SerialPort& port, platform::Clock& clock, const std::string& command, std::string& result) {
    if (!link::WriteText(port, command)) return false;
    // The reply is judged on everything received so far, so that one split
    // over several reads counts as a whole.
    std::string reply;
    std::optional<size_t> okPos;
    Verdict verdict = Verdict::Pending;
    for (int poll = 0; poll < kPolls && verdict == Verdict::Pending; ++poll) {
        clock.Sleep(kPollMs);
        if (!ReadInto(port, reply, kReadBytes)) return false;
        verdict = Judge(reply, link::ReplyWait::Running, okPos);
    }
    // Nothing more is coming: an "OK" the device left unended counts now.
    if (verdict == Verdict::Pending) verdict = Judge(reply, link::ReplyWait::Over, okPos);
    if (verdict != Verdict::Answered) return false;

    if (command == kFirmwareQuery) {
        std::optional<std::string> version = FirmwareVersionOf(reply, *okPos);
        if (!version) return false;
        result = std::move(*version);
    } else if (command == kBoardQuery) {
        result = BoardCodeOf(reply, *okPos);
    } else if (command == kSoftwareVersionQuery) {
        result = SoftwareVersionOf(reply, *okPos);
    } else {
        result.clear();
    }
    return true;
}

DeviceInterrogation::DeviceInterrogation(platform::SerialPorts& ports, platform::Clock& clock, core::LineLog& log,
                                         std::string packageName)
    : ports_(ports), clock_(clock), log_(log), packageName_(std::move(packageName)) {}

DeviceReadings DeviceInterrogation::Readings() const {
    std::lock_guard lock(readingsMutex_);
    return readings_;
}

bool DeviceInterrogation::HoldsPort() {
    std::lock_guard probeLock(probeMutex_);
    return handle_ != nullptr;
}

bool DeviceInterrogation::ReleasePort() {
    std::lock_guard probeLock(probeMutex_);
    return Close("Warning-27");
}

bool DeviceInterrogation::Close(const char* warning) {
    return link::CloseProbePort(handle_, clock_, [&] { log_.Log(warning); });
}

bool DeviceInterrogation::ProbeAtPort(const std::string& portName) {
    std::lock_guard probeLock(probeMutex_);
    // A handle an earlier probe could not close is tried once more.
    Close("Warning-27");
    handle_.reset();  // abandoned when it still refuses
    handle_ = link::OpenProbePort(ports_, portName);
    if (!handle_) return false;
    platform::SerialPort& port = *handle_;
    if (!link::ConfigureProbePort(port)) {
        Close("Warning-29");
        return false;
    }

    log_.Log("Start Send ATI " + portName);
    if (!link::WriteText(port, kAti)) {
        Close("Warning-30");
        return false;
    }
    std::string reply;
    std::optional<size_t> okPos;
    clock_.Sleep(kPollMs);
    bool readable = ReadInto(port, reply, kFirstReadBytes);
    for (int poll = 0; poll < kPolls && readable && Judge(reply, link::ReplyWait::Running, okPos) == Verdict::Pending;
         ++poll) {
        clock_.Sleep(kPollMs);
        readable = ReadInto(port, reply, kReadBytes);
    }
    log_.Log("Send ATI " + portName + " OK");
    if (Judge(reply, link::ReplyWait::Over, okPos) != Verdict::Answered) {
        Close("Warning-35");
        log_.Log("Close Port " + portName);
        return false;
    }
    SetReading(&DeviceReadings::DeviceRevision, RevisionOf(reply.substr(0, *okPos)));

    log_.Log("Start Send AT+MVTSW " + portName);
    std::string version;
    if (!ProbeQuery(port, clock_, kSoftwareVersionQuery, version)) {
        Close("Warning-31");
        SetReading(&DeviceReadings::DeviceSoftwareVersion, {});
        return false;
    }
    SetReading(&DeviceReadings::DeviceSoftwareVersion, version);
    log_.Log("Send AT+MVTSW " + portName + " OK");

    log_.Log("Start Send at+mvtinf=0,2 " + portName);
    std::string ignored;
    if (!ProbeQuery(port, clock_, kInfoQuery, ignored)) {
        Close("Warning-31");
        return false;
    }
    log_.Log("Send at+mvtinf=0,2 " + portName + " OK");

    ReadBoardType(port);

    Close("Warning-34");
    log_.Log("Close Port " + portName);
    return true;
}

void DeviceInterrogation::ReadBoardType(platform::SerialPort& port) {
    const bool zt7x = packageName_ == "ZT73" || packageName_ == "ZT72";
    const bool zt67 = packageName_ == "ZT6711" || packageName_ == "ZT6718";
    if (!zt7x && !zt67) return;
    // A failed query leaves the text of the last one to judge.
    std::string code = Readings().BoardType;
    ProbeQuery(port, clock_, kBoardQuery, code);
    std::string board;
    if (zt7x) {
        board = code.find("GMT") != std::string::npos ? "ZT73" : "ZT72";
    } else {
        board = code.find("TI") != std::string::npos ? "ZT6718" : "ZT6711";
    }
    SetReading(&DeviceReadings::BoardType, board);
}

void DeviceInterrogation::SetReading(std::string DeviceReadings::*field, std::string value) {
    std::lock_guard lock(readingsMutex_);
    readings_.*field = std::move(value);
}

}  // namespace firmora::package
