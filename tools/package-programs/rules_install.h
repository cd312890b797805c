#pragma once
// The driver installer's work: put the tool's udev rules where udev reads
// them, so that the logged-in user may open the modem's ports without root.

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace firmora::programs {

inline constexpr char kRulesFileName[] = "70-firmora.rules";
inline constexpr char kSystemRulesFolder[] = "/etc/udev/rules.d";

struct RulesInstall {
    bool inPlace = false;  // the folder holds our rules file (written now or before)
    std::string message;   // one line for the program's standard error
};

// Writes `rules` as kRulesFileName in `folder` when `mayWrite` (the program
// runs as root) and the file there differs, then calls `reload` (udev reads
// its rules again and replays the devices present). Without `mayWrite`
// nothing is written; rules already there, even an older version, still give
// access, so they count as in place.
RulesInstall InstallRules(platform::Files& files, const std::filesystem::path& folder, std::string_view rules,
                          bool mayWrite, const std::function<void()>& reload);

}  // namespace firmora::programs
