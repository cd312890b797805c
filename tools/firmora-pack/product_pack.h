#pragma once
// firmora-pack's work: the package folder checked against what its
// Config.ini will unpack, then a copy of the program with the package
// appended.

#include <filesystem>
#include <iosfwd>
#include <string>
#include <vector>

#include "package/download_options.h"
#include "platform/posix/zip_resource_bundle.h"

namespace firmora::pack {

// The folder a second variant's files come from, inside the package folder.
inline constexpr const char* kSecondVariantFolder = "variant2";

// Every file of `folder` that the package needs, as archive entries:
// Config.ini, the first variant's files and, for Packet = 2, the second
// variant's from kSecondVariantFolder; `options` receives what Config.ini
// selects. False with every problem found (a file missing, empty or not a
// regular file; a Config.ini that does not parse) when the package is not
// complete.
bool CollectPackage(const std::filesystem::path& folder, package::DownloadOptions& options,
                    std::vector<platform::BundleFile>& files, std::vector<std::string>& problems);
inline bool CollectPackage(const std::filesystem::path& folder, std::vector<platform::BundleFile>& files,
                           std::vector<std::string>& problems) {
    package::DownloadOptions options;
    return CollectPackage(folder, options, files, problems);
}

// The command: arguments after the program's name; 0 made, 1 refused or
// failed, 2 wrong arguments. A package is refused before anything is
// written when it is not complete, or when start-up's image checks would
// refuse its images (then with the messages start-up would show).
int Main(const std::vector<std::string>& args, const std::filesystem::path& ownFolder, std::ostream& out,
         std::ostream& err);

}  // namespace firmora::pack
