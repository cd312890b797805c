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

template <typename Handle>
bool CloseHandle(std::unique_ptr<Handle>& handle) {
    if (!handle) return NotAvailable(EBADF);
    if (!handle->Close()) return false;
    handle.reset();
    return true;
}

}  // namespace

AdbApi AdbApi::Load(const std::filesystem::path& tempFolder, platform::UsbBulk& bulk) {
    if (tempFolder.empty()) return AdbApi();
    std::error_code ec;
    if (!std::filesystem::is_regular_file(tempFolder / kLibraryRelativePath, ec)) return AdbApi();
    return AdbApi(bulk);
}

AdbApi AdbApi::Bind(platform::UsbBulk& bulk) { return AdbApi(bulk); }

bool AdbApi::CreateInterfaceByName(const std::string& devicePath) {
    if (!bulk_) return NotAvailable(ENOENT);
    readEndpoint_.reset();
    writeEndpoint_.reset();
    interface_ = bulk_->CreateInterfaceByName(devicePath);
    return interface_ != nullptr;
}

bool AdbApi::GetInterfaceName(std::string& name) {
    if (!bulk_) return NotAvailable(ENOENT);
    if (!interface_) return NotAvailable(EBADF);
    return interface_->GetInterfaceName(name);
}

bool AdbApi::GetUsbInterfaceDescriptor(platform::UsbInterfaceDescriptor& descriptor) {
    if (!bulk_) return NotAvailable(ENOENT);
    if (!interface_) return NotAvailable(EBADF);
    return interface_->GetInterfaceDescriptor(descriptor);
}

bool AdbApi::GetDefaultBulkReadEndpointInformation(platform::UsbEndpointInformation& info) {
    if (!bulk_) return NotAvailable(ENOENT);
    if (!interface_) return NotAvailable(EBADF);
    return interface_->GetDefaultBulkReadEndpointInformation(info);
}

bool AdbApi::GetDefaultBulkWriteEndpointInformation(platform::UsbEndpointInformation& info) {
    if (!bulk_) return NotAvailable(ENOENT);
    if (!interface_) return NotAvailable(EBADF);
    return interface_->GetDefaultBulkWriteEndpointInformation(info);
}

bool AdbApi::OpenDefaultBulkReadEndpoint() {
    if (!bulk_) return NotAvailable(ENOENT);
    if (!interface_) return NotAvailable(EBADF);
    readEndpoint_ = interface_->OpenDefaultBulkReadEndpoint();
    return readEndpoint_ != nullptr;
}

bool AdbApi::OpenDefaultBulkWriteEndpoint() {
    if (!bulk_) return NotAvailable(ENOENT);
    if (!interface_) return NotAvailable(EBADF);
    writeEndpoint_ = interface_->OpenDefaultBulkWriteEndpoint();
    return writeEndpoint_ != nullptr;
}

bool AdbApi::WriteEndpointSync(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!bulk_) return NotAvailable(ENOENT);
    if (!writeEndpoint_) return NotAvailable(EBADF);
    return writeEndpoint_->WriteSync(data, length, transferred, timeoutMs);
}

bool AdbApi::ReadEndpointSync(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) {
    transferred = 0;
    if (!bulk_) return NotAvailable(ENOENT);
    if (!readEndpoint_) return NotAvailable(EBADF);
    return readEndpoint_->ReadSync(buffer, length, transferred, timeoutMs);
}

bool AdbApi::CloseWriteEndpoint() { return bulk_ ? CloseHandle(writeEndpoint_) : NotAvailable(ENOENT); }
bool AdbApi::CloseReadEndpoint() { return bulk_ ? CloseHandle(readEndpoint_) : NotAvailable(ENOENT); }
bool AdbApi::CloseInterface() { return bulk_ ? CloseHandle(interface_) : NotAvailable(ENOENT); }

}  // namespace firmora::download
