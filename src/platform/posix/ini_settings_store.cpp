#include "platform/posix/ini_settings_store.h"

#include <sys/stat.h>

#include <cerrno>
#include <charconv>

#include "platform/last_error.h"
#include "platform/private_profile.h"

namespace firmora::platform {
namespace {

bool Fail(int error) {
    SetLastError(static_cast<uint32_t>(error));
    return false;
}

std::string SectionFor(SettingsScope scope, const std::string& key) {
    return scope == SettingsScope::Machine ? "Machine\\" + key : key;
}

bool HasLineBreak(const std::string& text) {
    return text.find_first_of("\r\n") != std::string::npos;
}

// The text to write so that the profile reader gives `value` back: as it is
// when it survives the reader's blank and quote removal, else inside one
// pair of double quotes (which keeps blanks and quotes at its ends).
std::optional<std::string> StoredForm(const std::string& section, const std::string& name,
                                      const std::string& value) {
    if (HasLineBreak(section) || HasLineBreak(name) || HasLineBreak(value) ||
        value.size() > kProfileValueMax) {
        return std::nullopt;
    }
    for (const std::string& candidate : {value, "\"" + value + "\""}) {
        IniDocument probe;
        probe.Set(section, name, candidate);
        if (probe.Get(section, name) == value) return candidate;
    }
    return std::nullopt;
}

// Creates the settings folder and any missing parents owner-only.
bool CreateFolders(const std::filesystem::path& folder) {
    if (folder.empty()) return true;
    std::filesystem::path partial;
    for (const std::filesystem::path& part : folder) {
        partial /= part;
        if (::mkdir(partial.c_str(), 0700) != 0 && errno != EEXIST) return Fail(errno);
    }
    struct stat info {};
    if (::stat(folder.c_str(), &info) != 0) return Fail(errno);
    return S_ISDIR(info.st_mode) ? true : Fail(ENOTDIR);
}

std::optional<uint32_t> ParseDecimalUint32(const std::string& text) {
    if (text.empty() || text.size() > 10 || text.front() < '0' || text.front() > '9') return std::nullopt;
    uint32_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

}  // namespace

IniSettingsStore::IniSettingsStore(std::filesystem::path file) : file_(std::move(file)) {}

// The settings file may be a link (a user's dotfiles): it is written where
// the link points, so it is read there too.
std::optional<std::string> IniSettingsStore::Read() {
    std::error_code ec;
    const std::filesystem::path target =
        std::filesystem::is_symlink(file_, ec) ? std::filesystem::weakly_canonical(file_, ec) : file_;
    ReadRefusal refusal = ReadRefusal::None;
    return files_.ReadWhole(ec ? file_ : target, kIniFileMaxBytes, refusal);
}

std::filesystem::path IniSettingsStore::DefaultPath(const EnvLookup& env) {
    if (std::optional<std::string> home = NonEmptyVariable(env, "FIRMORA_CONFIG_HOME")) {
        return std::filesystem::path(*home) / "settings.ini";
    }
    if (std::optional<std::string> config = XdgFolderVariable(env, "XDG_CONFIG_HOME")) {
        return std::filesystem::path(*config) / "firmora" / "settings.ini";
    }
    return HomeFolder(env) / ".config" / "firmora" / "settings.ini";
}

std::optional<std::string> IniSettingsStore::ReadString(SettingsScope scope,
                                                        const std::string& key,
                                                        const std::string& name) {
    std::lock_guard lock(mutex_);
    const std::optional<std::string> text = Read();
    if (!text) return std::nullopt;
    std::optional<std::string> value = IniDocument::Parse(*text).Get(SectionFor(scope, key), name);
    if (!value) SetLastError(ENOENT);
    return value;
}

bool IniSettingsStore::WriteString(SettingsScope scope, const std::string& key,
                                   const std::string& name, const std::string& value) {
    const std::string section = SectionFor(scope, key);
    const std::optional<std::string> stored = StoredForm(section, name, value);
    if (!stored) return Fail(EINVAL);

    std::lock_guard lock(mutex_);
    if (!CreateFolders(file_.parent_path())) return false;
    const std::optional<std::string> text = Read();
    // A settings file that exists but cannot be read is left alone rather
    // than replaced by one that holds only this value.
    if (!text && LastError() != ENOENT) return false;
    IniDocument document = text ? IniDocument::Parse(*text) : IniDocument{};
    document.Set(section, name, *stored);
    return document.Save(files_, file_);
}

std::optional<uint32_t> IniSettingsStore::ReadInteger(SettingsScope scope, const std::string& key,
                                                      const std::string& name) {
    const std::optional<std::string> text = ReadString(scope, key, name);
    if (!text) return std::nullopt;
    std::optional<uint32_t> value = ParseDecimalUint32(*text);
    if (!value) SetLastError(EINVAL);
    return value;
}

bool IniSettingsStore::WriteInteger(SettingsScope scope, const std::string& key,
                                    const std::string& name, uint32_t value) {
    return WriteString(scope, key, name, std::to_string(value));
}

bool IniSettingsStore::Remove(SettingsScope scope, const std::string& key,
                              const std::string& name) {
    std::lock_guard lock(mutex_);
    const std::optional<std::string> text = Read();
    if (!text) return false;
    IniDocument document = IniDocument::Parse(*text);
    if (!document.Remove(SectionFor(scope, key), name)) return Fail(ENOENT);
    return document.Save(files_, file_);
}

}  // namespace firmora::platform
