#pragma once
// The package a product executable carries: entries addressed by a type and a
// name ("IMG", "BootimageFile"), both compared without regard to case, each
// read as a stream so that an image of hundreds of MiB never sits in memory.
// Archive entries are named "TYPE/NAME"; names of any other form are not
// entries of the bundle.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace firmora::platform {

struct BundleEntry {
    std::string type;
    std::string name;
    uint64_t size = 0;
};

class ResourceBundle {
public:
    virtual ~ResourceBundle() = default;

    // The entry of that type and name, or nullptr with `error` saying why
    // (not carried, or the archive cannot be read).
    virtual std::unique_ptr<ByteSource> Open(std::string_view type, std::string_view name, std::string& error) = 0;

    // Every entry, in the archive's order.
    virtual std::vector<BundleEntry> Entries() const = 0;
};

// "TYPE/NAME" as an archive names the entry, the type in capitals.
std::string BundleEntryPath(std::string_view type, std::string_view name);

}  // namespace firmora::platform
