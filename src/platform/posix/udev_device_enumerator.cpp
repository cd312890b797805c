#include "platform/posix/udev_device_enumerator.h"

#include <fcntl.h>
#include <libudev.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <tuple>

#include "platform/last_error.h"
#include "platform/posix/libusb_boot_pipe.h"
#include "platform/posix/libusb_device_path.h"
#include "platform/posix/udev_text.h"

namespace firmora::platform {
namespace {

struct EnumerateDeleter {
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
};
using EnumeratePtr = std::unique_ptr<udev_enumerate, EnumerateDeleter>;
struct DeviceDeleter {
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
using DevicePtr = std::unique_ptr<udev_device, DeviceDeleter>;

std::optional<unsigned> Attribute(udev_device* device, const char* name, int base) {
    return UdevNumber(udev_device_get_sysattr_value(device, name), base);
}

// A USB device's place and identity; nullopt when its attributes do not say.
std::optional<UsbDevicePath> UsbDeviceOf(udev_device* usbDevice) {
    auto path = UsbLocationOfSysname(udev_device_get_sysname(usbDevice));
    const auto vendor = Attribute(usbDevice, "idVendor", 16);
    const auto product = Attribute(usbDevice, "idProduct", 16);
    if (!path || !vendor || !product || *vendor > 0xFFFF || *product > 0xFFFF) return std::nullopt;
    path->vendorId = static_cast<uint16_t>(*vendor);
    path->productId = static_cast<uint16_t>(*product);
    return path;
}

bool IsComposite(udev_device* usbDevice) {
    const auto count = Attribute(usbDevice, "bNumInterfaces", 10);
    return count && *count > 1;
}

std::string HardwareId(const UsbDevicePath& device, unsigned revision, std::optional<uint8_t> interfaceNumber) {
    char text[64];
    std::snprintf(text, sizeof text, "USB\\Vid_%04X&Pid_%04X&Rev_%04X", device.vendorId, device.productId,
                  revision & 0xFFFFu);
    std::string id = text;
    if (interfaceNumber) {
        std::snprintf(text, sizeof text, "&MI_%02X", *interfaceNumber);
        id += text;
    }
    return id;
}

// The devices of an enumeration already filtered by `match`.
template <typename Match>
std::vector<DevicePtr> Enumerate(udev* context, Match match) {
    std::vector<DevicePtr> devices;
    EnumeratePtr e(udev_enumerate_new(context));
    if (!e || !match(e.get()) || udev_enumerate_scan_devices(e.get()) < 0) return devices;
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(e.get())) {
        if (DevicePtr device{udev_device_new_from_syspath(context, udev_list_entry_get_name(entry))}) {
            devices.push_back(std::move(device));
        }
    }
    return devices;
}

bool IsSysattr(udev_device* device, const char* name, const char* value) {
    return TrimmedUdevText(udev_device_get_sysattr_value(device, name)) == value;
}

// Device paths ordered by bus location and interface number.
std::vector<std::string> InPathOrder(std::vector<UsbDevicePath> found) {
    std::sort(found.begin(), found.end(), PathOrderLess);
    std::vector<std::string> paths;
    for (const UsbDevicePath& path : found) paths.push_back(FormatDevicePath(path));
    return paths;
}

// List order: by USB location and interface number, then by node.
bool PortOrderLess(const UdevPort& a, const UdevPort& b) {
    const auto location = [](const UdevPort& port) {
        return ParseDevicePath(port.portKey.substr(0, port.portKey.find('#')));
    };
    const auto pa = location(a);
    const auto pb = location(b);
    if (pa && pb && !(*pa == *pb)) return PathOrderLess(*pa, *pb);
    return std::tie(a.portKey, a.deviceNode) < std::tie(b.portKey, b.deviceNode);
}

}  // namespace

std::optional<std::string> UsbDeviceUidOfNode(const std::string& path) {
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0 || !S_ISCHR(info.st_mode)) return std::nullopt;
    struct UdevDeleter {
        void operator()(udev* u) const { udev_unref(u); }
    };
    const std::unique_ptr<udev, UdevDeleter> context(udev_new());
    if (!context) return std::nullopt;
    const DevicePtr device(udev_device_new_from_devnum(context.get(), 'c', info.st_rdev));
    if (!device) return std::nullopt;
    udev_device* usbDevice = udev_device_get_parent_with_subsystem_devtype(device.get(), "usb", "usb_device");
    if (usbDevice == nullptr) return std::nullopt;
    return std::string(udev_device_get_syspath(usbDevice));
}

UdevDeviceEnumerator::UdevDeviceEnumerator(PosixSerialPorts& serialPorts, SettingsStore& settings,
                                           PortRoleTable roles)
    : serialPorts_(serialPorts), arbiter_(settings), roles_(std::move(roles)) {
    udev_ = udev_new();
    monitorUdev_ = udev_new();
    if (monitorUdev_ != nullptr && ::pipe2(stopPipe_, O_CLOEXEC) == 0) {
        monitorThread_ = std::thread([this] { Monitor(); });
    }
    // Knowing the present ports lets their removal be reported, and maps
    // their COM numbers before anyone opens one.
    Ports();
}

UdevDeviceEnumerator::~UdevDeviceEnumerator() {
    if (monitorThread_.joinable()) {
        const char stop = 1;
        while (::write(stopPipe_[1], &stop, 1) < 0 && errno == EINTR) {
        }
        monitorThread_.join();
    }
    for (const int fd : stopPipe_) {
        if (fd >= 0) ::close(fd);
    }
    if (monitorUdev_ != nullptr) udev_unref(monitorUdev_);
    if (udev_ != nullptr) udev_unref(udev_);
}

std::optional<UdevPort> UdevDeviceEnumerator::ResolvePort(udev_device* tty) {
    const char* node = udev_device_get_devnode(tty);
    udev_device* interface = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_interface");
    udev_device* usbDevice = udev_device_get_parent_with_subsystem_devtype(tty, "usb", "usb_device");
    if (node == nullptr || interface == nullptr || usbDevice == nullptr) return std::nullopt;
    const auto device = UsbDeviceOf(usbDevice);
    const auto interfaceNumber = Attribute(interface, "bInterfaceNumber", 16);
    if (!device || !interfaceNumber || *interfaceNumber > 0xFF) return std::nullopt;
    const auto mi = static_cast<uint8_t>(*interfaceNumber);
    const bool composite = IsComposite(usbDevice);

    UdevPort port;
    UsbDevicePath key = *device;
    if (composite) key.interfaceNumber = mi;
    port.portKey = FormatDevicePath(key);
    // Drivers that put several ports on one interface number them.
    if (udev_device* serial = udev_device_get_parent_with_subsystem_devtype(tty, "usb-serial", nullptr)) {
        const auto index = Attribute(serial, "port_number", 10);
        if (index && *index > 0) port.portKey += "#" + std::to_string(*index);
    }
    const auto number = arbiter_.NumberFor(port.portKey);
    if (!number) return std::nullopt;

    const auto property = [tty](const char* name) -> std::optional<std::string> {
        const char* value = udev_device_get_property_value(tty, name);
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
    std::string role = kUnknownRole;
    if (auto tagged = RoleFromModemManagerTags(property)) {
        role = *tagged;
        port.roleSource = RoleSource::ModemManagerTag;
    } else if (auto named = NameText(TrimmedUdevText(udev_device_get_sysattr_value(interface, "interface")))) {
        role = *named;
        port.roleSource = RoleSource::InterfaceString;
    } else if (const PortRoleEntry* entry = FindPortRole(roles_, device->vendorId, device->productId, mi)) {
        role = entry->role;
        port.roleSource = RoleSource::Table;
    }

    port.comNumber = *number;
    port.comName = ComPortValueName(*number);
    port.deviceNode = node;
    port.description = ProductText(TrimmedUdevText(udev_device_get_sysattr_value(usbDevice, "product"))) + " " + role;
    port.friendlyName = port.description + " (" + port.comName + ")";
    port.hardwareId = HardwareId(*device, Attribute(usbDevice, "bcdDevice", 16).value_or(0),
                                 composite ? std::optional<uint8_t>(mi) : std::nullopt);
    port.deviceUid = udev_device_get_syspath(usbDevice);
    port.syspath = udev_device_get_syspath(tty);
    return port;
}

std::optional<std::vector<UdevPort>> UdevDeviceEnumerator::Ports() {
    // Held from the enumeration to the new mappings: an arrival the monitor
    // handles meanwhile is either in this enumeration or mapped after it,
    // never unmapped by a list that missed it.
    std::lock_guard portsLock(portsMutex_);
    std::vector<UdevPort> ports;
    {
        std::lock_guard lock(udevMutex_);
        if (udev_ == nullptr) {
            SetLastError(ENODEV);
            return std::nullopt;
        }
        const auto ttys = Enumerate(udev_, [](udev_enumerate* e) {
            return udev_enumerate_add_match_subsystem(e, "tty") >= 0;
        });
        for (const DevicePtr& tty : ttys) {
            if (auto port = ResolvePort(tty.get())) ports.push_back(std::move(*port));
        }
    }
    std::sort(ports.begin(), ports.end(), PortOrderLess);

    for (const auto& [syspath, old] : known_) {
        const bool stays = std::any_of(ports.begin(), ports.end(), [&](const UdevPort& p) {
            return p.comNumber == old.comNumber;
        });
        if (!stays) serialPorts_.UnmapComPort(old.comNumber);
    }
    known_.clear();
    for (const UdevPort& port : ports) {
        serialPorts_.MapComPort(port.comNumber, port.deviceNode);
        known_[port.syspath] = port;
    }
    return ports;
}

std::optional<std::string> UdevDeviceEnumerator::DeviceUidOf(const std::string& comName) {
    const auto number = ParseComName(comName);
    if (!number) return std::nullopt;
    const auto ports = Ports();
    if (!ports) return std::nullopt;
    for (const UdevPort& port : *ports) {
        if (port.comNumber == *number) return port.deviceUid;
    }
    return std::nullopt;
}

std::optional<std::vector<ComPortInterface>> UdevDeviceEnumerator::ComPortInterfaces() {
    const auto ports = Ports();
    if (!ports) return std::nullopt;
    std::vector<ComPortInterface> interfaces;
    for (const UdevPort& port : *ports) {
        interfaces.push_back({port.deviceNode, port.friendlyName, port.description, port.hardwareId});
    }
    return interfaces;
}

std::vector<std::string> UdevDeviceEnumerator::SerialPortNames() {
    std::vector<std::string> names;
    if (const auto ports = Ports()) {
        for (const UdevPort& port : *ports) names.push_back(port.comName);
    }
    return names;
}

std::vector<std::string> UdevDeviceEnumerator::FastbootInterfacePaths() {
    std::vector<UsbDevicePath> found;
    {
        std::lock_guard lock(udevMutex_);
        if (udev_ == nullptr) return {};
        const auto interfaces = Enumerate(udev_, [](udev_enumerate* e) {
            return udev_enumerate_add_match_subsystem(e, "usb") >= 0 &&
                   udev_enumerate_add_match_sysattr(e, "bInterfaceClass", "ff") >= 0;
        });
        for (const DevicePtr& interface : interfaces) {
            if (!IsSysattr(interface.get(), "bInterfaceSubClass", "42") ||
                !IsSysattr(interface.get(), "bInterfaceProtocol", "03")) {
                continue;
            }
            udev_device* usbDevice =
                udev_device_get_parent_with_subsystem_devtype(interface.get(), "usb", "usb_device");
            const auto number = Attribute(interface.get(), "bInterfaceNumber", 16);
            auto path = usbDevice != nullptr ? UsbDeviceOf(usbDevice) : std::nullopt;
            if (!path || !number || *number > 0xFF) continue;
            if (IsComposite(usbDevice)) path->interfaceNumber = static_cast<uint8_t>(*number);
            found.push_back(std::move(*path));
        }
    }
    return InPathOrder(std::move(found));
}

std::vector<std::string> UdevDeviceEnumerator::UsbBootDevicePaths() {
    std::vector<UsbDevicePath> found;
    {
        std::lock_guard lock(udevMutex_);
        if (udev_ == nullptr) return {};
        const auto devices = Enumerate(udev_, [](udev_enumerate* e) {
            return udev_enumerate_add_match_subsystem(e, "usb") >= 0 &&
                   udev_enumerate_add_match_property(e, "DEVTYPE", "usb_device") >= 0;
        });
        for (const DevicePtr& device : devices) {
            const auto path = UsbDeviceOf(device.get());
            if (path && path->vendorId == kUsbBootVendorId && path->productId == kUsbBootProductId) {
                found.push_back(*path);
            }
        }
    }
    return InPathOrder(std::move(found));
}

std::unique_ptr<DeviceFile> UdevDeviceEnumerator::OpenDevicePath(const std::string& path) {
    const size_t slash = path.rfind('\\');
    if (slash == std::string::npos || strcasecmp(path.c_str() + slash + 1, kUsbBootPipe) != 0) {
        SetLastError(ENOENT);
        return nullptr;
    }
    return OpenLibusbBootPipe(path.substr(0, slash));
}

void UdevDeviceEnumerator::SetChangeHandler(ChangeHandler handler) {
    std::lock_guard lock(handlerMutex_);
    handler_ = std::move(handler);
}

void UdevDeviceEnumerator::Raise(const DeviceChangeEvent& event) {
    ChangeHandler handler;
    {
        std::lock_guard lock(handlerMutex_);
        handler = handler_;
    }
    if (handler) handler(event);
}

void UdevDeviceEnumerator::Monitor() {
    struct MonitorDeleter {
        void operator()(udev_monitor* m) const { udev_monitor_unref(m); }
    };
    std::unique_ptr<udev_monitor, MonitorDeleter> monitor(udev_monitor_new_from_netlink(monitorUdev_, "udev"));
    if (!monitor || udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "tty", nullptr) < 0 ||
        udev_monitor_filter_add_match_subsystem_devtype(monitor.get(), "usb", "usb_device") < 0 ||
        udev_monitor_enable_receiving(monitor.get()) < 0) {
        return;
    }
    pollfd fds[2] = {{udev_monitor_get_fd(monitor.get()), POLLIN, 0}, {stopPipe_[0], POLLIN, 0}};
    while (true) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            return;
        }
        if (fds[1].revents != 0) return;
        if ((fds[0].revents & POLLIN) == 0) continue;
        if (DevicePtr device{udev_monitor_receive_device(monitor.get())}) OnEvent(device.get());
    }
}

void UdevDeviceEnumerator::OnEvent(udev_device* device) {
    const std::string_view action = TrimmedUdevText(udev_device_get_action(device));
    const std::string_view subsystem = TrimmedUdevText(udev_device_get_subsystem(device));
    const bool add = action == "add";
    if (!add && action != "remove") return;
    const std::string syspath = udev_device_get_syspath(device);

    if (subsystem != "tty") {
        Raise({add ? DeviceChange::Arrival : DeviceChange::Removal, false, syspath});
        return;
    }
    std::optional<UdevPort> port;
    if (add) {
        port = ResolvePort(device);
        if (!port) return;
        std::lock_guard lock(portsMutex_);
        serialPorts_.MapComPort(port->comNumber, port->deviceNode);
        known_[syspath] = *port;
    } else {
        std::lock_guard lock(portsMutex_);
        const auto it = known_.find(syspath);
        if (it == known_.end()) return;
        port = it->second;
        serialPorts_.UnmapComPort(port->comNumber);
        known_.erase(it);
    }
    Raise({add ? DeviceChange::Arrival : DeviceChange::Removal, true, port->comName});
}

}  // namespace firmora::platform
