#pragma once
// The USB boot device's pipe over libusb: the first bulk OUT endpoint of the
// device a libusb device path names ("usb:1-2:VID_0451&PID_D00E"), on the
// interface that has it. Opening detaches a kernel driver bound to that
// interface and claims it; Close releases it (and reattaches the driver).
// Each Write is one synchronous bulk transfer with a five-second limit.
// LastError holds errno values: EINVAL for a malformed path, ENOENT when no
// present device matches or it has no bulk OUT endpoint, EACCES when the
// device may not be opened, EBUSY when another program holds it, ENODEV
// once the device has gone, ETIMEDOUT, EBADF after Close.

#include <libusb-1.0/libusb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "platform/device_enumerator.h"

namespace firmora::platform {

struct BootPipeEndpoint {
    uint8_t interfaceNumber = 0;
    uint8_t endpointAddress = 0;
};

// The first bulk OUT endpoint of the configuration, looking at each
// interface's first alternate setting; nullopt when there is none.
std::optional<BootPipeEndpoint> FindBootPipe(const libusb_config_descriptor& config);

std::unique_ptr<DeviceFile> OpenLibusbBootPipe(const std::string& devicePath);

}  // namespace firmora::platform
