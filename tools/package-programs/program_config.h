#pragma once
// What the package's helper programs (the mode switch, the reset program,
// the driver installer) share: the modems they look for, the Config.ini
// beside the program, and the result values they leave in it.

#include <array>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace firmora::programs {

// USB vendor ids of the modems the tool serves, as sysfs writes them.
inline constexpr std::array<std::string_view, 3> kModemVendorIds = {"1c9e", "11f6", "05c6"};

// True for one of kModemVendorIds, in either case.
bool IsModemVendor(std::string_view vendorId);

// Narrows `nodes` (those of a known modem) to the one `named` when it names a
// device node ("/dev/..."); any other text leaves them as they are. False when
// `named` is a node that is not among them.
bool PickNamedNode(std::vector<std::string>& nodes, const std::string& named);

// The Config.ini in `programFolder`.
std::filesystem::path ConfigBeside(const std::filesystem::path& programFolder);

// Sets `section` `key` = `value` in an existing Config.ini, every other line
// kept, the file replaced atomically. A missing Config.ini is not created (a
// program run by hand from the installation folder leaves it as it was).
// False when the file is missing or cannot be replaced.
bool WriteResult(platform::Files& files, const std::filesystem::path& config, std::string_view section,
                 std::string_view key, std::string_view value);

}  // namespace firmora::programs
