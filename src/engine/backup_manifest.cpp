#include "engine/backup_manifest.h"

#include <array>
#include <charconv>
#include <cstdint>
#include <stdexcept>
#include <utility>

#include <nlohmann/json.hpp>
#include <xxhash.h>

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

std::string DigestText(uint64_t digest) {
    static const char* const kHex = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 15; i >= 0; --i, digest >>= 4) text[static_cast<size_t>(i)] = kHex[digest & 0xF];
    return text;
}

uint64_t DigestFromText(const std::string& text, const std::string& where) {
    uint64_t digest = 0;
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, digest, 16);
    if (text.size() != 16 || ec != std::errc() || ptr != end) {
        throw std::runtime_error(where + "xxh3 is not 16 hexadecimal digits");
    }
    return digest;
}

const json& TextList(const json& object, const char* key, const std::string& where) {
    const json& list = List(object, key, where);
    for (const json& entry : list) {
        if (!entry.is_string()) throw std::runtime_error(where + key + " holds a non-text");
    }
    return list;
}

}  // namespace

uint64_t ContentDigest(std::string_view content) { return XXH3_64bits(content.data(), content.size()); }

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

std::optional<std::string> ManifestToJson(const BackupManifest& m) {
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
    json digests = json::array();
    for (const BackupFile& f : m.files) {
        digests.push_back({{"file", f.file}, {"size", f.size}, {"xxh3", DigestText(f.xxh3)}});
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
        {"files", digests},
        {"warnings", m.warnings},
    };
    try {
        return out.dump(2) + "\n";
    } catch (const json::type_error&) {
        return std::nullopt;  // a text that is not UTF-8
    }
}

std::optional<BackupManifest> ManifestFromJson(const std::string& text, std::string& error) {
    const json root = json::parse(text, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        error = "manifest.json is not valid JSON";
        return std::nullopt;
    }
    try {
        if (Text(root, "format", "") != kManifestFormat) throw std::runtime_error("not a device backup manifest");
        const int64_t version = Integer(root, "version", "", 0, 1000);
        if (version < kManifestVersion) {
            throw std::runtime_error("manifest version " + std::to_string(version) +
                                     " records no digests of the backup's files, so its copies cannot be "
                                     "checked; make the backup again with this version of the tool");
        }
        if (version != kManifestVersion) {
            throw std::runtime_error("manifest version " + std::to_string(version) + " is not supported");
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
        for (const json& folder : TextList(user, "folders", "userData.")) {
            m.userDataFolders.push_back(folder.get<std::string>());
        }
        for (const json& file : List(user, "files", "userData.")) {
            m.userData.push_back({Text(file, "device", "userData.files[]."), RelativePath(file, "file", "userData.files[]."),
                                  static_cast<uint32_t>(Integer(file, "size", "userData.files[].", 0, 0xFFFFFFFFll))});
        }
        for (const json& file : List(root, "files", "")) {
            m.files.push_back({RelativePath(file, "file", "files[]."),
                               static_cast<uint64_t>(Integer(file, "size", "files[].", 0, INT64_MAX)),
                               DigestFromText(Text(file, "xxh3", "files[]."), "files[].")});
        }
        for (const json& warning : TextList(root, "warnings", "")) m.warnings.push_back(warning.get<std::string>());
        return m;
    } catch (const std::exception& e) {
        error = std::string("manifest.json: ") + e.what();
        return std::nullopt;
    }
}

}  // namespace firmora::engine
