#include "package-programs/device_lookup.h"

#include <libudev.h>

#include <memory>
#include <string_view>

#include "package-programs/program_config.h"

namespace firmora::programs {
namespace {

struct UdevCloser {
    void operator()(udev* u) const { udev_unref(u); }
    void operator()(udev_enumerate* e) const { udev_enumerate_unref(e); }
    void operator()(udev_device* d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevCloser>;

std::string_view Text(const char* value) { return value ? std::string_view(value) : std::string_view(); }

bool OfModem(udev_device* device) {
    udev_device* usb = udev_device_get_parent_with_subsystem_devtype(device, "usb", "usb_device");
    return usb && IsModemVendor(Text(udev_device_get_sysattr_value(usb, "idVendor")));
}

bool IsCdrom(udev_device* device) {
    udev_device* scsi = udev_device_get_parent_with_subsystem_devtype(device, "scsi", "scsi_device");
    return scsi && Text(udev_device_get_sysattr_value(scsi, "type")) == "5";  // TYPE_ROM
}

bool Tagged(udev_device* device, const char* property) {
    return Text(udev_device_get_property_value(device, property)) == "1";
}

// Calls `visit` with each device of `subsystem` that has a node.
template <typename Visit>
void ForEachDevice(const char* subsystem, Visit visit) {
    UdevPtr<udev> context(udev_new());
    if (!context) return;
    UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
    if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), subsystem) < 0 ||
        udev_enumerate_scan_devices(enumerate.get()) < 0) {
        return;
    }
    udev_list_entry* entry = nullptr;
    udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
        UdevPtr<udev_device> device(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
        if (!device) continue;
        const char* node = udev_device_get_devnode(device.get());
        if (node) visit(device.get(), std::string(node));
    }
}

}  // namespace

std::vector<std::string> ModemCdromNodes() {
    std::vector<std::string> nodes;
    for (const char* subsystem : {"scsi_generic", "block"}) {
        ForEachDevice(subsystem, [&](udev_device* device, const std::string& node) {
            if (OfModem(device) && IsCdrom(device)) nodes.push_back(node);
        });
    }
    return nodes;
}

std::vector<std::string> ModemAtPortCandidates() {
    std::vector<std::string> tagged;
    std::vector<std::string> untagged;
    ForEachDevice("tty", [&](udev_device* device, const std::string& node) {
        if (!OfModem(device)) return;
        if (Tagged(device, "ID_MM_PORT_TYPE_AT_PRIMARY") || Tagged(device, "ID_MM_PORT_TYPE_AT_SECONDARY")) {
            tagged.push_back(node);
        } else if (!Tagged(device, "ID_MM_PORT_TYPE_QCDM") && !Tagged(device, "ID_MM_PORT_TYPE_GPS")) {
            untagged.push_back(node);
        }
    });
    tagged.insert(tagged.end(), untagged.begin(), untagged.end());
    return tagged;
}

}  // namespace firmora::programs
