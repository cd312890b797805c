#pragma once
// What the run controller takes from parts built elsewhere: the readiness
// loop with the AT port its device interrogation may hold open, the device
// checks before a run, and the package's images. Each comes through a small
// interface a front end plugs in, so the controller can be tested without them.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

namespace firmora::app {

// The loop that watches for a device that is Ready on a thread of its own.
class ReadinessLoop {
public:
    virtual ~ReadinessLoop() = default;
    // Ends the loop and waits until it no longer touches the device.
    virtual void Stop() = 0;
    // (Re)starts the loop.
    virtual void Start() = 0;
    // The AT port the loop's device interrogation may have left open.
    virtual bool AtPortOpen() = 0;
    // Closes it: false when the close failed (it stays open then).
    virtual bool CloseAtPort() = 0;
};

// The device checks a product needs before its run: true when the check
// passed. A check a product needs but that is not plugged in fails.
struct DeviceChecks {
    std::function<bool()> softwareVersion;
    std::function<bool()> dualPackage;
    // The custom confirmation box of the Japanese products: true for OK.
    std::function<bool()> confirmStart;
    // The wizard's device check: true when the connected device's revision
    // family does not fit the package (the update is refused). Not plugged
    // in: it fits.
    std::function<bool()> revisionFamilyMismatch;
};

struct PackageImage {
    std::filesystem::path path;
    uint64_t size = 0;
};

// The unpacked package the run writes.
struct RunPackage {
    std::filesystem::path packageFolder;  // images and libraries
    std::filesystem::path workingFolder;  // the package's programs and its Config.ini
    std::filesystem::path backupFolder;   // the device backups go below it
    std::vector<PackageImage> images;     // the image list of the selected items
    // Re-update checks the images again after it changed the selections;
    // it returns the new image list.
    std::function<std::vector<PackageImage>()> verifyImages;
};

}  // namespace firmora::app
