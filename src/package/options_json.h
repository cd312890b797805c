#pragma once
// DownloadOptions for people and scripts: a JSON object whose keys are the
// field names, and a "Field = value" listing with line breaks and other
// control characters made visible.

#include <string>
#include <string_view>

#include <nlohmann/json.hpp>

#include "package/download_options.h"

namespace firmora::package {

// "None", "A", "B" or "C".
std::string_view VersionVariantName(VersionVariantKind kind);

// Fields in declaration order; lists as arrays, texts exactly as stored.
nlohmann::ordered_json OptionsToJson(const DownloadOptions& options);

// One "Field = value" line per field, texts quoted and escaped
// (EscapeVisible); a list gives one "Field[i] = value" line per entry, or
// "Field = (empty)".
std::string OptionsToText(const DownloadOptions& options);

// CR, LF and tab as \r, \n, \t, other control bytes as \xHH, a backslash
// doubled; everything else unchanged.
std::string EscapeVisible(std::string_view text);

}  // namespace firmora::package
