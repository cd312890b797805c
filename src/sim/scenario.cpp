// Scenario files: reading, "extends" chains, "devices" lists, and a check of
// every section by building the device once, so that a mistake in a file is
// reported when it is loaded, with the file and the key, rather than as odd
// device behaviour in the middle of a run.

#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "platform/program_data.h"
#include "program_data/scenarios.h"
#include "sim/virtual_modem.h"

namespace firmora::sim {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;

constexpr int kMaxExtendsDepth = 8;

// A scheduler for the trial build of a device: nothing ever runs.
class NoTimeScheduler final : public Scheduler {
public:
    uint64_t NowMs() const override { return 0; }
    void After(uint64_t, std::function<void()>) override {}
};

std::string LineAndColumn(const std::string& text, size_t byte) {
    size_t line = 1;
    size_t column = 1;
    for (size_t i = 0; i + 1 < byte && i < text.size(); ++i) {
        if (text[i] == '\n') {
            ++line;
            column = 1;
        } else {
            ++column;
        }
    }
    return "line " + std::to_string(line) + ", column " + std::to_string(column);
}

json ParseJson(const std::string& content, const std::string& where) {
    try {
        return json::parse(content);
    } catch (const json::parse_error& e) {
        std::string reason = e.what();
        const size_t colon = reason.find(": ");
        if (colon != std::string::npos) reason = reason.substr(colon + 2);
        throw std::runtime_error(where + ": not valid JSON at " + LineAndColumn(content, e.byte) + ": " + reason);
    } catch (const json::exception& e) {
        // A number too large for any type the parser has; it tells no place.
        std::string reason = e.what();
        const size_t bracket = reason.find("] ");
        if (bracket != std::string::npos) reason = reason.substr(bracket + 2);
        throw std::runtime_error(where + ": not valid JSON: " + reason);
    }
}

json ReadJsonFile(const fs::path& path) {
    std::error_code ec;
    if (!fs::is_regular_file(path, ec)) throw std::runtime_error("scenario file not found: " + path.string());
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    if (!in && !in.eof()) throw std::runtime_error("cannot read scenario file " + path.string());
    return ParseJson(text.str(), path.string());
}

// A scenario file from the copies the program was built with.
json ReadBuiltinFile(const fs::path& path) {
    const platform::BuiltinFile* copy =
        platform::FindBuiltinFile(program_data::kScenariosFiles, path.filename().string());
    if (copy == nullptr) throw std::runtime_error("no shipped scenario file " + path.filename().string());
    return ParseJson(std::string(copy->text), "the built-in " + path.filename().string());
}

// Applies "extends": the named file (relative to `folder`, ".json" optional)
// is read first and this scenario's keys are merged over it.
json Resolve(json scenario, const fs::path& folder, const std::string& label, int depth, bool builtin = false) {
    if (!scenario.is_object()) {
        throw std::runtime_error(label + ": a scenario must be a JSON object, not " + std::string(scenario.type_name()));
    }
    if (!scenario.contains("extends")) return scenario;
    const json& extends = scenario.at("extends");
    if (!extends.is_string()) throw std::runtime_error(label + ": extends must be a file name");
    if (depth >= kMaxExtendsDepth) throw std::runtime_error(label + ": extends goes deeper than 8 files (a cycle?)");
    fs::path base = extends.get<std::string>();
    if (base.is_relative()) base = folder / base;
    if (!base.has_extension()) base += ".json";
    json merged = Resolve(builtin ? ReadBuiltinFile(base) : ReadJsonFile(base), base.parent_path(), base.string(),
                          depth + 1, builtin);
    scenario.erase("extends");
    merged.merge_patch(scenario);
    return merged;
}

void CheckDevice(const Scenario& device, const std::string& label) {
    try {
        NoTimeScheduler scheduler;
        VirtualModem trial(device, scheduler);
    } catch (const std::exception& e) {
        throw std::runtime_error(label + ": " + e.what());
    }
}

Scenario Checked(json resolved, std::string name, const std::string& label) {
    if (resolved.contains("name")) {
        if (!resolved.at("name").is_string()) throw std::runtime_error(label + ": name must be a string");
        name = resolved.at("name").get<std::string>();
    }
    if (resolved.contains("devices")) {
        const json& devices = resolved.at("devices");
        if (!devices.is_array() || devices.empty()) {
            throw std::runtime_error(label + ": devices must be a non-empty array of objects");
        }
        for (size_t i = 0; i < devices.size(); ++i) {
            if (!devices[i].is_object()) {
                throw std::runtime_error(label + ": devices[" + std::to_string(i) + "] must be an object");
            }
        }
    }
    Scenario scenario{std::move(name), std::move(resolved)};
    const std::vector<Scenario> devices = scenario.Devices();
    for (size_t i = 0; i < devices.size(); ++i) {
        CheckDevice(devices[i], devices.size() == 1 ? label : label + " (devices[" + std::to_string(i) + "])");
    }
    return scenario;
}

}  // namespace

Scenario Scenario::Load(const std::string& path) {
    const fs::path file = path;
    nlohmann::json resolved = Resolve(ReadJsonFile(file), file.parent_path(), path, 0);
    return Checked(std::move(resolved), file.stem().string(), path);
}

Scenario Scenario::FromJson(nlohmann::json json, std::string name, const fs::path& folder) {
    const std::string label = "scenario " + name;
    nlohmann::json resolved = Resolve(std::move(json), folder, label, 0);
    return Checked(std::move(resolved), std::move(name), label);
}

Scenario Scenario::Builtin(const fs::path& folder, const std::string& name) {
    const bool plain = !name.empty() && name.find_first_not_of("abcdefghijklmnopqrstuvwxyz"
                                                               "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789-_") ==
                                            std::string::npos;
    if (!plain) throw std::runtime_error("no shipped scenario is called \"" + name + "\"");
    const fs::path file = folder / (name + ".json");
    std::error_code ec;
    if (!fs::exists(folder, ec)) {
        // A program without the folder beside it, such as a product
        // executable on its own, uses the scenarios it was built with.
        if (!platform::FindBuiltinFile(program_data::kScenariosFiles, name + ".json")) {
            throw std::runtime_error("no shipped scenario is called \"" + name + "\"");
        }
        const std::string label = "the built-in scenario " + name;
        return Checked(Resolve(ReadBuiltinFile(file), folder, label, 0, true), name, label);
    }
    if (!fs::is_regular_file(file, ec)) throw std::runtime_error("no shipped scenario is called \"" + name + "\"");
    return Load(file.string());
}

std::vector<Scenario> Scenario::Devices() const {
    if (!json.contains("devices") || !json.at("devices").is_array()) return {*this};
    nlohmann::json shared = json;
    shared.erase("devices");
    std::vector<Scenario> devices;
    const nlohmann::json& list = json.at("devices");
    for (size_t i = 0; i < list.size(); ++i) {
        nlohmann::json device = shared;
        device.merge_patch(list[i]);
        std::string deviceName = name + " #" + std::to_string(i + 1);
        if (list[i].contains("name") && list[i].at("name").is_string()) deviceName = list[i].at("name");
        devices.push_back(Scenario{std::move(deviceName), std::move(device)});
    }
    return devices;
}

}  // namespace firmora::sim
