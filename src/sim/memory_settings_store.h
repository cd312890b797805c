#pragma once
// A SettingsStore in memory, for runs against the virtual modem: per-user
// and machine-wide values as the registry keeps them, key paths and value
// names matched without regard to case, each value either a string or an
// integer (a read of the other kind finds nothing).

#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <variant>

#include "platform/settings_store.h"

namespace firmora::sim {

class MemorySettingsStore final : public platform::SettingsStore {
public:
    std::optional<std::string> ReadString(platform::SettingsScope scope, const std::string& key,
                                          const std::string& name) override;
    bool WriteString(platform::SettingsScope scope, const std::string& key, const std::string& name,
                     const std::string& value) override;
    std::optional<uint32_t> ReadInteger(platform::SettingsScope scope, const std::string& key,
                                        const std::string& name) override;
    bool WriteInteger(platform::SettingsScope scope, const std::string& key, const std::string& name,
                      uint32_t value) override;
    // False (LastError ENOENT) when the value was not there.
    bool Remove(platform::SettingsScope scope, const std::string& key, const std::string& name) override;

private:
    using Slot = std::tuple<platform::SettingsScope, std::string, std::string>;
    static Slot SlotOf(platform::SettingsScope scope, const std::string& key, const std::string& name);

    std::mutex mutex_;
    std::map<Slot, std::variant<std::string, uint32_t>> values_;
};

}  // namespace firmora::sim
