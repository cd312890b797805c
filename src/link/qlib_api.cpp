#include "link/qlib_api.h"

#include <cerrno>
#include <system_error>

#include "platform/last_error.h"

namespace firmora::link {

QlibApi QlibApi::Load(const std::filesystem::path& workingFolder, platform::SerialPorts& ports,
                      platform::Clock& clock, platform::Files& files) {
    std::error_code ec;
    if (workingFolder.empty() || !std::filesystem::is_regular_file(workingFolder / kLibraryFileName, ec)) {
        platform::SetLastError(ENOENT);
        return QlibApi();
    }
    return QlibApi(ports, clock, files);
}

QlibApi QlibApi::LoadOrWarn(const std::filesystem::path& workingFolder, platform::SerialPorts& ports,
                           platform::Clock& clock, platform::Files& files, platform::Dialogs& dialogs) {
    QlibApi api = Load(workingFolder, ports, clock, files);
    if (!api.IsBound()) {
        dialogs.ShowMessage(kLoadFailedCaption, kLoadFailedText, platform::DialogButtons::Ok,
                            platform::DialogIcon::Warning);
    }
    return api;
}

QlibApi QlibApi::Bind(platform::SerialPorts& ports, platform::Clock& clock, platform::Files& files) {
    return QlibApi(ports, clock, files);
}

DiagLibraryConnection* QlibApi::Find(QlibHandle handle) {
    const auto it = connections_.find(handle);
    if (it == connections_.end()) {
        platform::SetLastError(EBADF);
        return nullptr;
    }
    return it->second.get();
}

QlibHandle QlibApi::ConnectServerWithWait(int portNumber, uint32_t waitMs) {
    if (!IsBound()) {
        platform::SetLastError(ENOENT);
        return 0;
    }
    std::unique_ptr<DiagLibraryConnection> connection =
        DiagLibraryConnection::Connect(*ports_, *clock_, portNumber, waitMs);
    if (!connection) return 0;
    const QlibHandle handle = nextHandle_++;
    if (nextHandle_ == 0) nextHandle_ = 1;
    connections_[handle] = std::move(connection);
    return handle;
}

bool QlibApi::IsPhoneConnected(QlibHandle handle) {
    DiagLibraryConnection* connection = Find(handle);
    return connection != nullptr && connection->IsPhoneConnected();
}

bool QlibApi::DiagNvReadF(QlibHandle handle, uint16_t item, std::span<uint8_t> buffer, uint16_t& status) {
    DiagLibraryConnection* connection = Find(handle);
    return connection != nullptr && connection->NvRead(item, buffer, status);
}

bool QlibApi::DiagNvWriteF(QlibHandle handle, uint16_t item, std::span<const uint8_t> buffer, uint16_t& status) {
    DiagLibraryConnection* connection = Find(handle);
    return connection != nullptr && connection->NvWrite(item, buffer, status);
}

bool QlibApi::EfsRead(QlibHandle handle, const std::string& devicePath, const std::filesystem::path& localPath) {
    DiagLibraryConnection* connection = Find(handle);
    return connection != nullptr && connection->EfsRead(*files_, devicePath, localPath);
}

bool QlibApi::EfsWrite(QlibHandle handle, const std::filesystem::path& localPath, const std::string& devicePath) {
    DiagLibraryConnection* connection = Find(handle);
    return connection != nullptr && connection->EfsWrite(*files_, localPath, devicePath);
}

void QlibApi::DisconnectServer(QlibHandle handle) { connections_.erase(handle); }

}  // namespace firmora::link
