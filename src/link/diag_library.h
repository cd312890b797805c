#pragma once
// The diagnostic library's engine: a DIAG client of its own that opens a
// Diag port by number, frames requests with HDLC and CRC-16, and offers what
// the tool asks of the library: a link test, 128-byte NV item reads and
// writes with the device's status code, and whole-file copies from and to
// the device's embedded file system (EFS2 open/read/write/close).
//
// It shares nothing with the worker's diagnostic channel except the framing
// rules, because the two must never have the port open at the same time.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "link/hdlc_codec.h"
#include "platform/clock.h"
#include "platform/files.h"
#include "platform/serial_ports.h"

namespace firmora::link {

class DiagLibraryConnection {
public:
    // How long one request waits for its reply, and how often it is sent.
    static constexpr uint64_t kReplyWaitMs = 2000;
    static constexpr int kAttempts = 3;
    // Pause between attempts to open a port that is not there yet.
    static constexpr uint32_t kOpenRetryMs = 250;
    // EFS transfer sizes, and the largest device file copied.
    static constexpr uint32_t kEfsReadChunk = 512;
    static constexpr uint32_t kEfsWriteBlock = 1024;
    static constexpr uint32_t kMaxEfsFileBytes = 16u * 1024 * 1024;

    // Opens "COMn", retrying until `waitMs` have passed; null when the port
    // could not be opened or set up in that time.
    static std::unique_ptr<DiagLibraryConnection> Connect(platform::SerialPorts& ports, platform::Clock& clock,
                                                          int portNumber, uint32_t waitMs);

    // True when the device answers a harmless request (its build identity).
    bool IsPhoneConnected();
    // Reads item `item`: true when the device answered, with its status in
    // `status` and the item's bytes in `buffer` (up to 128 of them).
    bool NvRead(uint16_t item, std::span<uint8_t> buffer, uint16_t& status);
    // Writes item `item` from `buffer` (padded with zeros to 128 bytes):
    // true when the device answered, with its status in `status`.
    bool NvWrite(uint16_t item, std::span<const uint8_t> buffer, uint16_t& status);
    // Copies the device file into `localPath` (replaced whole, or left as it
    // was on failure).
    bool EfsRead(platform::Files& files, const std::string& devicePath, const std::filesystem::path& localPath);
    // Copies `localPath` into the device file, creating its folders when the
    // device has none.
    bool EfsWrite(platform::Files& files, const std::filesystem::path& localPath, const std::string& devicePath);

    ~DiagLibraryConnection();
    DiagLibraryConnection(const DiagLibraryConnection&) = delete;
    DiagLibraryConnection& operator=(const DiagLibraryConnection&) = delete;

private:
    DiagLibraryConnection(std::unique_ptr<platform::SerialPort> port, platform::Clock& clock);

    using ReplyMatch = std::function<bool(std::span<const uint8_t> packet)>;
    // Sends `request` and returns the first reply packet `matches` accepts;
    // other frames (the device's own log traffic, stale replies) are passed
    // over. Refusals of the request (bad command, parameters or length) end
    // the exchange without a reply.
    std::optional<std::vector<uint8_t>> Transact(std::span<const uint8_t> request, const ReplyMatch& matches);
    std::optional<std::vector<uint8_t>> TransactOnce(const std::vector<uint8_t>& frame,
                                                     std::span<const uint8_t> request, const ReplyMatch& matches);
    std::optional<std::vector<uint8_t>> EfsRequest(const std::vector<uint8_t>& request);
    std::optional<uint32_t> OpenDeviceFile(const std::string& devicePath, bool forWrite);
    void CloseDeviceFile(uint32_t fd);
    bool MakeDeviceFolders(const std::string& devicePath);

    std::unique_ptr<platform::SerialPort> port_;
    platform::Clock& clock_;
    HdlcDeframer deframer_;
};

}  // namespace firmora::link
