#include "platform/posix/libusb_usb_bulk.h"

#include <libusb-1.0/libusb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/last_error.h"
#include "platform/posix/libusb_device_path.h"

namespace firmora::platform {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Packets are this long when a descriptor claims 0 (it must not, but a read
// buffer sized from it must not be empty either).
constexpr uint32_t kFallbackPacketSize = 512;
constexpr int kMaxPortDepth = 7;
constexpr int kStringBytes = 256;

uint32_t ErrnoFor(int libusbError) {
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

bool Fail(uint32_t code) {
    SetLastError(code);
    return false;
}

// Where a device sits on the bus; nullopt for a root hub.
std::optional<UsbDevicePath> LocationOf(libusb_device* device) {
    uint8_t ports[kMaxPortDepth];
    const int depth = libusb_get_port_numbers(device, ports, kMaxPortDepth);
    if (depth <= 0) return std::nullopt;
    UsbDevicePath path;
    path.bus = libusb_get_bus_number(device);
    path.ports.assign(ports, ports + depth);
    return path;
}

struct ConfigDeleter {
    void operator()(libusb_config_descriptor* config) const { libusb_free_config_descriptor(config); }
};
using ConfigPtr = std::unique_ptr<libusb_config_descriptor, ConfigDeleter>;

ConfigPtr ActiveConfig(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return nullptr;
    return ConfigPtr(config);
}

// The present devices, referenced until the list goes.
class DeviceList {
public:
    explicit DeviceList(libusb_context* context) {
        const ssize_t count = libusb_get_device_list(context, &list_);
        count_ = count > 0 ? static_cast<size_t>(count) : 0;
        error_ = count < 0 ? static_cast<int>(count) : 0;
    }
    ~DeviceList() {
        if (list_ != nullptr) libusb_free_device_list(list_, 1);
    }
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

// What an interface and its endpoints share: the opened device and the
// claimed interface, with what their descriptors said at opening.
struct Connection {
    std::shared_ptr<libusb_context> context;  // outlives the handle
    libusb_device_handle* handle = nullptr;
    std::string path;
    uint8_t interfaceNumber = 0;
    uint8_t interfaceString = 0;
    bool reattachDriver = false;
    UsbInterfaceDescriptor descriptor;
    UsbEndpointInformation in;
    UsbEndpointInformation out;

    std::atomic<bool> open{true};
    std::atomic<bool> gone{false};
    // What a read took from the device beyond the caller's buffer: handed
    // out by the next reads before the device is asked again.
    std::vector<uint8_t> readRest;
    size_t readRestAt = 0;

    ~Connection() { Shut(); }

    void Shut() {
        if (!open.exchange(false) || handle == nullptr) return;
        // Failures here mostly mean the device has gone; the handle is
        // closed whatever happened.
        libusb_release_interface(handle, interfaceNumber);
        if (reattachDriver) libusb_attach_kernel_driver(handle, interfaceNumber);
        libusb_close(handle);
        handle = nullptr;
    }

    // Whether the connection may be used; LastError says why not.
    bool Usable() const {
        if (!open) return Fail(EBADF);
        if (gone) return Fail(ENODEV);
        return true;
    }

    bool TransferFailed(int result) {
        if (result == LIBUSB_ERROR_NO_DEVICE) gone = true;
        return Fail(ErrnoFor(result));
    }
};

class LibusbEndpoint final : public UsbEndpoint {
public:
    LibusbEndpoint(std::shared_ptr<Connection> connection, bool in)
        : c_(std::move(connection)), in_(in) {}

    bool WriteSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool ReadSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override;
    bool Close() override {
        if (closed_) return Fail(EBADF);
        closed_ = true;
        return true;
    }

private:
    bool Usable(bool wantIn) const {
        if (closed_) return Fail(EBADF);
        if (wantIn != in_) return Fail(EINVAL);
        return c_->Usable();
    }
    // Milliseconds left for the next transfer: 0 means no limit to libusb,
    // so a spent limit is reported as nullopt.
    static std::optional<unsigned> Left(uint32_t timeoutMs, SteadyClock::time_point start);
    bool Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs);

    std::shared_ptr<Connection> c_;
    bool in_;
    bool closed_ = false;
};

std::optional<unsigned> LibusbEndpoint::Left(uint32_t timeoutMs, SteadyClock::time_point start) {
    if (timeoutMs == 0) return 0u;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start).count();
    if (spent >= static_cast<int64_t>(timeoutMs)) return std::nullopt;
    return static_cast<unsigned>(timeoutMs - static_cast<uint32_t>(spent));
}

bool LibusbEndpoint::WriteSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!Usable(false)) return false;
    // No zero-length packet follows a write that fills its last packet: a
    // fastboot device counts bytes, and the command and data writes of the
    // protocol never rely on one. An empty write is itself one empty packet.
    const auto start = SteadyClock::now();
    do {
        const auto wait = Left(timeoutMs, start);
        if (!wait) return Fail(ETIMEDOUT);
        const uint32_t piece = std::min(length - transferred, LibusbUsbBulk::kMaxTransferBytes);
        int done = 0;
        const int result = libusb_bulk_transfer(c_->handle, c_->out.endpointAddress,
                                                const_cast<uint8_t*>(data) + transferred,
                                                static_cast<int>(piece), &done, *wait);
        transferred += static_cast<uint32_t>(std::max(done, 0));
        if (result != 0) return c_->TransferFailed(result);
    } while (transferred < length);
    return true;
}

bool LibusbEndpoint::ReadSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!Usable(true)) return false;
    if (length == 0) return true;
    std::vector<uint8_t>& rest = c_->readRest;
    if (c_->readRestAt < rest.size()) {
        transferred = static_cast<uint32_t>(std::min<size_t>(length, rest.size() - c_->readRestAt));
        std::memcpy(buffer, rest.data() + c_->readRestAt, transferred);
        c_->readRestAt += transferred;
        return true;
    }
    return Read(buffer, length, transferred, timeoutMs);
}

bool LibusbEndpoint::Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    // A bulk IN transfer must take whole packets: a packet longer than the
    // room left is an overflow and its bytes are lost. Short buffers (a
    // 16-byte reply read) are therefore served from a whole-packet one, and
    // what does not fit waits for the next read.
    const uint32_t packet = c_->in.maxPacketSize > 0 ? c_->in.maxPacketSize : kFallbackPacketSize;
    const uint32_t want = std::min(length, LibusbUsbBulk::kMaxTransferBytes);
    const bool direct = want % packet == 0;
    std::vector<uint8_t> scratch;
    if (!direct) scratch.resize((want / packet + 1) * packet);
    uint8_t* target = direct ? buffer : scratch.data();
    const int size = static_cast<int>(direct ? want : scratch.size());
    int done = 0;
    const int result = libusb_bulk_transfer(c_->handle, c_->in.endpointAddress, target, size, &done, timeoutMs);
    const uint32_t got = static_cast<uint32_t>(std::max(done, 0));
    transferred = std::min(got, want);
    if (!direct) {
        std::memcpy(buffer, scratch.data(), transferred);
        c_->readRest.assign(scratch.begin() + transferred, scratch.begin() + got);
        c_->readRestAt = 0;
    }
    if (result != 0) return c_->TransferFailed(result);
    return true;
}

class LibusbInterface final : public UsbInterface {
public:
    explicit LibusbInterface(std::shared_ptr<Connection> connection) : c_(std::move(connection)) {}

    bool GetInterfaceName(std::string& name) override {
        if (!c_->Usable()) return false;
        if (c_->interfaceString != 0) {
            unsigned char text[kStringBytes];
            const int length = libusb_get_string_descriptor_ascii(c_->handle, c_->interfaceString, text, sizeof text);
            if (length == LIBUSB_ERROR_NO_DEVICE) return c_->TransferFailed(length);
            if (length > 0) {
                name.assign(reinterpret_cast<const char*>(text), static_cast<size_t>(length));
                return true;
            }
        }
        // No readable interface string: the path names the interface as well.
        name = c_->path;
        return true;
    }
    bool GetInterfaceDescriptor(UsbInterfaceDescriptor& descriptor) override {
        if (!c_->Usable()) return false;
        descriptor = c_->descriptor;
        return true;
    }
    bool GetDefaultBulkReadEndpointInformation(UsbEndpointInformation& info) override {
        if (!c_->Usable()) return false;
        info = c_->in;
        return true;
    }
    bool GetDefaultBulkWriteEndpointInformation(UsbEndpointInformation& info) override {
        if (!c_->Usable()) return false;
        info = c_->out;
        return true;
    }
    std::unique_ptr<UsbEndpoint> OpenDefaultBulkReadEndpoint() override { return Open(true); }
    std::unique_ptr<UsbEndpoint> OpenDefaultBulkWriteEndpoint() override { return Open(false); }
    bool Close() override {
        // Closing a connection to a device that has gone still succeeds.
        if (!c_->open) return Fail(EBADF);
        c_->Shut();
        return true;
    }

private:
    std::unique_ptr<UsbEndpoint> Open(bool in) {
        if (!c_->Usable()) return nullptr;
        return std::make_unique<LibusbEndpoint>(c_, in);
    }

    std::shared_ptr<Connection> c_;
};

// Opens the device and claims the interface a match names; the connection's
// descriptor fields must be filled already. LastError on failure.
bool OpenAndClaim(libusb_device* device, Connection& c, uint8_t alternateSetting) {
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

std::unique_ptr<UsbInterface> LibusbUsbBulk::CreateInterfaceByName(const std::string& devicePath) {
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

        auto connection = std::make_shared<Connection>();
        Connection& c = *connection;
        c.context = context_;
        c.path = devicePath;
        c.interfaceNumber = match->setting->bInterfaceNumber;
        c.interfaceString = match->setting->iInterface;
        c.descriptor = ToInterfaceDescriptor(*match->setting);
        const uint8_t setting = match->setting->bAlternateSetting;
        c.in = ToEndpointInformation(*match->bulkIn, setting, kMaxTransferBytes);
        c.out = ToEndpointInformation(*match->bulkOut, setting, kMaxTransferBytes);
        if (!OpenAndClaim(device, c, setting)) {
            c.open = false;
            return nullptr;
        }
        return std::make_unique<LibusbInterface>(std::move(connection));
    }
    SetLastError(ENOENT);
    return nullptr;
}

}  // namespace firmora::platform
