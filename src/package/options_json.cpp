#include "package/options_json.h"

#include <cstdio>

namespace firmora::package {

std::string_view VersionVariantName(VersionVariantKind kind) {
    switch (kind) {
        case VersionVariantKind::A: return "A";
        case VersionVariantKind::B: return "B";
        case VersionVariantKind::C: return "C";
        case VersionVariantKind::None: break;
    }
    return "None";
}

namespace {

template <typename T>
nlohmann::ordered_json FieldValue(const T& value) {
    return value;
}
nlohmann::ordered_json FieldValue(VersionVariantKind kind) { return VersionVariantName(kind); }

}  // namespace

nlohmann::ordered_json OptionsToJson(const DownloadOptions& o) {
    nlohmann::ordered_json j = nlohmann::ordered_json::object();
#define FIRMORA_JSON_FIELD(type, name, ...) j[#name] = FieldValue(o.name);
    FIRMORA_DOWNLOAD_OPTIONS_FIELDS(FIRMORA_JSON_FIELD)
#undef FIRMORA_JSON_FIELD
    return j;
}

std::string EscapeVisible(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        switch (c) {
            case '\r': out += "\\r"; break;
            case '\n': out += "\\n"; break;
            case '\t': out += "\\t"; break;
            case '\\': out += "\\\\"; break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    char hex[5];
                    std::snprintf(hex, sizeof hex, "\\x%02X", byte);
                    out += hex;
                } else {
                    out += c;
                }
        }
    }
    return out;
}

namespace {

std::string ValueText(const nlohmann::ordered_json& value) {
    if (value.is_string()) return '"' + EscapeVisible(value.get_ref<const std::string&>()) + '"';
    if (value.is_boolean()) return value.get<bool>() ? "true" : "false";
    return std::to_string(value.get<long long>());
}

}  // namespace

std::string OptionsToText(const DownloadOptions& options) {
    const nlohmann::ordered_json fields = OptionsToJson(options);
    std::string out;
    for (const auto& [key, value] : fields.items()) {
        if (!value.is_array()) {
            out += key + " = " + ValueText(value) + '\n';
            continue;
        }
        if (value.empty()) {
            out += key + " = (empty)\n";
            continue;
        }
        for (size_t i = 0; i < value.size(); ++i) {
            out += key + '[' + std::to_string(i) + "] = " + ValueText(value[i]) + '\n';
        }
    }
    return out;
}

}  // namespace firmora::package
