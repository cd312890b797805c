#include "platform/posix/com_number_arbiter.h"

#include <mutex>

#include "platform/posix/posix_serial_ports.h"

namespace firmora::platform {
namespace {

std::mutex& ArbiterMutex() {
    static std::mutex mutex;
    return mutex;
}

}  // namespace

std::optional<int> ComNumberArbiter::Stored(const std::string& portKey) {
    const auto number = settings_.ReadInteger(SettingsScope::User, kComNumbersKey, portKey);
    if (!number || *number < kFirstComNumber || *number > kLastComNumber) return std::nullopt;
    const int n = static_cast<int>(*number);
    const auto owner = settings_.ReadString(SettingsScope::User, kComNumbersKey, ComPortValueName(n));
    if (!owner || *owner != portKey) return std::nullopt;
    return n;
}

bool ComNumberArbiter::Taken(int number) {
    for (const auto& [key, n] : unsaved_) {
        if (n == number) return true;
    }
    const std::string name = ComPortValueName(number);
    if (settings_.ReadString(SettingsScope::User, kComPortsKey, name)) return true;
    const auto owner = settings_.ReadString(SettingsScope::User, kComNumbersKey, name);
    // A number whose owner no longer claims it is free again.
    return owner && Stored(*owner) == number;
}

std::optional<int> ComNumberArbiter::NumberFor(const std::string& portKey) {
    std::lock_guard lock(ArbiterMutex());
    if (const auto it = unsaved_.find(portKey); it != unsaved_.end()) return it->second;
    if (const auto n = Stored(portKey)) return n;
    for (int n = kFirstComNumber; n <= kLastComNumber; ++n) {
        if (Taken(n)) continue;
        // The number is claimed before the port points at it, so a crash in
        // between leaves an entry that does not count.
        const bool saved =
            settings_.WriteString(SettingsScope::User, kComNumbersKey, ComPortValueName(n), portKey) &&
            settings_.WriteInteger(SettingsScope::User, kComNumbersKey, portKey, static_cast<uint32_t>(n));
        if (!saved) unsaved_[portKey] = n;
        return n;
    }
    return std::nullopt;
}

}  // namespace firmora::platform
