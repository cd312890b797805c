#include "package-programs/rules_install.h"

namespace firmora::programs {

RulesInstall InstallRules(platform::Files& files, const std::filesystem::path& folder, std::string_view rules,
                          bool mayWrite, const std::function<void()>& reload) {
    const std::filesystem::path file = folder / kRulesFileName;
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    const std::optional<std::string> present = files.ReadWhole(file, platform::kMebibyte, refusal);
    if (present && *present == rules) return {true, file.string() + " is installed"};
    if (!mayWrite) {
        if (present) return {true, file.string() + " is an older version; run this program as root to update it"};
        return {false, file.string() + " is missing; run this program as root to install it"};
    }
    if (!files.ReplaceAtomically(file, rules)) return {false, file.string() + " could not be written"};
    reload();
    return {true, file.string() + " installed"};
}

}  // namespace firmora::programs
