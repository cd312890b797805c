#pragma once
// ModemManager over the system D-Bus (sd-bus; DBUS_SYSTEM_BUS_ADDRESS is
// honoured). A device is inhibited with InhibitDevice(uid, true) on
// org.freedesktop.ModemManager1 and handed back with InhibitDevice(uid, false)
// on the same connection, which the hold keeps open for the whole run: the
// service also ends the inhibition by itself when that connection goes, so a
// tool that crashes gives the modem back too. The inhibition is kept by UID,
// so it lasts while the modem resets and enumerates again.
// - No system bus, or nobody owning the service's name: nothing to do (the
//   service is never started by the call).
// - The service answers that it does not know the device: nothing to do.
// - Any other error (no right to control modems, the device already inhibited
//   by another program): refused, with the service's reason and a remedy.

#include "platform/modem_inhibitor.h"

namespace firmora::platform {

class PosixModemManager final : public ModemInhibitor {
public:
    InhibitResult Inhibit(const std::string& deviceUid) override;
};

}  // namespace firmora::platform
