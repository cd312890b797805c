#include "link/port_discovery.h"

#include <algorithm>
#include <cctype>
#include <cerrno>

#include "platform/last_error.h"
#include "platform/serial_ports.h"

namespace firmora::link {
namespace {

constexpr uint32_t kSwitchPauseMs = 5000;
constexpr int kDiagCheckScans = 4;
constexpr uint32_t kDiagCheckPauseMs = 500;
constexpr int kUsbBootMembers = 4;
constexpr size_t kDevicePathLimit = 256;
constexpr const char* kUsbBootMatch = "VID_0451&PID_D00E";
constexpr const char* kClassQueryFailed = "SetupDiGetClassDevs failed";
constexpr const char* kClassQueryCaption = "ERROR";

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::toupper(c); });
    return text;
}

bool EqualsNoCase(const std::string& a, const std::string& b) { return Upper(a) == Upper(b); }

bool Contains(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

bool Listed(const std::vector<std::string>& list, const std::string& name) {
    return std::any_of(list.begin(), list.end(), [&](const std::string& entry) { return EqualsNoCase(entry, name); });
}

// A Diag port: the emergency download port alone while the package writes
// the emergency programmer, the diagnostics port otherwise.
bool QualifiesAsDiag(const std::string& friendlyName, bool enprg9x15) {
    const bool diag = Contains(friendlyName, "Diag") || Contains(friendlyName, "DIAG");
    if (!enprg9x15) return diag;
    return !diag && Contains(friendlyName, "QD");  // "QDLoader" holds "QD"
}

std::string First(const std::vector<std::string>& list) { return list.empty() ? std::string() : list.front(); }

}  // namespace

const std::vector<std::string>& SwitchHardwareIds() {
    static const std::vector<std::string> ids = {"USB\\Vid_1C9E&Pid_f101&Rev_0100&MI_00",
                                                 "USB\\Vid_1C9E&Pid_f108&Rev_0100&MI_02",
                                                 "USB\\Vid_11F6&Pid_001b&Rev_0100&MI_00"};
    return ids;
}

std::string PortNameOfFriendlyName(const std::string& friendlyName) {
    const size_t open = friendlyName.find('(');
    const size_t close = friendlyName.find(')');
    if (open == std::string::npos || close == std::string::npos || close < open) return {};
    if (close + 1 != friendlyName.size()) return {};
    std::string name = friendlyName.substr(open + 1, close - open - 1);
    // Only "COM" and a number names a port the tool can open; anything else
    // between the parentheses would reach the worker as a port number of 0.
    const std::optional<int> number = platform::ParseComName(name);
    if (!number || *number < 1 || name != "COM" + std::to_string(*number)) return {};
    return name;
}

PortDiscovery::PortDiscovery(platform::DeviceEnumerator& devices, platform::Clock& clock, platform::Dialogs& dialogs,
                             core::LineLog& log, AtPortProbe& probe, DiscoverySwitch& d1Switch, bool enprg9x15)
    : devices_(devices),
      clock_(clock),
      dialogs_(dialogs),
      log_(log),
      probe_(probe),
      d1Switch_(d1Switch),
      enprg9x15_(enprg9x15) {}

bool PortDiscovery::ScanPorts() {
    std::lock_guard lock(scanMutex_);
    // The lists are built aside and replaced whole, so that nobody reading
    // them meanwhile sees a scan half done.
    PortMap found;
    log_.Log("CheckForComPorts start");
    bool diagFound = ScanComInterfacesLocked(found.diag, found.app);
    if (!diagFound) {
        // The second scan appends the same application ports again.
        found.diag.clear();
        found.app.clear();
        diagFound = ScanComInterfacesLocked(found.diag, found.app);
    }
    log_.Log("CheckForComPorts end");
    log_.Log("Enum AT port start");
    FindAtPortsLocked(found.at, found.diag, found.app);
    log_.Log("Enum AT port end");
    ports_ = std::move(found);
    return diagFound;
}

bool PortDiscovery::ScanComInterfaces(std::vector<std::string>& diag, std::vector<std::string>& app) {
    std::lock_guard lock(scanMutex_);
    return ScanComInterfacesLocked(diag, app);
}

bool PortDiscovery::ScanComInterfacesLocked(std::vector<std::string>& diag, std::vector<std::string>& app) {
    const std::optional<std::vector<platform::ComPortInterface>> interfaces = devices_.ComPortInterfaces();
    if (!interfaces) {
        dialogs_.ShowMessage(kClassQueryCaption, kClassQueryFailed, platform::DialogButtons::Ok,
                             platform::DialogIcon::Error);
        return false;
    }
    bool diagFound = false;
    for (const platform::ComPortInterface& device : *interfaces) {
        if (device.friendlyName.empty() || device.description.empty() || device.hardwareId.empty()) continue;
        const std::string& name = device.friendlyName;

        if (!d1Sent_ && Listed(SwitchHardwareIds(), device.hardwareId)) {
            const std::string port = PortNameOfFriendlyName(name);
            if (!port.empty()) {
                if (d1Switch_.SendD1Switch(port)) d1Sent_ = true;
                // The device leaves and comes back with its modem ports.
                clock_.Sleep(kSwitchPauseMs);
            }
        }

        if (Contains(name, "Ter")) {
            const std::string port = PortNameOfFriendlyName(name);
            if (!port.empty()) app.push_back(port);
        }

        if (QualifiesAsDiag(name, enprg9x15_)) {
            const size_t com = name.find("(COM");
            const std::string port = com == std::string::npos ? std::string() : PortNameOfFriendlyName(name.substr(com));
            if (!port.empty()) {
                diag.push_back(port);
                diagFound = true;
            }
        }
    }
    return diagFound;
}

void PortDiscovery::FindAtPorts(std::vector<std::string>& at, const std::vector<std::string>& diag,
                                const std::vector<std::string>& app) {
    std::lock_guard lock(scanMutex_);
    FindAtPortsLocked(at, diag, app);
}

void PortDiscovery::FindAtPortsLocked(std::vector<std::string>& at, const std::vector<std::string>& diag,
                                      const std::vector<std::string>& app) {
    for (const std::string& name : devices_.SerialPortNames()) {
        // The first two ports are the machine's own serial ports, never a modem's.
        if (EqualsNoCase(name, "COM1") || EqualsNoCase(name, "COM2") || !Contains(name, "COM")) continue;
        log_.Log("enum Port:" + name);
        if (Listed(diag, name) || Listed(app, name)) continue;
        if (probe_.ProbeAtPort(name)) {
            log_.Log("Find AT Port:" + name);
            at.push_back(name);
        }
    }
}

bool PortDiscovery::CheckDiagPort(int portNumber) {
    std::lock_guard lock(scanMutex_);
    std::vector<std::string> diag;
    std::vector<std::string> app;
    for (int scan = 0; scan < kDiagCheckScans; ++scan) {
        if (scan > 0) clock_.Sleep(kDiagCheckPauseMs);
        diag.clear();
        app.clear();
        if (ScanComInterfacesLocked(diag, app)) break;
    }
    if (diag.empty()) {
        log_.Log("Port list <= 0");
        return false;
    }
    const std::optional<int> first = platform::ParseComName(diag.front());
    if (!first) {
        log_.Log("DiaComPort empty");
        return false;
    }
    if (*first == portNumber) {
        log_.Log("Same DiaComPort COM" + std::to_string(portNumber));
        return true;
    }
    log_.Log("Different DiaComPort COM" + std::to_string(portNumber));
    return false;
}

PortMap PortDiscovery::Ports() const {
    std::lock_guard lock(scanMutex_);
    return ports_;
}

std::string PortDiscovery::DiagSelector() const {
    std::lock_guard lock(scanMutex_);
    return First(ports_.diag);
}

std::string PortDiscovery::AppSelector() const {
    std::lock_guard lock(scanMutex_);
    return First(ports_.app);
}

std::string PortDiscovery::AtSelector() const {
    std::lock_guard lock(scanMutex_);
    return First(ports_.at);
}

bool PortDiscovery::D1Sent() const {
    std::lock_guard lock(scanMutex_);
    return d1Sent_;
}

std::unique_ptr<platform::DeviceFile> OpenUsbBootPipe(platform::DeviceEnumerator& devices, core::LineLog& log,
                                                      const std::string& pipeName) {
    const std::vector<std::string> paths = devices.UsbBootDevicePaths();
    std::string devicePath;
    platform::SetLastError(ENODEV);
    for (size_t member = 0; member < paths.size() && member < kUsbBootMembers; ++member) {
        const std::string& path = paths[member];
        log.Log("Attempting to open " + path);
        if (!Contains(Upper(path), kUsbBootMatch)) {
            log.Log(path + " is not our device");
            continue;
        }
        // Opened only to see that it can be; the pipe is opened below.
        std::unique_ptr<platform::DeviceFile> device = devices.OpenDevicePath(path);
        if (!device) {
            log.Log("FAILED to open " + path);
            continue;
        }
        device->Close();
        devicePath = path;
        break;
    }
    if (devicePath.empty()) {
        log.Log("Failed to GetUsbDeviceFileName err - " + std::to_string(platform::LastError()));
        return nullptr;
    }
    const std::string complete = devicePath + "\\" + pipeName;
    if (complete.size() >= kDevicePathLimit) {
        log.Log("Failed to open handle - possibly long filename");
        return nullptr;
    }
    log.Log("completeDeviceName = (" + complete + ")");
    std::unique_ptr<platform::DeviceFile> pipe = devices.OpenDevicePath(complete);
    if (!pipe) {
        log.Log("Failed to open (" + complete + ") = " + std::to_string(platform::LastError()));
        return nullptr;
    }
    log.Log("Opened successfully.");
    return pipe;
}

}  // namespace firmora::link
