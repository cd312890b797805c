#pragma once
// Writes the package a product executable carries into the working folders:
// which resources, under which file names and in which order, is decided by
// the parsed Config.ini. Each file replaces any older one of its name at
// once, never leaving a half-written file under that name.

#include <filesystem>
#include <string>
#include <vector>

#include "package/download_options.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/resource_bundle.h"

namespace firmora::package {

// The caption of the messages an unpack failure shows.
inline constexpr const char* kUnpackCaption = "Warning";

// One file of the working folder: a resource of the package, or a file
// outside it that the configuration names by its path.
struct PackageFile {
    std::string type;  // the resource's type ("IMG") and name ("BootimageFile")
    std::string name;
    std::string file;               // the file's name in the working folder
    std::filesystem::path outside;  // when not empty, copied from here rather than unpacked
    // Programs and libraries that travel beside the others but that no step
    // of this tool starts or loads: unpacked when the package carries them.
    bool optional = false;
    // The message when an outside file cannot be copied.
    std::string copyFailure;
};

// The first variant's files in the order they are written. Config.ini is not
// among them: start-up writes it before the configuration is parsed.
std::vector<PackageFile> FirstVariantFiles(const DownloadOptions& options);

// The second variant's files (Packet = 2), Config.ini last.
std::vector<PackageFile> SecondVariantFiles(const DownloadOptions& options);

// The resource a plan or part-of-EFS file comes from: its name is the text
// before the first "." followed by "File", its type the text after that "."
// in capitals, or "BIN" for a name without ".".
PackageFile PackageFileNamed(const std::string& fileName);

struct UnpackResult {
    std::string error;  // the message to show with kUnpackCaption; empty on success
    bool ok() const { return error.empty(); }
};

// Writes the first variant into `workingFolder` and replaces each plan entry
// of `options` by its file's full path there. Stops at the first file that
// cannot be written: the program must not go on with a partial package.
UnpackResult UnpackPackage(platform::ResourceBundle& bundle, platform::Files& files, platform::Clock& clock,
                           DownloadOptions& options, const std::filesystem::path& workingFolder);

// Writes the second variant into `secondFolder` (TempFiles2).
UnpackResult UnpackSecondVariant(platform::ResourceBundle& bundle, platform::Files& files,
                                 const DownloadOptions& options, const std::filesystem::path& secondFolder);

// Writes one resource to `path`: "" on success, else the reason.
std::string UnpackResource(platform::ResourceBundle& bundle, platform::Files& files, const PackageFile& file,
                           const std::filesystem::path& path);

}  // namespace firmora::package
