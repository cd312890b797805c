#include "sim/usb_profile.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace firmora::sim {
namespace {

using nlohmann::json;

// Typed access to one object of the scenario, naming the key in every error.
class Section {
public:
    Section(const json* object, std::string path) : object_(object), path_(std::move(path)) {}

    static Section Of(const json& parent, const std::string& key, const std::string& parentPath = "") {
        const std::string path = parentPath.empty() ? key : parentPath + "." + key;
        if (!parent.contains(key)) return Section(nullptr, path);
        const json& value = parent.at(key);
        if (!value.is_object()) Fail(path, "an object", value);
        return Section(&value, path);
    }

    const std::string& path() const { return path_; }
    const json* Find(const std::string& key) const {
        if (!object_ || !object_->contains(key)) return nullptr;
        return &object_->at(key);
    }

    std::string Text(const std::string& key, const std::string& fallback) const {
        const json* value = Find(key);
        if (!value) return fallback;
        if (!value->is_string()) Fail(Key(key), "a string", *value);
        return value->get<std::string>();
    }
    uint64_t Milliseconds(const std::string& key, uint64_t fallback) const {
        const json* value = Find(key);
        if (!value) return fallback;
        if (!value->is_number_integer() || value->get<int64_t>() < 0) {
            Fail(Key(key), "a whole number of 0 or more", *value);
        }
        return value->get<uint64_t>();
    }
    bool Flag(const std::string& key, bool fallback) const {
        const json* value = Find(key);
        if (!value) return fallback;
        if (!value->is_boolean()) Fail(Key(key), "true or false", *value);
        return value->get<bool>();
    }
    Personality PersonalityAt(const std::string& key, Personality fallback) const {
        const json* value = Find(key);
        if (!value) return fallback;
        if (value->is_string()) {
            if (auto parsed = ParsePersonality(value->get<std::string>())) return *parsed;
        }
        Fail(Key(key), "one of \"normal\", \"cdrom\", \"bootloader\", \"usbboot\", \"absent\"", *value);
    }

    std::string Key(const std::string& key) const { return path_ + "." + key; }

    [[noreturn]] static void Fail(const std::string& path, const std::string& expected, const json& found) {
        std::string shown = found.dump();
        if (shown.size() > 40) shown = shown.substr(0, 37) + "...";
        throw std::runtime_error(path + " must be " + expected + ", not " + found.type_name() + " " + shown);
    }

private:
    const json* object_;
    std::string path_;
};

std::optional<PortRole> ParseRole(const std::string& text) {
    if (text == "diag") return PortRole::Diag;
    if (text == "app") return PortRole::App;
    if (text == "at") return PortRole::At;
    return std::nullopt;
}

int ComNumber(const json& value, const std::string& path) {
    if (!value.is_number_integer() || value.get<int64_t>() < 1 || value.get<int64_t>() > 255) {
        Section::Fail(path, "a COM number from 1 to 255", value);
    }
    return value.get<int>();
}

std::vector<PortProfile> DefaultPorts() {
    auto port = [](PortRole role, int com, const char* name, int interface, PortProfile::Protocol protocol) {
        PortProfile p;
        p.role = role;
        p.comNumber = com;
        p.name = name;
        p.description = name;
        p.hardwareId = "USB\\VID_1D6B&PID_F101&REV_0100&MI_0" + std::to_string(interface);
        p.protocol = protocol;
        return p;
    };
    return {port(PortRole::Diag, 5, "LTE Modem Diagnostics Port", 0, PortProfile::Protocol::Diag),
            port(PortRole::App, 6, "LTE Modem Terminal Port", 1, PortProfile::Protocol::None),
            port(PortRole::At, 7, "LTE Modem AT Port", 2, PortProfile::Protocol::At)};
}

PortProfile::Protocol DefaultProtocol(PortRole role) {
    switch (role) {
        case PortRole::Diag: return PortProfile::Protocol::Diag;
        case PortRole::At: return PortProfile::Protocol::At;
        case PortRole::App: return PortProfile::Protocol::None;
    }
    return PortProfile::Protocol::None;
}

std::vector<PortProfile> ReadPorts(const Section& usb) {
    const json* list = usb.Find("ports");
    if (!list) return DefaultPorts();
    const std::string listPath = usb.Key("ports");
    if (!list->is_array()) Section::Fail(listPath, "an array of ports", *list);
    std::vector<PortProfile> ports;
    for (size_t i = 0; i < list->size(); ++i) {
        const std::string path = listPath + "[" + std::to_string(i) + "]";
        const json& item = list->at(i);
        if (!item.is_object()) Section::Fail(path, "an object", item);
        const Section port(&item, path);
        PortProfile p;
        const json* role = port.Find("role");
        if (!role) throw std::runtime_error(path + ".role is missing (\"diag\", \"app\" or \"at\")");
        std::optional<PortRole> parsed = role->is_string() ? ParseRole(role->get<std::string>()) : std::nullopt;
        if (!parsed) Section::Fail(path + ".role", "\"diag\", \"app\" or \"at\"", *role);
        p.role = *parsed;
        for (const PortProfile& other : ports) {
            if (other.role == p.role) throw std::runtime_error(path + ".role repeats \"" + ToString(p.role) + "\"");
        }
        const json* com = port.Find("com");
        if (!com) throw std::runtime_error(path + ".com is missing");
        p.comNumber = ComNumber(*com, path + ".com");
        p.name = port.Text("name", "LTE Modem Port");
        p.description = port.Text("description", p.name);
        p.hardwareId = port.Text("hardwareId", "USB\\VID_1D6B&PID_F101&REV_0100&MI_0" + std::to_string(i));
        const std::string protocol = port.Text("protocol", "");
        if (protocol.empty()) {
            p.protocol = DefaultProtocol(p.role);
        } else if (protocol == "at") {
            p.protocol = PortProfile::Protocol::At;
        } else if (protocol == "diag") {
            p.protocol = PortProfile::Protocol::Diag;
        } else if (protocol == "none") {
            p.protocol = PortProfile::Protocol::None;
        } else {
            Section::Fail(path + ".protocol", "\"at\", \"diag\" or \"none\"", json(protocol));
        }
        ports.push_back(std::move(p));
    }
    return ports;
}

std::vector<std::map<PortRole, int>> ReadReturnComPorts(const Section& usb) {
    std::vector<std::map<PortRole, int>> sets;
    const json* list = usb.Find("returnComPorts");
    if (!list) return sets;
    const std::string listPath = usb.Key("returnComPorts");
    if (!list->is_array()) Section::Fail(listPath, "an array of {\"diag\": n, \"app\": n, \"at\": n}", *list);
    for (size_t i = 0; i < list->size(); ++i) {
        const std::string path = listPath + "[" + std::to_string(i) + "]";
        const json& item = list->at(i);
        if (!item.is_object()) Section::Fail(path, "an object", item);
        std::map<PortRole, int> numbers;
        for (const auto& [key, value] : item.items()) {
            const std::optional<PortRole> role = ParseRole(key);
            if (!role) throw std::runtime_error(path + " has the key \"" + key + "\"; expected diag, app or at");
            numbers[*role] = ComNumber(value, path + "." + key);
        }
        sets.push_back(std::move(numbers));
    }
    return sets;
}

// Inserts the first-interface marker into the fastboot path, before the
// instance part, as a composite device's interface path carries it.
std::string Composite(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    if (lower.find("mi_0") != std::string::npos) return path;
    const size_t first = path.find('#');
    const size_t second = first == std::string::npos ? first : path.find('#', first + 1);
    if (second == std::string::npos) return path + "&mi_00";
    return path.substr(0, second) + "&mi_00" + path.substr(second);
}

}  // namespace

std::string ToString(PortRole role) {
    switch (role) {
        case PortRole::Diag: return "diag";
        case PortRole::App: return "app";
        case PortRole::At: return "at";
    }
    return "unknown";
}

std::optional<Personality> ParsePersonality(const std::string& text) {
    for (Personality p : {Personality::Absent, Personality::CdromOnly, Personality::Normal, Personality::Bootloader,
                          Personality::UsbBoot}) {
        if (ToString(p) == text) return p;
    }
    return std::nullopt;
}

std::optional<ModemRequest> ParseModemRequest(const std::string& text) {
    for (ModemRequest r : {ModemRequest::RebootToBootloader, ModemRequest::Reset, ModemRequest::PowerOff,
                           ModemRequest::SwitchToModem, ModemRequest::SwitchToCdrom, ModemRequest::DropOffBus}) {
        if (ToString(r) == text) return r;
    }
    return std::nullopt;
}

const PortProfile* UsbProfile::Port(PortRole role) const {
    for (const PortProfile& port : ports) {
        if (port.role == role) return &port;
    }
    return nullptr;
}

UsbProfile UsbProfile::FromScenario(const json& scenario) {
    if (!scenario.is_object()) Section::Fail("(scenario)", "an object", scenario);
    UsbProfile p;
    const Section usb = Section::Of(scenario, "usb");
    p.initial = usb.PersonalityAt("personality", Personality::Normal);
    p.ports = ReadPorts(usb);
    p.returnComPorts = ReadReturnComPorts(usb);
    p.instance = usb.Text("instance", "6&2f0a5c1&0");
    p.fastbootInterfacePath =
        usb.Text("fastbootInterfacePath", "\\\\?\\usb#vid_1d6b&pid_f10b#0123456789abcdef#{f72fe0d4-cbcb-407d-8814-9ed673d0dd6b}");
    if (usb.Flag("fastbootComposite", false)) p.fastbootInterfacePath = Composite(p.fastbootInterfacePath);
    p.usbBootDevicePath =
        usb.Text("usbBootDevicePath", "\\\\?\\usb#vid_0451&pid_d00e#5&2a7b3c1&0&1#{00873fdf-61a8-11d1-aa5e-00c04fb1728b}");
    p.cdromDevicePath = usb.Text("cdromDevicePath", "USBSTOR\\CdRomUSBModemDisk____________2.31");
    p.afterUsbBoot = usb.PersonalityAt("usbBootThen", Personality::Bootloader);
    p.usbBootMaxLoaderBytes = usb.Milliseconds("usbBootMaxLoaderBytes", p.usbBootMaxLoaderBytes);
    p.bulkBytesPerMs = usb.Milliseconds("bulkBytesPerMs", 0);

    if (const json* never = usb.Find("neverReturnAfter")) {
        const std::string path = usb.Key("neverReturnAfter");
        if (!never->is_array()) Section::Fail(path, "an array of transition names", *never);
        for (size_t i = 0; i < never->size(); ++i) {
            const json& item = never->at(i);
            std::optional<ModemRequest> request =
                item.is_string() ? ParseModemRequest(item.get<std::string>()) : std::nullopt;
            if (!request) {
                Section::Fail(path + "[" + std::to_string(i) + "]",
                              "one of \"reboot-bootloader\", \"reset\", \"power-off\", \"switch-to-modem\", "
                              "\"switch-to-cdrom\", \"drop-off-bus\"",
                              item);
            }
            p.neverReturnAfter.insert(*request);
        }
    }
    static const json kNoSection = json::object();
    const Section drop = Section::Of(scenario.contains("usb") ? scenario.at("usb") : kNoSection, "dropOffBus", "usb");
    const std::string returnsAs = drop.Text("returnAs", "same");
    if (returnsAs == "never") {
        p.dropNeverReturns = true;
    } else if (returnsAs != "same") {
        p.dropReturnsAs = drop.PersonalityAt("returnAs", Personality::Normal);
    }
    p.dropReturnMs = drop.Milliseconds("returnMs", p.dropReturnMs);

    const Section transitions = Section::Of(scenario, "transitions");
    p.rebootToBootloaderMs = transitions.Milliseconds("rebootToBootloaderMs", p.rebootToBootloaderMs);
    p.resetMs = transitions.Milliseconds("resetMs", p.resetMs);
    p.powerOffMs = transitions.Milliseconds("powerOffMs", p.powerOffMs);
    p.switchToModemMs = transitions.Milliseconds("switchToModemMs", p.switchToModemMs);
    p.switchToCdromMs = transitions.Milliseconds("switchToCdromMs", p.switchToCdromMs);
    p.usbBootMs = transitions.Milliseconds("usbBootMs", p.usbBootMs);
    p.resetReturnsAs = transitions.PersonalityAt("resetReturnsAs", p.resetReturnsAs);

    const Section programs = Section::Of(scenario, "programs");
    p.swivletMs = programs.Milliseconds("swivletMs", p.swivletMs);
    p.rebootleMs = programs.Milliseconds("rebootleMs", p.rebootleMs);
    if (programs.Find("rebootleResult")) p.rebootleResult = programs.Text("rebootleResult", "");
    p.drivletMs = programs.Milliseconds("drivletMs", p.drivletMs);

    const Section bootloader = Section::Of(scenario, "bootloader");
    p.efsPartition = bootloader.Text("efsPartition", p.efsPartition);
    return p;
}

}  // namespace firmora::sim
