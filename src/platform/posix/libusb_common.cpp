#include "platform/posix/libusb_common.h"

#include <cerrno>

namespace firmora::platform {
namespace {

constexpr int kMaxPortDepth = 7;

}  // namespace

uint32_t ErrnoForLibusb(int libusbError) {
    switch (libusbError) {
        case LIBUSB_ERROR_INVALID_PARAM: return EINVAL;
        case LIBUSB_ERROR_ACCESS: return EACCES;
        case LIBUSB_ERROR_NO_DEVICE: return ENODEV;
        case LIBUSB_ERROR_NOT_FOUND: return ENOENT;
        case LIBUSB_ERROR_BUSY: return EBUSY;
        case LIBUSB_ERROR_TIMEOUT: return ETIMEDOUT;
        case LIBUSB_ERROR_OVERFLOW: return EOVERFLOW;
        case LIBUSB_ERROR_PIPE: return EPIPE;
        case LIBUSB_ERROR_INTERRUPTED: return EINTR;
        case LIBUSB_ERROR_NO_MEM: return ENOMEM;
        case LIBUSB_ERROR_NOT_SUPPORTED: return ENOTSUP;
        default: return EIO;
    }
}

std::optional<UsbDevicePath> LocationOf(libusb_device* device) {
    uint8_t ports[kMaxPortDepth];
    const int depth = libusb_get_port_numbers(device, ports, kMaxPortDepth);
    if (depth <= 0) return std::nullopt;
    UsbDevicePath path;
    path.bus = libusb_get_bus_number(device);
    path.ports.assign(ports, ports + depth);
    return path;
}

ConfigPtr ActiveConfig(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return nullptr;
    return ConfigPtr(config);
}

DeviceList::DeviceList(libusb_context* context) {
    const ssize_t count = libusb_get_device_list(context, &list_);
    count_ = count > 0 ? static_cast<size_t>(count) : 0;
    error_ = count < 0 ? static_cast<int>(count) : 0;
}

DeviceList::~DeviceList() {
    if (list_ != nullptr) libusb_free_device_list(list_, 1);
}

}  // namespace firmora::platform
