#include "package-programs/scsi_transport.h"

#include <fcntl.h>
#include <libusb-1.0/libusb.h>
#include <scsi/sg.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <optional>

#include "package-programs/program_config.h"
#include "package-programs/scsi_command.h"

namespace firmora::programs {
namespace {

constexpr unsigned kTimeoutMs = 5000;
constexpr uint8_t kGoodStatus = 0x00;
constexpr uint8_t kMassStorageClass = 0x08;
constexpr uint8_t kScsiSubclass = 0x06;
constexpr uint8_t kBulkOnlyProtocol = 0x50;
constexpr uint32_t kTag = 0x46524d41;  // any value: the status wrapper must echo it

bool DeviceWentAway(int error) { return error == ENODEV || error == ENXIO || error == EIO; }

struct BulkInterface {
    uint8_t number = 0;
    uint8_t in = 0;
    uint8_t out = 0;
};

// A mass-storage interface of the bulk-only kind with both bulk endpoints.
std::optional<BulkInterface> FindMassStorage(libusb_device* device) {
    libusb_config_descriptor* config = nullptr;
    if (libusb_get_active_config_descriptor(device, &config) != 0) return std::nullopt;
    std::optional<BulkInterface> found;
    for (int i = 0; i < config->bNumInterfaces && !found; ++i) {
        for (int a = 0; a < config->interface[i].num_altsetting && !found; ++a) {
            const libusb_interface_descriptor& alt = config->interface[i].altsetting[a];
            if (alt.bInterfaceClass != kMassStorageClass || alt.bInterfaceSubClass != kScsiSubclass ||
                alt.bInterfaceProtocol != kBulkOnlyProtocol) {
                continue;
            }
            BulkInterface bulk{alt.bInterfaceNumber, 0, 0};
            for (int e = 0; e < alt.bNumEndpoints; ++e) {
                const libusb_endpoint_descriptor& endpoint = alt.endpoint[e];
                if ((endpoint.bmAttributes & LIBUSB_TRANSFER_TYPE_MASK) != LIBUSB_TRANSFER_TYPE_BULK) continue;
                uint8_t& slot = (endpoint.bEndpointAddress & LIBUSB_ENDPOINT_IN) ? bulk.in : bulk.out;
                if (slot == 0) slot = endpoint.bEndpointAddress;
            }
            if (bulk.in != 0 && bulk.out != 0) found = bulk;
        }
    }
    libusb_free_config_descriptor(config);
    return found;
}

bool LeftTheBus(int result) { return result == LIBUSB_ERROR_NO_DEVICE || result == LIBUSB_ERROR_IO; }

SendOutcome SendWrapper(libusb_device_handle* handle, const BulkInterface& bulk,
                        const std::vector<uint8_t>& command, std::string& detail) {
    std::array<uint8_t, kCommandBlockWrapperBytes> wrapper = BuildCommandBlockWrapper(kTag, command);
    int sent = 0;
    int result = libusb_bulk_transfer(handle, bulk.out, wrapper.data(), static_cast<int>(wrapper.size()), &sent,
                                      kTimeoutMs);
    if (result != 0 || sent != static_cast<int>(wrapper.size())) {
        detail = std::string("the command block could not be sent: ") + libusb_strerror(result);
        return LeftTheBus(result) ? SendOutcome::Delivered : SendOutcome::Failed;
    }
    uint8_t status[kCommandStatusWrapperBytes + 1] = {};
    int got = 0;
    result = libusb_bulk_transfer(handle, bulk.in, status, sizeof status, &got, kTimeoutMs);
    if (result != 0) {
        // Sent; a switching device often leaves the bus before it reports.
        detail = std::string("sent; no status: ") + libusb_strerror(result);
        return SendOutcome::Delivered;
    }
    switch (ReadCommandStatus(status, static_cast<size_t>(got), kTag)) {
        case CommandStatus::Passed: detail = "sent; the device passed it"; return SendOutcome::Delivered;
        case CommandStatus::Failed: detail = "the device failed the command"; return SendOutcome::Refused;
        case CommandStatus::PhaseError: detail = "the device reported a phase error"; return SendOutcome::Refused;
        case CommandStatus::Invalid: detail = "sent; the status that came back was not ours"; break;
    }
    return SendOutcome::Delivered;
}

struct ContextCloser {
    void operator()(libusb_context* context) const { libusb_exit(context); }
};

}  // namespace

SendOutcome SendThroughScsiNode(const std::string& node, const std::vector<uint8_t>& command, std::string& detail) {
    const int fd = ::open(node.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        detail = node + ": " + std::strerror(errno);
        return SendOutcome::Failed;
    }
    std::vector<uint8_t> block = command;
    uint8_t sense[32] = {};
    sg_io_hdr_t io{};
    io.interface_id = 'S';
    io.dxfer_direction = SG_DXFER_NONE;
    io.cmd_len = static_cast<unsigned char>(block.size());
    io.cmdp = block.data();
    io.mx_sb_len = sizeof sense;
    io.sbp = sense;
    io.timeout = kTimeoutMs;
    const int result = ::ioctl(fd, SG_IO, &io);
    const int error = errno;
    ::close(fd);
    if (result != 0) {
        detail = node + ": " + std::strerror(error);
        return DeviceWentAway(error) ? SendOutcome::Delivered : SendOutcome::Failed;
    }
    if (io.host_status != 0 || io.driver_status != 0) {
        // The command went out and the exchange broke off: the device switching away.
        char text[64];
        std::snprintf(text, sizeof text, ": sent; host status %u, driver status %u", io.host_status,
                      io.driver_status);
        detail = node + text;
        return SendOutcome::Delivered;
    }
    if (io.status != kGoodStatus) {
        char text[64];
        std::snprintf(text, sizeof text, ": the device answered status %02x, sense key %x", io.status,
                      io.sb_len_wr > 2 ? sense[2] & 0x0f : 0);
        detail = node + text;
        return SendOutcome::Refused;
    }
    detail = node + ": sent";
    return SendOutcome::Delivered;
}

SendOutcome SendThroughUsb(const std::vector<uint8_t>& command, std::string& detail) {
    libusb_context* raw = nullptr;
    if (libusb_init(&raw) != 0) {
        detail = "USB cannot be reached";
        return SendOutcome::NoDevice;
    }
    std::unique_ptr<libusb_context, ContextCloser> context(raw);
    libusb_device** list = nullptr;
    const ssize_t count = libusb_get_device_list(context.get(), &list);
    SendOutcome outcome = SendOutcome::NoDevice;
    detail = "no CD-ROM of a known modem";
    for (ssize_t i = 0; i < count && outcome == SendOutcome::NoDevice; ++i) {
        libusb_device_descriptor descriptor{};
        if (libusb_get_device_descriptor(list[i], &descriptor) != 0) continue;
        char vendor[5];
        std::snprintf(vendor, sizeof vendor, "%04x", descriptor.idVendor);
        if (!IsModemVendor(vendor)) continue;
        const std::optional<BulkInterface> bulk = FindMassStorage(list[i]);
        if (!bulk) continue;
        libusb_device_handle* handle = nullptr;
        if (const int result = libusb_open(list[i], &handle); result != 0) {
            detail = std::string("the modem's CD-ROM cannot be opened: ") + libusb_strerror(result);
            outcome = SendOutcome::Failed;
            break;
        }
        if (libusb_kernel_driver_active(handle, bulk->number) == 1) {
            // A driver holds it: its node is the way, and it was not found.
            detail = "the modem's CD-ROM is held by a driver but has no node";
        } else if (const int result = libusb_claim_interface(handle, bulk->number); result != 0) {
            detail = std::string("the modem's CD-ROM cannot be claimed: ") + libusb_strerror(result);
            outcome = SendOutcome::Failed;
        } else {
            outcome = SendWrapper(handle, *bulk, command, detail);
            libusb_release_interface(handle, bulk->number);
        }
        libusb_close(handle);
    }
    if (count >= 0) libusb_free_device_list(list, 1);
    return outcome;
}

}  // namespace firmora::programs
