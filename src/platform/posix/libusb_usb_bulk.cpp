#include "platform/posix/libusb_usb_bulk.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/last_error.h"
#include "platform/posix/libusb_common.h"
#include "platform/posix/libusb_device_path.h"

namespace firmora::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Packets are this long when a descriptor claims 0 (it must not, but a read
// buffer sized from it must not be empty either).
constexpr uint32_t kFallbackPacketSize = 512;
constexpr int kStringBytes = 256;

uint32_t ErrnoFor(int libusbError) { return ErrnoForLibusb(libusbError); }

bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
}

// An opened device with its claimed interface, and what its descriptors
// said at opening.
class LibusbTransport final : public BulkTransport {
public:
    explicit LibusbTransport(std::shared_ptr<libusb_context> context) : context_(std::move(context)) {}
    ~LibusbTransport() override { Shut(); }
    LibusbTransport(const LibusbTransport&) = delete;
    LibusbTransport& operator=(const LibusbTransport&) = delete;

    bool Describe(BulkInterfaceInfo& info) override;
    bool Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Close() override {
        if (!open_) return Fail(EBADF);
        Shut();
        return true;
    }

    libusb_device_handle* handle = nullptr;
    uint8_t interfaceNumber = 0;
    uint8_t interfaceString = 0;
    bool reattachDriver = false;
    BulkInterfaceInfo info;  // the name is the path until Describe reads the interface string

private:
    void Shut() {
        if (!open_) return;
        open_ = false;
        if (handle == nullptr) return;
        // Failures here mostly mean the device has gone; the handle is
        // closed whatever happened.
        libusb_release_interface(handle, interfaceNumber);
        if (reattachDriver) libusb_attach_kernel_driver(handle, interfaceNumber);
        libusb_close(handle);
        handle = nullptr;
    }

    // Whether the connection may be used; LastError says why not.
    bool Usable() const {
        if (!open_) return Fail(EBADF);
        if (gone_) return Fail(ENODEV);
        return true;
    }

    bool TransferFailed(int result) {
        if (result == LIBUSB_ERROR_NO_DEVICE) gone_ = true;
        return Fail(ErrnoFor(result));
    }

    // Milliseconds left for the next transfer: 0 means no limit to libusb,
    // so a spent limit is reported as nullopt.
    static std::optional<unsigned> Left(uint32_t timeoutMs, SteadyClock::time_point start);

    std::shared_ptr<libusb_context> context_;  // outlives the handle
    bool open_ = true;
    bool gone_ = false;
    bool nameRead_ = false;
};

bool LibusbTransport::Describe(BulkInterfaceInfo& out) {
    if (!Usable()) return false;
    if (!nameRead_ && interfaceString != 0) {
        unsigned char text[kStringBytes];
        const int length = libusb_get_string_descriptor_ascii(handle, interfaceString, text, sizeof text);
        if (length == LIBUSB_ERROR_NO_DEVICE) return TransferFailed(length);
        // No readable interface string: the path names the interface as well.
        if (length > 0) info.name.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
    }
    nameRead_ = true;
    out = info;
    return true;
}

std::optional<unsigned> LibusbTransport::Left(uint32_t timeoutMs, SteadyClock::time_point start) {
    if (timeoutMs == 0) return 0u;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
    if (spent >= static_cast<int64_t>(timeoutMs)) return std::nullopt;
    return static_cast<unsigned>(timeoutMs - static_cast<uint32_t>(spent));
}

bool LibusbTransport::Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!Usable()) return false;
    // No zero-length packet follows a write that fills its last packet: a
    // fastboot device counts bytes, and the command and data writes of the
    // protocol never rely on one. An empty write is itself one empty packet.
    const auto start = SteadyClock::now();
    do {
        const auto wait = Left(timeoutMs, start);
        if (!wait) return Fail(ETIMEDOUT);
        const uint32_t piece = std::min(length - transferred, LibusbUsbBulk::kMaxTransferBytes);
        int done = 0;
        const int result = libusb_bulk_transfer(handle, info.out.endpointAddress,
                                                const_cast<uint8_t*>(data) + transferred,
                                                static_cast<int>(piece), &done, *wait);
        transferred += static_cast<uint32_t>(std::max(done, 0));
        if (result != 0) return TransferFailed(result);
    } while (transferred < length);
    return true;
}

bool LibusbTransport::Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!Usable()) return false;
    // A bulk IN transfer must take whole packets: a packet longer than the
    // room left is an overflow and its bytes are lost. A short buffer (a
    // 256-byte reply read) is therefore served from a whole-packet one, and
    // a message that does not fit the caller's buffer is refused whole.
    const uint32_t packet = info.in.maxPacketSize > 0 ? info.in.maxPacketSize : kFallbackPacketSize;
    const uint32_t want = std::min(length, LibusbUsbBulk::kMaxTransferBytes);
    const bool direct = want % packet == 0;
    std::vector<uint8_t> scratch;
    if (!direct) scratch.resize((want / packet + 1) * packet);
    uint8_t* target = direct ? buffer : scratch.data();
    const int size = static_cast<int>(direct ? want : scratch.size());
    int done = 0;
    const int result = libusb_bulk_transfer(handle, info.in.endpointAddress, target, size, &done, timeoutMs);
    const uint32_t got = static_cast<uint32_t>(std::max(done, 0));
    if (got > want) return Fail(EOVERFLOW);
    if (!direct) std::memcpy(buffer, scratch.data(), got);
    transferred = got;
    if (result != 0) return TransferFailed(result);
    return true;
}

// Opens the device and claims the interface a match names; the transport's
// descriptor fields must be filled already. LastError on failure.
bool OpenAndClaim(libusb_device* device, LibusbTransport& c, uint8_t alternateSetting) {
    int result = libusb_open(device, &c.handle);
    if (result != 0) {
        c.handle = nullptr;
        return Fail(ErrnoFor(result));
    }
    if (libusb_kernel_driver_active(c.handle, c.interfaceNumber) == 1) {
        result = libusb_detach_kernel_driver(c.handle, c.interfaceNumber);
        if (result != 0 && result != LIBUSB_ERROR_NOT_FOUND) {
            libusb_close(c.handle);
            c.handle = nullptr;
            return Fail(ErrnoFor(result));
        }
        c.reattachDriver = result == 0;
    }
    result = libusb_claim_interface(c.handle, c.interfaceNumber);
    if (result == 0 && alternateSetting != 0) {
        result = libusb_set_interface_alt_setting(c.handle, c.interfaceNumber, alternateSetting);
        if (result != 0) libusb_release_interface(c.handle, c.interfaceNumber);
    }
    if (result != 0) {
        if (c.reattachDriver) libusb_attach_kernel_driver(c.handle, c.interfaceNumber);
        libusb_close(c.handle);
        c.handle = nullptr;
        return Fail(ErrnoFor(result));
    }
    return true;
}

}  // namespace

LibusbUsbBulk::LibusbUsbBulk() {
    libusb_context* context = nullptr;
    const int result = libusb_init(&context);
    if (result != 0) {
        startError_ = ErrnoFor(result);
        return;
    }
    context_ = std::shared_ptr<libusb_context>(context, [](libusb_context* c) { libusb_exit(c); });
}

LibusbUsbBulk::~LibusbUsbBulk() = default;

std::vector<std::string> LibusbUsbBulk::FastbootInterfacePaths() {
    std::vector<UsbDevicePath> found;
    if (!context_) return {};
    const DeviceList devices(context_.get());
    for (libusb_device* device : devices) {
        libusb_device_descriptor identity{};
        if (libusb_get_device_descriptor(device, &identity) != 0) continue;
        auto location = LocationOf(device);
        if (!location) continue;
        const ConfigPtr config = ActiveConfig(device);
        if (!config) continue;  // unconfigured: nothing to claim
        const bool composite = IsComposite(*config);
        for (const FastbootInterfaceMatch& match : FastbootInterfaces(*config)) {
            UsbDevicePath path = *location;
            path.vendorId = identity.idVendor;
            path.productId = identity.idProduct;
            if (composite) path.interfaceNumber = match.setting->bInterfaceNumber;
            found.push_back(std::move(path));
        }
    }
    std::sort(found.begin(), found.end(), PathOrderLess);
    std::vector<std::string> paths;
    for (const UsbDevicePath& path : found) paths.push_back(FormatDevicePath(path));
    return paths;
}

std::unique_ptr<BulkTransport> LibusbUsbBulk::Open(const std::string& devicePath) {
    const auto path = ParseDevicePath(devicePath);
    if (!path) {
        SetLastError(EINVAL);
        return nullptr;
    }
    if (!context_) {
        SetLastError(startError_);
        return nullptr;
    }
    const DeviceList devices(context_.get());
    if (devices.error() != 0) {
        SetLastError(ErrnoFor(devices.error()));
        return nullptr;
    }
    for (libusb_device* device : devices) {
        const auto location = LocationOf(device);
        if (!location || location->bus != path->bus || location->ports != path->ports) continue;
        libusb_device_descriptor identity{};
        if (libusb_get_device_descriptor(device, &identity) != 0 || identity.idVendor != path->vendorId ||
            identity.idProduct != path->productId) {
            break;  // another device sits there now
        }
        const ConfigPtr config = ActiveConfig(device);
        const auto match = config ? FindFastbootInterface(*config, *path) : std::nullopt;
        if (!match) break;

        auto transport = std::make_unique<LibusbTransport>(context_);
        LibusbTransport& c = *transport;
        c.interfaceNumber = match->setting->bInterfaceNumber;
        c.interfaceString = match->setting->iInterface;
        c.info.name = devicePath;
        c.info.descriptor = ToInterfaceDescriptor(*match->setting);
        const uint8_t setting = match->setting->bAlternateSetting;
        c.info.in = ToEndpointInformation(*match->bulkIn, setting, kMaxTransferBytes);
        c.info.out = ToEndpointInformation(*match->bulkOut, setting, kMaxTransferBytes);
        if (!OpenAndClaim(device, c, setting)) return nullptr;
        return transport;
    }
    SetLastError(ENOENT);
    return nullptr;
}

}  // namespace firmora::platform
