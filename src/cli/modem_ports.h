#pragma once
// Which COM ports of the present devices are a modem's Diag and AT ports,
// judged by their friendly names.

#include <optional>
#include <string>
#include <vector>

#include "platform/device_enumerator.h"

namespace firmora::cli {

struct ModemPorts {
    int diag = 0;
    int at = 0;
};

// The COM number of a name ending in "(COMn)"; nullopt for any other.
std::optional<int> ComNumberOfFriendlyName(const std::string& friendlyName);

// The first port whose friendly name holds "Diag" or "DIAG", and the first
// whose name holds "AT" as a word. nullopt (with `problem` set) when either
// is missing.
std::optional<ModemPorts> DiscoverModemPorts(platform::DeviceEnumerator& devices, std::string& problem);

}  // namespace firmora::cli
