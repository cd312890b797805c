#pragma once
// Small pieces every libusb user of this library shares: libusb errors as
// errno values, where a device sits on the bus, its active configuration
// and the list of present devices, each released with its owner.

#include <libusb-1.0/libusb.h>

#include <cstdint>
#include <memory>
#include <optional>

#include "platform/posix/libusb_device_path.h"

namespace firmora::platform {

uint32_t ErrnoForLibusb(int libusbError);

// Where a device sits on the bus (bus and ports, no identity); nullopt for a root hub.
std::optional<UsbDevicePath> LocationOf(libusb_device* device);

struct ConfigDeleter {
    void operator()(libusb_config_descriptor* config) const { libusb_free_config_descriptor(config); }
};
using ConfigPtr = std::unique_ptr<libusb_config_descriptor, ConfigDeleter>;

// Null when the device is unconfigured or its descriptor cannot be read.
ConfigPtr ActiveConfig(libusb_device* device);

// The present devices, referenced until the list goes.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context);
    ~DeviceList();
    DeviceList(const DeviceList&) = delete;
    DeviceList& operator=(const DeviceList&) = delete;

    libusb_device* const* begin() const { return list_; }
    libusb_device* const* end() const { return list_ + count_; }
    int error() const { return error_; }

private:
    libusb_device** list_ = nullptr;
    size_t count_ = 0;
    int error_ = 0;
};

}  // namespace firmora::platform
