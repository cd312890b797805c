#pragma once
// The AT command set of the virtual modem: what one command line does to the
// device's state and what the device answers, without any timing or port
// behaviour (that is AtResponder's). Pure functions over AtDeviceState.

#include <optional>
#include <string>
#include <string_view>

#include "sim/at_device.h"
#include "sim/device_side.h"

namespace firmora::sim {

struct AtCommandResult {
    enum class Code { Ok, Error, NoReply };
    Code code = Code::Ok;
    // Information text before the result code, lines joined by "\r\n"; empty for none.
    std::string text;
    // The mode change the command asks for, carried out after the reply.
    std::optional<ModemRequest> request;
};

// The upper-cased name a command is known by: "AT+MVTSN" for
// "at+mvtsn=0,5", "AT!AUTOINS" for "at!autoins?", "ATI" for "ati".
std::string AtCommandName(std::string_view line);

// Whether `pattern` (from a scenario) names the command `line`, ignoring
// case: the whole line ("AT+MVTSN=0,7"), its command name ("AT+CLLEN" for
// reads and writes alike), or a leading part that ends in "=" or ","
// ("AT+CGDCONT=", "AT+MVTSN=1,7,") for every line that starts with it.
bool AtCommandMatches(std::string_view pattern, std::string_view line);

// Runs one command line (without its line end) against `state`.
AtCommandResult RunAtCommand(std::string_view line, AtDeviceState& state);

}  // namespace firmora::sim
