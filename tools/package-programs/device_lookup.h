#pragma once
// Where the modem is on this machine, asked of libudev.

#include <string>
#include <vector>

namespace firmora::programs {

// Device nodes of the SCSI CD-ROMs of a known modem (its driver disk),
// generic SCSI nodes (/dev/sgN) first: they take any command, while a CD-ROM
// node (/dev/srN) passes only the commands the kernel deems safe to users
// without raw I/O rights.
std::vector<std::string> ModemCdromNodes();

// Serial ports (tty nodes) of a known modem that may be its AT port: those
// ModemManager tagged as AT ports first, then the untagged ones. Ports tagged
// as another kind (the Diag port, GPS) are left out.
std::vector<std::string> ModemAtPortCandidates();

}  // namespace firmora::programs
