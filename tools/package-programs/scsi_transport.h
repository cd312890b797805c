#pragma once
// Sending the mode switch's SCSI command to the modem's CD-ROM, through the
// kernel's SCSI driver (SG_IO on its node) or, when no driver holds the
// device, as a USB mass-storage command block over libusb.

#include <cstdint>
#include <string>
#include <vector>

namespace firmora::programs {

enum class SendOutcome {
    Delivered,  // accepted, or the device left the bus in answer (what a switch does)
    Refused,    // the device answered that it failed the command
    NoDevice,   // nothing to send it to
    Failed      // it could not be sent (opening, rights, transfer)
};

// SG_IO with no data phase on `node`; `detail` says what happened.
SendOutcome SendThroughScsiNode(const std::string& node, const std::vector<uint8_t>& command, std::string& detail);

// The first mass-storage interface (bulk-only transport) of a known modem's
// USB device that no kernel driver holds.
SendOutcome SendThroughUsb(const std::vector<uint8_t>& command, std::string& detail);

}  // namespace firmora::programs
