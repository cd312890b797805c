#include "package-programs/program_config.h"

#include <algorithm>
#include <cctype>

#include "platform/private_profile.h"

namespace firmora::programs {

bool IsModemVendor(std::string_view vendorId) {
    return std::any_of(kModemVendorIds.begin(), kModemVendorIds.end(), [&](std::string_view known) {
        return std::equal(known.begin(), known.end(), vendorId.begin(), vendorId.end(), [](char a, char b) {
            return a == std::tolower(static_cast<unsigned char>(b));
        });
    });
}

bool PickNamedNode(std::vector<std::string>& nodes, const std::string& named) {
    if (named.rfind("/dev/", 0) != 0) return true;
    if (std::find(nodes.begin(), nodes.end(), named) == nodes.end()) return false;
    nodes = {named};
    return true;
}

std::filesystem::path ConfigBeside(const std::filesystem::path& programFolder) {
    return programFolder / "Config.ini";
}

bool WriteResult(platform::Files& files, const std::filesystem::path& config, std::string_view section,
                 std::string_view key, std::string_view value) {
    if (files.KindOf(config) != platform::FileKind::Regular) return false;
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    const std::optional<std::string> text = files.ReadWhole(config, platform::kIniFileMaxBytes, refusal);
    if (!text) return false;
    platform::IniDocument document = platform::IniDocument::Parse(*text);
    document.Set(section, key, value);
    return document.Save(files, config);
}

}  // namespace firmora::programs
