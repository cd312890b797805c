#include "platform/posix/libusb_boot_pipe.h"

#include <libusb-1.0/libusb.h>

#include <cerrno>

#include "platform/last_error.h"
#include "platform/posix/libusb_common.h"
#include "platform/posix/libusb_device_path.h"

namespace firmora::platform {
namespace {

constexpr unsigned kWriteTimeoutMs = 5000;

bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
}

class BootPipe final : public DeviceFile {
public:
    BootPipe(libusb_context* context, libusb_device_handle* handle, uint8_t interfaceNumber, uint8_t endpoint,
             bool reattach)
        : context_(context), handle_(handle), interface_(interfaceNumber), endpoint_(endpoint), reattach_(reattach) {}
    ~BootPipe() override {
        Shut();
        libusb_exit(context_);
    }
    BootPipe(const BootPipe&) = delete;
    BootPipe& operator=(const BootPipe&) = delete;

    bool Write(const uint8_t* data, size_t length, size_t& written) override {
        written = 0;
        if (handle_ == nullptr) return Fail(EBADF);
        if (length > static_cast<size_t>(INT32_MAX)) return Fail(EINVAL);
        int done = 0;
        const int result = libusb_bulk_transfer(handle_, endpoint_, const_cast<uint8_t*>(data),
                                                static_cast<int>(length), &done, kWriteTimeoutMs);
        written = static_cast<size_t>(done > 0 ? done : 0);
        if (result != 0) return Fail(ErrnoForLibusb(result));
        return true;
    }
    bool Close() override {
        if (handle_ == nullptr) return Fail(EBADF);
        Shut();
        return true;
    }

private:
    void Shut() {
        if (handle_ == nullptr) return;
        libusb_release_interface(handle_, interface_);
        if (reattach_) libusb_attach_kernel_driver(handle_, interface_);
        libusb_close(handle_);
        handle_ = nullptr;
    }

    libusb_context* context_;
    libusb_device_handle* handle_;
    uint8_t interface_;
    uint8_t endpoint_;
    bool reattach_;
};

}  // namespace

std::optional<BootPipeEndpoint> FindBootPipe(const libusb_config_descriptor& config) {
    if (config.interface == nullptr) return std::nullopt;
    for (uint8_t i = 0; i < config.bNumInterfaces; ++i) {
        const libusb_interface& interface = config.interface[i];
        if (interface.num_altsetting < 1 || interface.altsetting == nullptr) continue;
        const libusb_interface_descriptor& setting = interface.altsetting[0];
        if (setting.endpoint == nullptr) continue;
        for (uint8_t e = 0; e < setting.bNumEndpoints; ++e) {
            const libusb_endpoint_descriptor& d = setting.endpoint[e];
            const bool bulk = (d.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) == LIBUSB_TRANSFER_TYPE_BULK;
            if (bulk && (d.bEndpointAddress & LIBUSB_ENDPOINT_DIR_MASK) == LIBUSB_ENDPOINT_OUT) {
                return BootPipeEndpoint{setting.bInterfaceNumber, d.bEndpointAddress};
            }
        }
    }
    return std::nullopt;
}

std::unique_ptr<DeviceFile> OpenLibusbBootPipe(const std::string& devicePath) {
    const auto path = ParseDevicePath(devicePath);
    if (!path) {
        SetLastError(EINVAL);
        return nullptr;
    }
    libusb_context* context = nullptr;
    if (const int result = libusb_init(&context); result != 0) {
        SetLastError(ErrnoForLibusb(result));
        return nullptr;
    }
    std::unique_ptr<libusb_context, void (*)(libusb_context*)> owner(context, libusb_exit);
    const DeviceList devices(context);
    for (libusb_device* device : devices) {
        const auto location = LocationOf(device);
        libusb_device_descriptor identity{};
        if (!location || location->bus != path->bus || location->ports != path->ports ||
            libusb_get_device_descriptor(device, &identity) != 0 || identity.idVendor != path->vendorId ||
            identity.idProduct != path->productId) {
            continue;
        }
        const ConfigPtr config = ActiveConfig(device);
        const auto pipe = config ? FindBootPipe(*config) : std::nullopt;
        if (!pipe) break;
        const uint8_t interfaceNumber = pipe->interfaceNumber;
        const uint8_t endpoint = pipe->endpointAddress;
        libusb_device_handle* handle = nullptr;
        if (const int result = libusb_open(device, &handle); result != 0) {
            SetLastError(ErrnoForLibusb(result));
            return nullptr;
        }
        bool reattach = false;
        if (libusb_kernel_driver_active(handle, interfaceNumber) == 1) {
            reattach = libusb_detach_kernel_driver(handle, interfaceNumber) == 0;
        }
        if (const int result = libusb_claim_interface(handle, interfaceNumber); result != 0) {
            if (reattach) libusb_attach_kernel_driver(handle, interfaceNumber);
            libusb_close(handle);
            SetLastError(ErrnoForLibusb(result));
            return nullptr;
        }
        return std::make_unique<BootPipe>(owner.release(), handle, interfaceNumber, endpoint, reattach);
    }
    SetLastError(ENOENT);
    return nullptr;
}

}  // namespace firmora::platform
