#pragma once
// The bus side of a scenario: which ports the device shows and under which
// names, the paths of its boot-loader and USB-boot interfaces, how long each
// transition keeps it off the bus, the bus faults, and how the package's
// external programs act on it. Read once from the scenario's "usb",
// "transitions" and "programs" sections (see docs/simulator.md).

#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/device_side.h"
#include "sim/virtual_modem.h"

namespace firmora::sim {

struct PortProfile {
    PortRole role = PortRole::Diag;
    int comNumber = 0;
    std::string name;         // friendly name without the " (COMn)" suffix
    std::string description;
    std::string hardwareId;
    enum class Protocol { None, At, Diag } protocol = Protocol::None;
};

struct UsbProfile {
    Personality initial = Personality::Normal;
    std::vector<PortProfile> ports;
    // Entry k: the COM numbers the ports take on the (k+1)-th return to the
    // normal personality; roles left out keep theirs.
    std::vector<std::map<PortRole, int>> returnComPorts;
    std::string instance;              // instance part of the serial interfaces' paths
    std::string fastbootInterfacePath; // with "&mi_00" already inserted when composite
    std::string usbBootDevicePath;
    std::string cdromDevicePath;
    Personality afterUsbBoot = Personality::Bootloader;
    uint64_t usbBootMaxLoaderBytes = 16u << 20;
    // Host-to-device bulk speed; 0: transfers take no time.
    uint64_t bulkBytesPerMs = 0;

    // How long the device stays off the bus after each transition.
    uint64_t rebootToBootloaderMs = 6000;
    uint64_t resetMs = 10000;
    uint64_t powerOffMs = 10000;
    uint64_t switchToModemMs = 3000;
    uint64_t switchToCdromMs = 3000;
    uint64_t usbBootMs = 2000;
    // Where a reset or power-off lands (some products come back as CD-ROM only).
    Personality resetReturnsAs = Personality::Normal;

    // Faults of the bus.
    std::set<ModemRequest> neverReturnAfter;
    std::optional<Personality> dropReturnsAs;  // nullopt: the personality it left
    bool dropNeverReturns = false;
    uint64_t dropReturnMs = 5000;

    // The package's external programs.
    uint64_t swivletMs = 1000;
    uint64_t rebootleMs = 2000;
    std::optional<std::string> rebootleResult;  // default: "100", or "-1" with no modem
    uint64_t drivletMs = 1000;

    // The boot-loader partition whose flash or erase wipes the device's stored data.
    std::string efsPartition = "efs2";

    // Throws std::runtime_error naming the key ("usb.ports[1].com must be
    // an integer, not string") on a value of the wrong type or range.
    static UsbProfile FromScenario(const nlohmann::json& scenario);

    const PortProfile* Port(PortRole role) const;
};

std::string ToString(PortRole role);
// "normal", "cdrom", ... back to a personality; nullopt for anything else.
std::optional<Personality> ParsePersonality(const std::string& text);
std::optional<ModemRequest> ParseModemRequest(const std::string& text);

}  // namespace firmora::sim
