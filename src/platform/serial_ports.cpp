#include "platform/serial_ports.h"

#include <cctype>
#include <charconv>

namespace firmora::platform {

ReadWaitPlan PlanRead(const SerialTimeouts& t, size_t length) {
    ReadWaitPlan plan;
    if (t.readInterval == kTimeoutMax && t.readMultiplier == 0 && t.readConstant == 0) {
        plan.mode = ReadWaitPlan::Mode::Immediate;
        return plan;
    }
    if (t.readInterval == kTimeoutMax && t.readMultiplier == kTimeoutMax && t.readConstant > 0 &&
        t.readConstant < kTimeoutMax) {
        plan.mode = ReadWaitPlan::Mode::FirstByte;
        plan.firstByteMs = t.readConstant;
        return plan;
    }
    plan.mode = ReadWaitPlan::Mode::Accumulate;
    if (t.readMultiplier != 0 || t.readConstant != 0) {
        const uint64_t total = static_cast<uint64_t>(t.readMultiplier) * length + t.readConstant;
        plan.totalMs = total;
    }
    if (t.readInterval != 0 && t.readInterval != kTimeoutMax) plan.intervalMs = t.readInterval;
    return plan;
}

std::optional<int> ParseComName(const std::string& deviceName) {
    std::string_view name = deviceName;
    constexpr std::string_view kNamespace = "\\\\.\\";
    if (name.substr(0, kNamespace.size()) == kNamespace) name.remove_prefix(kNamespace.size());
    if (name.size() < 4) return std::nullopt;
    for (size_t i = 0; i < 3; ++i) {
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i]) return std::nullopt;
    }
    name.remove_prefix(3);
    // Digits only: from_chars alone would take a sign.
    if (name.size() > 6 || name[0] < '1' || name[0] > '9') return std::nullopt;
    int number = 0;
    const auto [end, ec] = std::from_chars(name.data(), name.data() + name.size(), number);
    if (ec != std::errc() || end != name.data() + name.size()) return std::nullopt;
    return number;
}

}  // namespace firmora::platform
