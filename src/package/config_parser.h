#pragma once
// Config.ini into DownloadOptions. The parse works on an existing record: it
// walks the file's keys in a fixed order, and a configuration error shows its
// message (caption "Warning"), switches the download selections off and ends
// the parse, so the keys of later steps keep the values they had before.

#include <filesystem>
#include <string>
#include <string_view>

#include "package/download_options.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/private_profile.h"

namespace firmora::package {

inline constexpr uint64_t kConfigFileMaxBytes = platform::kIniFileMaxBytes;

struct ConfigParseResult {
    bool stoppedOnError = false;  // a configuration error ended the parse
    std::string errorText;        // the message shown for it, empty otherwise
};

// A missing file is no error: every key then takes its default. A file that
// is there but is refused (not a regular file, a symbolic link, larger than
// kConfigFileMaxBytes) or cannot be read stops the parse with its reason and
// switches the download selections off.
ConfigParseResult ParseConfig(platform::Files& files, const std::filesystem::path& path, DownloadOptions& options,
                              platform::Dialogs& dialogs);
ConfigParseResult ParseConfigText(std::string_view text, DownloadOptions& options,
                                  platform::Dialogs& dialogs);
ConfigParseResult ParseConfigDocument(const platform::IniDocument& document,
                                      DownloadOptions& options, platform::Dialogs& dialogs);

// Switches off the image selections that a broken configuration must not
// write (EFS, modem and application images, PC suite, configuration data,
// the network lock and every single fastboot image). Other selections keep
// their values.
void ClearDownloadItems(DownloadOptions& options);

}  // namespace firmora::package
