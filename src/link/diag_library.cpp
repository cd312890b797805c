#include "link/diag_library.h"

#include <algorithm>
#include <array>
#include <cerrno>

#include "link/diag_efs.h"
#include "link/diag_nv_packet.h"
#include "link/serial_channel.h"
#include "platform/files.h"
#include "platform/last_error.h"

namespace firmora::link {

namespace {

constexpr uint8_t kBuildIdRequest = 0x7C;
// A device's answers to a request it will not carry out: bad command, bad
// parameters, bad length. Each echoes the request after its code.
constexpr std::array<uint8_t, 3> kRefusals = {0x13, 0x14, 0x15};
// A port read waits at most this long for its first byte, so that the reply
// deadline is checked often.
constexpr uint32_t kReadSliceMs = 100;
constexpr int32_t kEfsExists = 17;

bool Fail(uint32_t code) {
    platform::SetLastError(code);
    return false;
}

bool IsRefusalOf(std::span<const uint8_t> packet, std::span<const uint8_t> request) {
    if (packet.size() < 2 || std::find(kRefusals.begin(), kRefusals.end(), packet[0]) == kRefusals.end()) return false;
    // The echo may be cut short; what is there must be the request.
    const size_t echoed = std::min(packet.size() - 1, request.size());
    return std::equal(packet.begin() + 1, packet.begin() + 1 + static_cast<std::ptrdiff_t>(echoed), request.begin());
}

bool SetUpPort(platform::SerialPort& port) {
    platform::LineSettings line;
    if (!port.GetLineSettings(line)) return false;
    SetDiagLine(line);
    if (!port.SetLineSettings(line)) return false;
    const platform::SerialTimeouts timeouts{platform::kTimeoutMax, platform::kTimeoutMax, kReadSliceMs, 0, 2000};
    return port.SetTimeouts(timeouts) && port.Purge(platform::kPurgeAll);
}

// The folders leading to a device file: "a//b/c/f" gives "a", "a//b",
// "a//b/c", each as written in the path.
std::vector<std::string> ParentFolders(const std::string& devicePath) {
    std::vector<std::string> folders;
    size_t pos = 0;
    while ((pos = devicePath.find('/', pos)) != std::string::npos) {
        if (pos > 0 && devicePath[pos - 1] != '/') folders.push_back(devicePath.substr(0, pos));
        ++pos;
    }
    return folders;
}

}  // namespace

DiagLibraryConnection::DiagLibraryConnection(std::unique_ptr<platform::SerialPort> port, platform::Clock& clock)
    : port_(std::move(port)), clock_(clock) {}

DiagLibraryConnection::~DiagLibraryConnection() {
    if (port_) port_->Close();
}

std::unique_ptr<DiagLibraryConnection> DiagLibraryConnection::Connect(platform::SerialPorts& ports,
                                                                      platform::Clock& clock, int portNumber,
                                                                      uint32_t waitMs) {
    if (portNumber <= 0) {
        Fail(EINVAL);
        return nullptr;
    }
    const std::string name = SerialChannel::DeviceName(portNumber);
    const uint64_t start = clock.TickCount();
    for (;;) {
        std::unique_ptr<platform::SerialPort> port = ports.Open(name);
        if (port && SetUpPort(*port)) {
            return std::unique_ptr<DiagLibraryConnection>(new DiagLibraryConnection(std::move(port), clock));
        }
        const uint32_t error = platform::LastError();
        if (port) port->Close();
        if (clock.TickCount() - start >= waitMs) {
            platform::SetLastError(error != 0 ? error : ETIMEDOUT);
            return nullptr;
        }
        clock.Sleep(kOpenRetryMs);
    }
}

std::optional<std::vector<uint8_t>> DiagLibraryConnection::Transact(std::span<const uint8_t> request,
                                                                    const ReplyMatch& matches) {
    const std::vector<uint8_t> frame = EncodeHdlcFrame(request, true);
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        std::optional<std::vector<uint8_t>> reply = TransactOnce(frame, request, matches);
        if (reply || platform::LastError() != ETIMEDOUT) return reply;
    }
    return std::nullopt;
}

std::optional<std::vector<uint8_t>> DiagLibraryConnection::TransactOnce(const std::vector<uint8_t>& frame,
                                                                        std::span<const uint8_t> request,
                                                                        const ReplyMatch& matches) {
    port_->Purge(platform::kPurgeAll);
    size_t written = 0;
    if (!port_->Write(frame.data(), frame.size(), written)) return std::nullopt;
    if (written != frame.size()) {
        Fail(EIO);
        return std::nullopt;
    }
    deframer_.Reset(HdlcDeframer::Start::AnyByte);
    const uint64_t start = clock_.TickCount();
    std::array<uint8_t, 512> buffer{};
    while (clock_.TickCount() - start < kReplyWaitMs) {
        size_t got = 0;
        if (!port_->Read(buffer.data(), buffer.size(), got)) return std::nullopt;  // the port is gone
        for (size_t i = 0; i < got; ++i) {
            if (deframer_.Feed(buffer[i]) != HdlcDeframer::Status::Complete) continue;
            const std::span<const uint8_t> packet = deframer_.Packet();
            if (matches(packet)) return std::vector<uint8_t>(packet.begin(), packet.end());
            if (IsRefusalOf(packet, request)) {
                Fail(EPROTO);
                return std::nullopt;
            }
        }
    }
    Fail(ETIMEDOUT);
    return std::nullopt;
}

bool DiagLibraryConnection::IsPhoneConnected() {
    const std::array<uint8_t, 1> request = {kBuildIdRequest};
    return Transact(request, [](auto packet) { return packet[0] == kBuildIdRequest; }).has_value();
}

bool DiagLibraryConnection::NvRead(uint16_t item, std::span<uint8_t> buffer, uint16_t& status) {
    const DiagNvPacket request = DiagNvRequest(kDiagNvRead, item, {}, 0);
    const std::optional<std::vector<uint8_t>> reply = Transact(
        request, [&](std::span<const uint8_t> packet) { return IsDiagNvReplyTo(packet, kDiagNvRead, item); });
    if (!reply) return false;
    status = DiagNvReplyStatus(*reply);
    std::copy_n(reply->begin() + 3, std::min(buffer.size(), kDiagNvItemBytes), buffer.begin());
    return true;
}

bool DiagLibraryConnection::NvWrite(uint16_t item, std::span<const uint8_t> buffer, uint16_t& status) {
    const DiagNvPacket request = DiagNvRequest(kDiagNvWrite, item, buffer, 0);
    const std::optional<std::vector<uint8_t>> reply = Transact(
        request, [&](std::span<const uint8_t> packet) { return IsDiagNvReplyTo(packet, kDiagNvWrite, item); });
    if (!reply) return false;
    status = DiagNvReplyStatus(*reply);
    return true;
}

std::optional<std::vector<uint8_t>> DiagLibraryConnection::EfsRequest(const std::vector<uint8_t>& request) {
    // An EFS2 reply starts with the request's four header bytes.
    return Transact(request, [&](std::span<const uint8_t> packet) {
        return packet.size() >= 4 && std::equal(request.begin(), request.begin() + 4, packet.begin());
    });
}

std::optional<uint32_t> DiagLibraryConnection::OpenDeviceFile(const std::string& devicePath, bool forWrite) {
    const std::optional<std::vector<uint8_t>> reply =
        EfsRequest(forWrite ? EfsOpenRequest(kEfsOpenWriteFlags, kEfsOpenWriteMode, devicePath)
                            : EfsOpenRequest(kEfsOpenReadFlags, kEfsOpenReadMode, devicePath));
    if (!reply) return std::nullopt;
    const std::optional<EfsOpenReply> open = ParseEfsOpenReply(*reply);
    if (!open || open->err != 0 || open->fd < 0) {
        Fail(open && open->err > 0 ? static_cast<uint32_t>(open->err) : EIO);
        return std::nullopt;
    }
    return static_cast<uint32_t>(open->fd);
}

void DiagLibraryConnection::CloseDeviceFile(uint32_t fd) { EfsRequest(EfsCloseRequest(fd)); }

bool DiagLibraryConnection::MakeDeviceFolders(const std::string& devicePath) {
    for (const std::string& folder : ParentFolders(devicePath)) {
        const std::optional<std::vector<uint8_t>> reply = EfsRequest(EfsMakeDirRequest(folder));
        if (!reply) return false;
        const std::optional<int32_t> err = EfsReplyErrno(*reply, EfsCommand::MakeDir);
        if (!err || (*err != 0 && *err != kEfsExists && *err != kEfsFolderExists)) {
            return Fail(err && *err > 0 ? static_cast<uint32_t>(*err) : EIO);
        }
    }
    return true;
}

bool DiagLibraryConnection::EfsRead(platform::Files& files, const std::string& devicePath,
                                    const std::filesystem::path& localPath) {
    const std::optional<uint32_t> fd = OpenDeviceFile(devicePath, false);
    if (!fd) return false;
    std::string content;
    bool ok = true;
    for (;;) {
        const auto offset = static_cast<uint32_t>(content.size());
        const std::optional<std::vector<uint8_t>> reply = EfsRequest(EfsReadRequest(kEfsReadChunk, offset, *fd));
        const std::optional<EfsReadReply> read = reply ? ParseEfsReadReply(*reply) : std::nullopt;
        // A chunk counts only when the device reports no error and sends the
        // bytes it says it read, at the offset asked for.
        if (!read || read->err != 0 || read->offset != offset || read->bytesRead < 0 ||
            static_cast<uint32_t>(read->bytesRead) > kEfsReadChunk ||
            read->data.size() < static_cast<size_t>(read->bytesRead)) {
            ok = Fail(read && read->err > 0 ? static_cast<uint32_t>(read->err) : EIO);
            break;
        }
        if (read->bytesRead == 0) break;  // end of file
        if (content.size() + static_cast<size_t>(read->bytesRead) > kMaxEfsFileBytes) {
            ok = Fail(EFBIG);
            break;
        }
        content.append(reinterpret_cast<const char*>(read->data.data()), static_cast<size_t>(read->bytesRead));
    }
    CloseDeviceFile(*fd);
    return ok && files.ReplaceAtomically(localPath, content);
}

bool DiagLibraryConnection::EfsWrite(platform::Files& files, const std::filesystem::path& localPath,
                                     const std::string& devicePath) {
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    const std::optional<std::string> content = files.ReadWhole(localPath, kMaxEfsFileBytes, refusal);
    if (!content) return false;
    std::optional<uint32_t> fd = OpenDeviceFile(devicePath, true);
    if (!fd && platform::LastError() == static_cast<uint32_t>(kEfsNoSuchPath)) {
        // A wiped device may lack the folders; make them and try once more.
        if (!MakeDeviceFolders(devicePath)) return false;
        fd = OpenDeviceFile(devicePath, true);
    }
    if (!fd) return false;
    const auto* bytes = reinterpret_cast<const uint8_t*>(content->data());
    bool ok = true;
    for (size_t offset = 0; offset < content->size(); offset += kEfsWriteBlock) {
        const size_t n = std::min<size_t>(kEfsWriteBlock, content->size() - offset);
        const std::optional<std::vector<uint8_t>> reply =
            EfsRequest(EfsWriteRequest(static_cast<uint32_t>(offset), {bytes + offset, n}, *fd));
        const std::optional<EfsWriteReply> write = reply ? ParseEfsWriteReply(*reply) : std::nullopt;
        if (!write || write->err != 0 || write->bytesWritten < 0 || static_cast<size_t>(write->bytesWritten) != n) {
            ok = Fail(write && write->err > 0 ? static_cast<uint32_t>(write->err) : EIO);
            break;
        }
    }
    const std::optional<std::vector<uint8_t>> closed = EfsRequest(EfsCloseRequest(*fd));
    const std::optional<int32_t> closeErr = closed ? EfsReplyErrno(*closed, EfsCommand::Close) : std::nullopt;
    if (ok && (!closeErr || *closeErr != 0)) ok = Fail(EIO);
    return ok;
}

}  // namespace firmora::link
