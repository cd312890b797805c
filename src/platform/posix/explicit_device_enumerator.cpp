#include "platform/posix/explicit_device_enumerator.h"

#include <sys/stat.h>

#include <cerrno>
#include <filesystem>

#include "platform/last_error.h"
#include "platform/posix/libusb_device_path.h"
#include "platform/posix/libusb_usb_bulk.h"
#include "platform/posix/port_roles.h"
#include "platform/posix/tcp_usb_bulk.h"
#include "platform/posix/udev_device_enumerator.h"

namespace firmora::platform {
namespace {

constexpr char kProduct[] = "Named";
constexpr char kHardwareId[] = "FIRMORA\\NAMED_PORT";

// A path made absolute against the working folder of now (links are kept as
// links): a COM mapping must not depend on where the tool runs later.
std::string Absolute(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.string();
}

}  // namespace

ExplicitDeviceEnumerator::ExplicitDeviceEnumerator(PosixSerialPorts& serialPorts, ExplicitPorts ports,
                                                   std::chrono::milliseconds pollInterval)
    : serialPorts_(serialPorts), fastboot_(std::move(ports.fastboot)), pollInterval_(pollInterval) {
    const auto add = [this](int number, const char* role, std::string path) {
        if (path.empty()) return;
        path = Absolute(path);
        serialPorts_.MapComPort(number, path);
        const bool present = Present(path);
        named_.push_back({number, role, std::move(path), present});
    };
    // "Terminal Port" rather than the tagged application role: no tag tells
    // what the named port carries, only the option it was named with.
    add(kDiagComNumber, kDiagRole, std::move(ports.diag));
    add(kAppComNumber, "Terminal Port", std::move(ports.app));
    add(kAtComNumber, kAtRole, std::move(ports.at));
    if (ParseDevicePath(fastboot_)) usb_ = std::make_unique<LibusbUsbBulk>();
    if (!named_.empty()) watcher_ = std::thread([this] { Watch(); });
}

ExplicitDeviceEnumerator::~ExplicitDeviceEnumerator() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    stopSignal_.notify_all();
    if (watcher_.joinable()) watcher_.join();
    for (const Named& port : named_) serialPorts_.UnmapComPort(port.comNumber);
}

bool ExplicitDeviceEnumerator::Present(const std::string& path) {
    struct stat info {};
    return ::stat(path.c_str(), &info) == 0 && S_ISCHR(info.st_mode);
}

std::optional<std::string> ExplicitDeviceEnumerator::ComNameOf(const std::string& path) const {
    const std::string wanted = Absolute(path);
    for (const Named& port : named_) {
        if (port.path == wanted) return ComPortValueName(port.comNumber);
    }
    return std::nullopt;
}

std::optional<std::string> ExplicitDeviceEnumerator::DeviceUidOf(const std::string& comName) const {
    const auto number = ParseComName(comName);
    for (const Named& port : named_) {
        if (number == port.comNumber) return UsbDeviceUidOfNode(port.path);
    }
    return std::nullopt;
}

std::optional<std::vector<ComPortInterface>> ExplicitDeviceEnumerator::ComPortInterfaces() {
    std::vector<ComPortInterface> interfaces;
    for (const Named& port : named_) {
        if (!Present(port.path)) continue;
        const std::string description = std::string(kProduct) + " " + port.role;
        interfaces.push_back(
            {port.path, description + " (" + ComPortValueName(port.comNumber) + ")", description, kHardwareId});
    }
    return interfaces;
}

std::vector<std::string> ExplicitDeviceEnumerator::SerialPortNames() {
    std::vector<std::string> names;
    for (const Named& port : named_) {
        if (Present(port.path)) names.push_back(ComPortValueName(port.comNumber));
    }
    return names;
}

std::vector<std::string> ExplicitDeviceEnumerator::FastbootInterfacePaths() {
    if (fastboot_.empty()) return {};
    if (usb_) {
        const auto wanted = ParseDevicePath(fastboot_);
        for (const std::string& path : usb_->FastbootInterfacePaths()) {
            if (ParseDevicePath(path) == wanted) return {fastboot_};
        }
        return {};
    }
    TcpUsbBulk tcp;
    if (auto connection = tcp.Open(fastboot_)) {
        connection->Close();
        return {fastboot_};
    }
    return {};
}

std::unique_ptr<DeviceFile> ExplicitDeviceEnumerator::OpenDevicePath(const std::string& /*path*/) {
    SetLastError(ENOENT);
    return nullptr;
}

void ExplicitDeviceEnumerator::SetChangeHandler(ChangeHandler handler) {
    std::lock_guard lock(mutex_);
    handler_ = std::move(handler);
}

void ExplicitDeviceEnumerator::Watch() {
    std::unique_lock lock(mutex_);
    while (!stopSignal_.wait_for(lock, pollInterval_, [this] { return stop_; })) {
        std::vector<DeviceChangeEvent> events;
        for (Named& port : named_) {
            const bool present = Present(port.path);
            if (present == port.present) continue;
            port.present = present;
            events.push_back({present ? DeviceChange::Arrival : DeviceChange::Removal, true,
                              ComPortValueName(port.comNumber)});
        }
        if (events.empty()) continue;
        // The handler may call back into this object: it runs unlocked.
        ChangeHandler handler = handler_;
        lock.unlock();
        if (handler) {
            for (const DeviceChangeEvent& event : events) handler(event);
        }
        lock.lock();
    }
}

}  // namespace firmora::platform
