#include "cli/simulated_target.h"

#include <exception>
#include <filesystem>
#include <system_error>

#include "platform/posix/posix_paths.h"

namespace firmora::cli {

sim::Scenario ScenarioNamed(const std::string& nameOrFile) {
    std::error_code ec;
    if (std::filesystem::exists(nameOrFile, ec)) return sim::Scenario::Load(nameOrFile);
    platform::PosixPaths paths;
    return sim::Scenario::Builtin(paths.ProgramFolder() / sim::kScenarioFolder, nameOrFile);
}

sim::Scenario BootloaderScenario(const std::string& nameOrFile) {
    sim::Scenario scenario = ScenarioNamed(nameOrFile);
    nlohmann::json json = scenario.json;
    json["usb"]["personality"] = "bootloader";
    // A device of a multi-device scenario may name its own personality.
    if (json.contains("devices") && json["devices"].is_array()) {
        for (nlohmann::json& device : json["devices"]) {
            if (device.is_object() && device.contains("usb") && device["usb"].is_object()) {
                device["usb"]["personality"] = "bootloader";
            }
        }
    }
    return sim::Scenario::FromJson(std::move(json), scenario.name);
}

std::unique_ptr<sim::SimPlatform> Simulate(const std::string& nameOrFile, bool inBootloader, std::string& problem) {
    try {
        return sim::SimPlatform::FromScenario(inBootloader ? BootloaderScenario(nameOrFile) : ScenarioNamed(nameOrFile));
    } catch (const std::exception& e) {
        problem = "cannot simulate scenario \"" + nameOrFile + "\": " + e.what();
        return nullptr;
    }
}

std::vector<std::string> ChangedPartitions(const std::map<std::string, sim::Partition>& before,
                                           const std::map<std::string, sim::Partition>& after) {
    std::vector<std::string> lines;
    for (const auto& [name, now] : after) {
        const auto old = before.find(name);
        const bool touched = old == before.end() || now.flashes != old->second.flashes ||
                             now.erases != old->second.erases;
        if (!touched) continue;
        if (now.erased) {
            lines.push_back(name + ": erased");
        } else {
            lines.push_back(name + ": " + std::to_string(now.size) + " bytes, xxh3 " + now.DigestText());
        }
    }
    return lines;
}

}  // namespace firmora::cli
