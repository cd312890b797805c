#pragma once
// AdbApi: the worker's binding record for the USB bulk library, and the
// three handles of the one fastboot connection open at a time (interface,
// bulk-read endpoint, bulk-write endpoint).
//
// The tool binds the library the package unpacks into its working folder;
// our own UsbBulk transport stands behind it. The record is the one place
// that turns the transport into handles: the interface handle is the open
// transport, an endpoint handle is a permission to read or to write on it. A record whose library is
// missing stays empty, and every operation on it fails as a failed call does
// (LastError ENOENT), without a message: the caller's failure report says
// what could not be done.

#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>

#include "platform/dialogs.h"
#include "platform/usb_bulk.h"

namespace firmora::download {

class AdbApi {
public:
    // Where the library lies under the user's temporary folder.
    static constexpr const char* kLibraryRelativePath = "TempFiles/AdbWinApi.dll";
    static constexpr const char* kNoFolderText = "Get dir path failed.";
    static constexpr const char* kNoFolderCaption = "Warning";

    // An empty binding.
    AdbApi() = default;
    // Binds `bulk` when the library file is present under `tempFolder`
    // (kLibraryRelativePath); otherwise the binding stays empty. An empty
    // `tempFolder` (it could not be determined) also leaves it empty.
    static AdbApi Load(const std::filesystem::path& tempFolder, platform::UsbBulk& bulk);
    // Load for a worker being built. Without a temporary folder (empty
    // `tempFolder`) there is nowhere the package could have put the library
    // and nothing else of the run can work either: the box "Get dir path
    // failed." (caption "Warning") is shown and nullopt returned, and the
    // caller ends the application. A missing library file is no message:
    // the binding stays empty and the first connection fails.
    static std::optional<AdbApi> LoadOrEnd(const std::filesystem::path& tempFolder, platform::UsbBulk& bulk,
                                           platform::Dialogs& dialogs);
    // Binds `bulk` directly, for a download without an unpacked package.
    static AdbApi Bind(platform::UsbBulk& bulk);

    AdbApi(AdbApi&&) = default;
    AdbApi& operator=(AdbApi&&) = default;
    AdbApi(const AdbApi&) = delete;
    AdbApi& operator=(const AdbApi&) = delete;

    bool IsBound() const { return bulk_ != nullptr; }

    // Opens the interface a device path names and keeps it as the
    // connection's interface handle; endpoints of an earlier connection that
    // was never closed are dropped first.
    bool CreateInterfaceByName(const std::string& devicePath);
    bool GetInterfaceName(std::string& name);
    bool GetUsbInterfaceDescriptor(platform::UsbInterfaceDescriptor& descriptor);
    bool GetDefaultBulkReadEndpointInformation(platform::UsbEndpointInformation& info);
    bool GetDefaultBulkWriteEndpointInformation(platform::UsbEndpointInformation& info);
    // Open the default endpoints (read-write access and sharing) and keep
    // them as the connection's endpoint handles.
    bool OpenDefaultBulkReadEndpoint();
    bool OpenDefaultBulkWriteEndpoint();
    // Synchronous transfers on the connection's endpoints; `transferred`
    // tells how many bytes moved, also on failure. A read takes one whole
    // device message (platform::BulkTransport::Read).
    bool WriteEndpointSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs);
    bool ReadEndpointSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs);
    // Close one handle. A handle that closed is released; an interface that
    // failed to close is kept (and released with the record or the next
    // connection). Closing the interface also ends its endpoints.
    bool CloseWriteEndpoint();
    bool CloseReadEndpoint();
    bool CloseInterface();

private:
    explicit AdbApi(platform::UsbBulk& bulk) : bulk_(&bulk) {}

    // Whether the call may go on: the binding and the handles it needs are
    // there (LastError ENOENT or EBADF when not).
    bool Ready(bool needsInterface = true) const;
    bool Describe(platform::BulkInterfaceInfo& info);
    // One field of the open interface's description.
    template <typename T>
    bool Take(T platform::BulkInterfaceInfo::*field, T& out) {
        platform::BulkInterfaceInfo info;
        if (!Describe(info)) return false;
        out = info.*field;
        return true;
    }

    platform::UsbBulk* bulk_ = nullptr;
    std::unique_ptr<platform::BulkTransport> interface_;
    bool readEndpoint_ = false;
    bool writeEndpoint_ = false;
};

}  // namespace firmora::download
