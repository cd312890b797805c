#pragma once
// Settings seam: named string and integer values under a key, per user or for
// the machine (on Windows the registry; on POSIX an INI file). A key is a
// backslash-separated path such as "Software\Orb2009\Firmora_QCOMM".

#include <cstdint>
#include <optional>
#include <string>

namespace firmora::platform {

enum class SettingsScope { User, Machine };

class SettingsStore {
public:
    virtual ~SettingsStore() = default;

    virtual std::optional<std::string> ReadString(SettingsScope scope, const std::string& key,
                                                  const std::string& name) = 0;
    virtual bool WriteString(SettingsScope scope, const std::string& key, const std::string& name,
                             const std::string& value) = 0;
    // Integers are 32-bit values, as registry DWORDs are.
    virtual std::optional<uint32_t> ReadInteger(SettingsScope scope, const std::string& key,
                                                const std::string& name) = 0;
    virtual bool WriteInteger(SettingsScope scope, const std::string& key, const std::string& name,
                              uint32_t value) = 0;
    virtual bool Remove(SettingsScope scope, const std::string& key, const std::string& name) = 0;
};

}  // namespace firmora::platform
