// firmora-swivlet: started without arguments, sends the SCSI command of
// [SHIFTDEVICE] SCSICMD in the Config.ini beside it to the modem's virtual
// CD-ROM, which then shows its modem ports. The CD-ROM is found through udev;
// [SHIFTDEVICE] SCSIDEVICE, when it names a device node, picks one of those
// nodes and is refused when it is none of them, so that no Config.ini can aim
// a command at a disk. Without a node the command goes over USB as a
// mass-storage command block.
//
// Exit codes: 0 sent (accepted, or the device left the bus in answer),
// 1 no valid SCSICMD, 2 no CD-ROM of a known modem (or SCSIDEVICE names another node), 3 it could not be sent,
// 4 the device refused it.

#include <iostream>

#include "package-programs/device_lookup.h"
#include "package-programs/program_config.h"
#include "package-programs/scsi_command.h"
#include "package-programs/scsi_transport.h"
#include "platform/posix/posix_files.h"
#include "platform/posix/posix_paths.h"
#include "platform/private_profile.h"

namespace {

using firmora::programs::SendOutcome;

int ExitCode(SendOutcome outcome) {
    switch (outcome) {
        case SendOutcome::Delivered: return 0;
        case SendOutcome::NoDevice: return 2;
        case SendOutcome::Failed: return 3;
        case SendOutcome::Refused: return 4;
    }
    return 3;
}

}  // namespace

int main() {
    namespace programs = firmora::programs;
    firmora::platform::PosixPaths paths;
    firmora::platform::PosixFiles files;
    const std::filesystem::path config = programs::ConfigBeside(paths.ProgramFolder());
    const firmora::platform::IniDocument document = firmora::platform::IniDocument::Load(files, config);
    const std::string text = document.GetString("SHIFTDEVICE", "SCSICMD", "");
    const std::optional<std::vector<uint8_t>> command = programs::ParseScsiCommand(text);
    if (!command) {
        std::cerr << "firmora-swivlet: no valid [SHIFTDEVICE] SCSICMD in " << config << " (\"" << text << "\")\n";
        return 1;
    }

    const std::string named = document.GetString("SHIFTDEVICE", "SCSIDEVICE", "");
    std::vector<std::string> nodes = programs::ModemCdromNodes();
    if (!programs::PickNamedNode(nodes, named)) {
        std::cerr << "firmora-swivlet: [SHIFTDEVICE] SCSIDEVICE " << named << " is no CD-ROM of a known modem\n";
        return 2;
    }
    SendOutcome outcome = SendOutcome::NoDevice;
    std::string detail;
    for (const std::string& node : nodes) {
        outcome = programs::SendThroughScsiNode(node, *command, detail);
        if (outcome == SendOutcome::Delivered || outcome == SendOutcome::Refused) break;
    }
    if (nodes.empty()) outcome = programs::SendThroughUsb(*command, detail);
    std::cerr << "firmora-swivlet: " << text << ": " << detail << "\n";
    return ExitCode(outcome);
}
