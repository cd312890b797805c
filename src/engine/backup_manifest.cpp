#include "engine/backup_manifest.h"

#include <array>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>

#include "preserve/library_nv.h"

namespace firmora::engine {

namespace {

using nlohmann::json;

// The AT parameters by their names in the manifest.
using AtField = preserve::AtParameter preserve::AtParameters::*;
const std::array<std::pair<const char*, AtField>, 15> kAtFields = {{
    {"sn", &preserve::AtParameters::sn},
    {"imei", &preserve::AtParameters::imei},
    {"imei1", &preserve::AtParameters::imei1},
    {"esn", &preserve::AtParameters::esn},
    {"meid", &preserve::AtParameters::meid},
    {"bluetoothAddress", &preserve::AtParameters::bluetoothAddress},
    {"wifiCal", &preserve::AtParameters::wifiCal},
    {"salesCount", &preserve::AtParameters::salesCount},
    {"salesInfo", &preserve::AtParameters::salesInfo},
    {"testInformation", &preserve::AtParameters::testInformation},
    {"uit87", &preserve::AtParameters::uit87},
    {"uit89", &preserve::AtParameters::uit89},
    {"cllen", &preserve::AtParameters::cllen},
    {"mvreq", &preserve::AtParameters::mvreq},
    {"gmi", &preserve::AtParameters::gmi},
}};

const std::array<NvMechanism, 3> kMechanisms = {NvMechanism::Library, NvMechanism::Diag, NvMechanism::DiagVendor};

// Reading: each accessor throws std::runtime_error naming the member.
const json& Member(const json& object, const char* key, const std::string& where) {
    if (!object.is_object() || !object.contains(key)) throw std::runtime_error(where + key + " is missing");
    return object.at(key);
}
std::string Text(const json& object, const char* key, const std::string& where) {
    const json& v = Member(object, key, where);
    if (!v.is_string()) throw std::runtime_error(where + key + " is not a text");
    return v.get<std::string>();
}
bool Flag(const json& object, const char* key, const std::string& where) {
    const json& v = Member(object, key, where);
    if (!v.is_boolean()) throw std::runtime_error(where + key + " is not true or false");
    return v.get<bool>();
}
int64_t Integer(const json& object, const char* key, const std::string& where, int64_t min, int64_t max) {
    const json& v = Member(object, key, where);
    if (!v.is_number_integer() || v.get<int64_t>() < min || v.get<int64_t>() > max) {
        throw std::runtime_error(where + key + " is not a number from " + std::to_string(min) + " to " +
                                 std::to_string(max));
    }
    return v.get<int64_t>();
}
const json& List(const json& object, const char* key, const std::string& where) {
    const json& v = Member(object, key, where);
    if (!v.is_array()) throw std::runtime_error(where + key + " is not a list");
    return v;
}
std::string RelativePath(const json& object, const char* key, const std::string& where) {
    std::string path = Text(object, key, where);
    if (!IsContainedRelativePath(path)) throw std::runtime_error(where + key + " leaves the backup folder: " + path);
    return path;
}

}  // namespace

const char* ToString(NvMechanism mechanism) {
    switch (mechanism) {
        case NvMechanism::Library: return "library";
        case NvMechanism::Diag: return "diag";
        case NvMechanism::DiagVendor: return "diag-vendor";
    }
    return "library";
}

bool IsContainedRelativePath(const std::string& path) {
    if (path.empty() || path.front() == '/' || path.find('\\') != std::string::npos ||
        path.find(':') != std::string::npos) {
        return false;
    }
    for (const auto& part : std::filesystem::path(path)) {
        if (part == "..") return false;
    }
    return true;
}

std::string ManifestToJson(const BackupManifest& m) {
    json at = json::object();
    json read = json::object();
    for (const auto& [name, field] : kAtFields) {
        at[name] = (m.at.*field).value;
        read[name] = (m.at.*field).read;
    }
    at["read"] = read;
    at["mode"] = m.at.mode;
    at["contexts"] = m.at.apns;

    json items = json::array();
    for (const preserve::NvEntry& e : m.nvItems) items.push_back({{"number", e.number}, {"name", e.name}});
    json rfNv = json::array();
    for (const RfNvCopy& c : m.rfNv) rfNv.push_back({{"number", c.number}, {"file", c.file}});
    json files = json::array();
    for (const UserDataCopy& c : m.userData) {
        files.push_back({{"device", c.devicePath}, {"file", c.file}, {"size", c.size}});
    }

    const json out = {
        {"format", kManifestFormat},
        {"version", kManifestVersion},
        {"created", m.created},
        {"project", {{"index", m.projectIndex}, {"name", m.projectName}}},
        {"at", {{"saved", m.atSaved}, {"file", "at.bak"}, {"parameters", at}}},
        {"nv",
         {{"saved", m.nvSaved},
          {"mechanism", ToString(m.nvMechanism)},
          {"restore", m.nvRestore},
          {"file", "nv.bak"},
          {"items", items},
          {"rfnv", rfNv}}},
        {"userData", {{"saved", m.userDataSaved}, {"folders", m.userDataFolders}, {"files", files}}},
    };
    return out.dump(2) + "\n";
}

std::optional<BackupManifest> ManifestFromJson(const std::string& text, std::string& error) {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        error = "manifest.json is not valid JSON";
        return std::nullopt;
    }
    try {
        if (Text(root, "format", "") != kManifestFormat) throw std::runtime_error("not a device backup manifest");
        if (Integer(root, "version", "", 0, 1000) != kManifestVersion) {
            throw std::runtime_error("manifest version " + root["version"].dump() + " is not supported");
        }
        BackupManifest m;
        m.created = Text(root, "created", "");
        const json& project = Member(root, "project", "");
        m.projectIndex = static_cast<int>(Integer(project, "index", "project.", -1, 1000000));
        m.projectName = Text(project, "name", "project.");

        const json& at = Member(root, "at", "");
        m.atSaved = Flag(at, "saved", "at.");
        const json& params = Member(at, "parameters", "at.");
        const json& read = Member(params, "read", "at.parameters.");
        for (const auto& [name, field] : kAtFields) {
            (m.at.*field).value = Text(params, name, "at.parameters.");
            (m.at.*field).read = Flag(read, name, "at.parameters.read.");
        }
        m.at.mode = Text(params, "mode", "at.parameters.");
        const json& contexts = List(params, "contexts", "at.parameters.");
        if (contexts.size() != m.at.apns.size()) throw std::runtime_error("at.parameters.contexts needs 16 entries");
        for (size_t i = 0; i < contexts.size(); ++i) {
            if (!contexts[i].is_string()) throw std::runtime_error("at.parameters.contexts holds a non-text");
            m.at.apns[i] = contexts[i].get<std::string>();
        }

        const json& nv = Member(root, "nv", "");
        m.nvSaved = Flag(nv, "saved", "nv.");
        const std::string mechanism = Text(nv, "mechanism", "nv.");
        bool known = false;
        for (NvMechanism candidate : kMechanisms) {
            if (mechanism == ToString(candidate)) {
                m.nvMechanism = candidate;
                known = true;
            }
        }
        if (!known) throw std::runtime_error("nv.mechanism \"" + mechanism + "\" is unknown");
        m.nvRestore = Flag(nv, "restore", "nv.");
        for (const json& item : List(nv, "items", "nv.")) {
            m.nvItems.push_back({static_cast<int32_t>(Integer(item, "number", "nv.items[].", 0, 65535)),
                                 Text(item, "name", "nv.items[].")});
        }
        for (const json& copy : List(nv, "rfnv", "nv.")) {
            // A copy stands for an RF NV file; a lower number would be written as an ordinary item.
            const auto number = Integer(copy, "number", "nv.rfnv[].", preserve::kFirstRfNvItem, 65535);
            m.rfNv.push_back({static_cast<int32_t>(number), RelativePath(copy, "file", "nv.rfnv[].")});
        }

        const json& user = Member(root, "userData", "");
        m.userDataSaved = Flag(user, "saved", "userData.");
        for (const json& folder : List(user, "folders", "userData.")) {
            if (!folder.is_string()) throw std::runtime_error("userData.folders holds a non-text");
            m.userDataFolders.push_back(folder.get<std::string>());
        }
        for (const json& file : List(user, "files", "userData.")) {
            m.userData.push_back({Text(file, "device", "userData.files[]."), RelativePath(file, "file", "userData.files[]."),
                                  static_cast<uint32_t>(Integer(file, "size", "userData.files[].", 0, 0xFFFFFFFFll))});
        }
        return m;
    } catch (const std::exception& e) {
        error = std::string("manifest.json: ") + e.what();
        return std::nullopt;
    }
}

}  // namespace firmora::engine
