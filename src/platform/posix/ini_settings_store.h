#pragma once
// The settings store as one INI file: a key path is a section ("Machine\"
// in front for machine-wide values), a value name is a key. Integers are
// kept as decimal text. Every read looks at the file afresh, so changes made
// by another process are seen; every write rewrites the file atomically.

#include <filesystem>
#include <mutex>
#include <optional>
#include <string>

#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "platform/settings_store.h"

namespace firmora::platform {

class IniSettingsStore final : public SettingsStore {
public:
    explicit IniSettingsStore(std::filesystem::path file);

    // "$FIRMORA_CONFIG_HOME/settings.ini", else "$XDG_CONFIG_HOME/firmora/settings.ini",
    // else "$HOME/.config/firmora/settings.ini".
    static std::filesystem::path DefaultPath(const EnvLookup& env = SystemEnvironment);

    const std::filesystem::path& file() const { return file_; }

    std::optional<std::string> ReadString(SettingsScope scope, const std::string& key,
                                          const std::string& name) override;
    // False (LastError EINVAL) for a value, key or name the file cannot hold
    // so that it reads back unchanged: line breaks, more than 2047 characters,
    // names with "=" or brackets that would read as something else.
    bool WriteString(SettingsScope scope, const std::string& key, const std::string& name,
                     const std::string& value) override;
    // Read back only when the value is a decimal number that fits 32 bits.
    std::optional<uint32_t> ReadInteger(SettingsScope scope, const std::string& key,
                                        const std::string& name) override;
    bool WriteInteger(SettingsScope scope, const std::string& key, const std::string& name,
                      uint32_t value) override;
    // False (LastError ENOENT) when the value was not there.
    bool Remove(SettingsScope scope, const std::string& key, const std::string& name) override;

private:
    std::optional<std::string> Read();

    std::mutex mutex_;
    PosixFiles files_;
    std::filesystem::path file_;
};

}  // namespace firmora::platform
