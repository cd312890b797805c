#include "sim/memory_settings_store.h"

#include <algorithm>
#include <cctype>

#include "platform/last_error.h"

namespace firmora::sim {
namespace {

std::string Lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// "Software\X" and "\Software\X\" name the same key.
std::string FoldedKey(std::string text) {
    text = Lower(std::move(text));
    while (!text.empty() && text.front() == '\\') text.erase(text.begin());
    while (!text.empty() && text.back() == '\\') text.pop_back();
    return text;
}

}  // namespace

MemorySettingsStore::Slot MemorySettingsStore::SlotOf(platform::SettingsScope scope, const std::string& key,
                                                      const std::string& name) {
    return {scope, FoldedKey(key), Lower(name)};
}

std::optional<std::string> MemorySettingsStore::ReadString(platform::SettingsScope scope, const std::string& key,
                                                           const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(SlotOf(scope, key, name));
    if (it == values_.end() || !std::holds_alternative<std::string>(it->second)) return std::nullopt;
    return std::get<std::string>(it->second);
}

bool MemorySettingsStore::WriteString(platform::SettingsScope scope, const std::string& key, const std::string& name,
                                      const std::string& value) {
    std::lock_guard lock(mutex_);
    values_[SlotOf(scope, key, name)] = value;
    return true;
}

std::optional<uint32_t> MemorySettingsStore::ReadInteger(platform::SettingsScope scope, const std::string& key,
                                                         const std::string& name) {
    std::lock_guard lock(mutex_);
    const auto it = values_.find(SlotOf(scope, key, name));
    if (it == values_.end() || !std::holds_alternative<uint32_t>(it->second)) return std::nullopt;
    return std::get<uint32_t>(it->second);
}

bool MemorySettingsStore::WriteInteger(platform::SettingsScope scope, const std::string& key, const std::string& name,
                                       uint32_t value) {
    std::lock_guard lock(mutex_);
    values_[SlotOf(scope, key, name)] = value;
    return true;
}

bool MemorySettingsStore::Remove(platform::SettingsScope scope, const std::string& key, const std::string& name) {
    std::lock_guard lock(mutex_);
    if (values_.erase(SlotOf(scope, key, name)) == 0) {
        platform::SetLastError(2);
        return false;
    }
    return true;
}

}  // namespace firmora::sim
