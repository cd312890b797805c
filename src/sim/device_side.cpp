#include "sim/device_side.h"

namespace firmora::sim {

std::string ToString(Personality personality) {
    switch (personality) {
        case Personality::Absent: return "absent";
        case Personality::CdromOnly: return "cdrom";
        case Personality::Normal: return "normal";
        case Personality::Bootloader: return "bootloader";
        case Personality::UsbBoot: return "usbboot";
    }
    return "unknown";
}

std::string ToString(ModemRequest request) {
    switch (request) {
        case ModemRequest::RebootToBootloader: return "reboot-bootloader";
        case ModemRequest::Reset: return "reset";
        case ModemRequest::PowerOff: return "power-off";
        case ModemRequest::SwitchToModem: return "switch-to-modem";
        case ModemRequest::SwitchToCdrom: return "switch-to-cdrom";
        case ModemRequest::DropOffBus: return "drop-off-bus";
    }
    return "unknown";
}

}  // namespace firmora::sim
