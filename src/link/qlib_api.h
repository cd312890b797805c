#pragma once
// QlibApi: the worker's binding of the diagnostic library, the seven entry
// points it uses. The package unpacks the library into the working folder;
// a binding is made only when that file is there, as the tool has always
// required. Our own DIAG client (DiagLibraryConnection) stands behind it.
//
// The library opens the Diag port itself, by number, so the worker's own
// diagnostic channel must be closed while a connection is open.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <span>
#include <string>

#include "link/diag_library.h"
#include "platform/clock.h"
#include "platform/dialogs.h"
#include "platform/files.h"
#include "platform/serial_ports.h"

namespace firmora::link {

// A connection of the library; 0 is none.
using QlibHandle = uint32_t;

class QlibApi {
public:
    static constexpr const char* kLibraryFileName = "QMSL_MSVC10R.dll";
    static constexpr const char* kLoadFailedText = "Load library failed [QMSL_MSVC10R.dll]!";
    static constexpr const char* kLoadFailedCaption = "ERROR";

    // An empty binding: every call fails.
    QlibApi() = default;
    // Binds when the library file is present in `workingFolder`.
    static QlibApi Load(const std::filesystem::path& workingFolder, platform::SerialPorts& ports,
                        platform::Clock& clock, platform::Files& files);
    // Load, and when the file is missing the warning box "Load library
    // failed [QMSL_MSVC10R.dll]!" (caption "ERROR"): the run then ends
    // without further reports, so the box is all the user learns.
    static QlibApi LoadOrWarn(const std::filesystem::path& workingFolder, platform::SerialPorts& ports,
                              platform::Clock& clock, platform::Files& files, platform::Dialogs& dialogs);
    // Binds without a library file, for tools that run without a package.
    static QlibApi Bind(platform::SerialPorts& ports, platform::Clock& clock, platform::Files& files);

    QlibApi(QlibApi&&) = default;
    QlibApi& operator=(QlibApi&&) = default;
    QlibApi(const QlibApi&) = delete;
    QlibApi& operator=(const QlibApi&) = delete;

    bool IsBound() const { return ports_ != nullptr; }

    // Opens the Diag port `portNumber`, waiting up to `waitMs` for it; 0 when
    // it could not be opened.
    QlibHandle ConnectServerWithWait(int portNumber, uint32_t waitMs);
    // True when the device behind the connection answers.
    bool IsPhoneConnected(QlibHandle handle);
    // Reads NV item `item` into `buffer` (128 bytes): true on transport
    // success, with the device's status code in `status`, which is left as
    // it was when the device did not answer.
    bool DiagNvReadF(QlibHandle handle, uint16_t item, std::span<uint8_t> buffer, uint16_t& status);
    // Writes NV item `item` from `buffer`: the device's status code in
    // `status` (left as it was when the device did not answer).
    bool DiagNvWriteF(QlibHandle handle, uint16_t item, std::span<const uint8_t> buffer, uint16_t& status);
    // Copies a device file to a local file, and back.
    bool EfsRead(QlibHandle handle, const std::string& devicePath, const std::filesystem::path& localPath);
    bool EfsWrite(QlibHandle handle, const std::filesystem::path& localPath, const std::string& devicePath);
    // Closes the connection and its port.
    void DisconnectServer(QlibHandle handle);

private:
    QlibApi(platform::SerialPorts& ports, platform::Clock& clock, platform::Files& files)
        : ports_(&ports), clock_(&clock), files_(&files) {}
    DiagLibraryConnection* Find(QlibHandle handle);

    platform::SerialPorts* ports_ = nullptr;
    platform::Clock* clock_ = nullptr;
    platform::Files* files_ = nullptr;
    std::map<QlibHandle, std::unique_ptr<DiagLibraryConnection>> connections_;
    QlibHandle nextHandle_ = 1;
};

}  // namespace firmora::link
