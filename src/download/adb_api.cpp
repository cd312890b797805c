#include "download/adb_api.h"

#include <cerrno>
#include <system_error>

#include "platform/last_error.h"

namespace firmora::download {

namespace {

// What a call on an unbound entry, or on a handle that is not open, gives.
bool NotAvailable(uint32_t code) {
    platform::SetLastError(code);
    return false;
}

bool CloseEndpoint(bool& open) {
    if (!open) return NotAvailable(EBADF);
    open = false;
    return true;
}

}  // namespace

AdbApi AdbApi::Load(const std::filesystem::path& tempFolder, platform::UsbBulk& bulk) {
    if (tempFolder.empty()) return AdbApi();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(tempFolder / kLibraryRelativePath, ec)) return AdbApi();
    return AdbApi(bulk);
}

std::optional<AdbApi> AdbApi::LoadOrEnd(const std::filesystem::path& tempFolder, platform::UsbBulk& bulk,
                                        platform::Dialogs& dialogs) {
    if (tempFolder.empty()) {
        dialogs.ShowMessage(kNoFolderCaption, kNoFolderText, platform::DialogButtons::Ok,
                            platform::DialogIcon::Warning);
        return std::nullopt;
    }
    return Load(tempFolder, bulk);
}

AdbApi AdbApi::Bind(platform::UsbBulk& bulk) { return AdbApi(bulk); }

bool AdbApi::Ready(bool needsInterface) const {
    if (!bulk_) return NotAvailable(ENOENT);
    if (needsInterface && !interface_) return NotAvailable(EBADF);
    return true;
}

bool AdbApi::Describe(platform::BulkInterfaceInfo& info) { return Ready() && interface_->Describe(info); }

bool AdbApi::CreateInterfaceByName(const std::string& devicePath) {
    if (!Ready(false)) return false;
    readEndpoint_ = false;
    writeEndpoint_ = false;
    interface_ = bulk_->Open(devicePath);
    return interface_ != nullptr;
}

bool AdbApi::GetInterfaceName(std::string& name) { return Take(&platform::BulkInterfaceInfo::name, name); }

bool AdbApi::GetUsbInterfaceDescriptor(platform::UsbInterfaceDescriptor& descriptor) {
    return Take(&platform::BulkInterfaceInfo::descriptor, descriptor);
}

bool AdbApi::GetDefaultBulkReadEndpointInformation(platform::UsbEndpointInformation& info) {
    return Take(&platform::BulkInterfaceInfo::in, info);
}

bool AdbApi::GetDefaultBulkWriteEndpointInformation(platform::UsbEndpointInformation& info) {
    return Take(&platform::BulkInterfaceInfo::out, info);
}

// An endpoint opens only while its device is still there.
bool AdbApi::OpenDefaultBulkReadEndpoint() {
    platform::BulkInterfaceInfo info;
    if (!Describe(info)) return false;
    readEndpoint_ = true;
    return true;
}

bool AdbApi::OpenDefaultBulkWriteEndpoint() {
    platform::BulkInterfaceInfo info;
    if (!Describe(info)) return false;
    writeEndpoint_ = true;
    return true;
}

bool AdbApi::WriteEndpointSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!Ready(false)) return false;
    if (!interface_ || !writeEndpoint_) return NotAvailable(EBADF);
    return interface_->Write(data, length, transferred, timeoutMs);
}

bool AdbApi::ReadEndpointSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!Ready(false)) return false;
    if (!interface_ || !readEndpoint_) return NotAvailable(EBADF);
    return interface_->Read(buffer, length, transferred, timeoutMs);
}

bool AdbApi::CloseWriteEndpoint() { return Ready(false) && CloseEndpoint(writeEndpoint_); }
bool AdbApi::CloseReadEndpoint() { return Ready(false) && CloseEndpoint(readEndpoint_); }

bool AdbApi::CloseInterface() {
    if (!Ready()) return false;
    if (!interface_->Close()) return false;
    // The endpoints go with their interface.
    interface_.reset();
    readEndpoint_ = false;
    writeEndpoint_ = false;
    return true;
}

}  // namespace firmora::download
