#pragma once
// The reset program's work, over the serial port and clock seams: find the
// modem's AT port among the candidates, reset the modem through it, and say
// how it went in the result codes the tool reads from [Project]
// ExecuteRebootle.
//
// The reset is "AT+MVTRESET", the command the end set also uses for it: it
// needs nothing but the AT port (no DIAG framing, no second port that another
// program might hold).

#include <string>
#include <vector>

#include "platform/clock.h"
#include "platform/serial_ports.h"

namespace firmora::programs {

enum class ResetResult {
    Done,             // "100": the modem took the reset (said OK, or left the bus at once)
    NoModemPort,      // "-1": no candidate, or none that answers "AT" with OK
    CouldNotExecute,  // "0": the AT port could not be opened, set up or written
    Failed            // "-2": the modem refused the reset or did not answer it
};

// The value written into [Project] ExecuteRebootle.
const char* ResetResultCode(ResetResult result);

// Tries the candidates (device nodes, the likeliest AT port first) in order:
// the first that answers "AT\r\n" with OK within 0.7 s is the AT port, and
// "AT+MVTRESET\r\n" goes to it, judged within 3 s. `log` gets one line per
// step for the program's standard error.
ResetResult ResetModem(platform::SerialPorts& ports, platform::Clock& clock,
                       const std::vector<std::string>& candidates, std::vector<std::string>& log);

}  // namespace firmora::programs
