#include "link/diag_commands.h"

#include <array>
#include <cstdio>
#include <optional>
#include <vector>

namespace firmora::link {

namespace {

constexpr int kPlatformQueryAttempts = 3;
constexpr size_t kPlatformCodeByte = 8;
constexpr int kPowerOffReads = 5;
constexpr uint32_t kPowerOffReadPauseMs = 100;
constexpr int kModeChangeAttempts = 10;
constexpr uint32_t kModeChangePauseMs = 1000;
constexpr uint8_t kModeOffline = 0x01;
constexpr uint8_t kModeReset = 0x02;
constexpr size_t kOfflineReplyBytes = 10;
constexpr size_t kResetReplyBytes = 6;
constexpr int kPathAbsentAttempts = 5;
constexpr int kOpenForReadAttempts = 10;
constexpr int kEfsAttempts = 100;
constexpr unsigned kMaxListingEntries = 255;  // the sequence number has one byte
constexpr size_t kEntryModeByte = 20;

bool IsReplyTo(EfsCommand command, std::span<const uint8_t> reply) { return IsEfsReply(reply, command); }

bool ErrnoIsZero(EfsCommand command, std::span<const uint8_t> reply) {
    const std::optional<int32_t> err = EfsReplyErrno(reply, command);
    return err && *err == 0;
}

// Later requests address descriptor 0, so an open that hands out any other
// descriptor, or reports an error, has not opened the file they mean.
bool OpenSucceeded(std::span<const uint8_t> reply) {
    const std::optional<EfsOpenReply> open = ParseEfsOpenReply(reply);
    return open && open->fd == static_cast<int32_t>(kEfsFileDescriptor) && open->err == 0;
}

}  // namespace

DiagCommands::DiagCommands(HdlcFramer& framer, SerialChannel& channel, platform::Clock& clock,
                           core::Reporter& reporter, core::DeviceChangeFlags& deviceChange)
    : framer_(framer), channel_(channel), clock_(clock), reporter_(reporter), deviceChange_(deviceChange) {}

bool DiagCommands::RunHealthy() const { return reporter_.RunStatus() == core::kRunHealthy; }

bool DiagCommands::Exchange(std::span<const uint8_t> request, int attempts, Reader reader,
                            const ReplyCheck& check) {
    framer_.BuildPacket(request);
    for (int attempt = 0; attempt < attempts && RunHealthy(); ++attempt) {
        framer_.SendFrame();
        const FrameReadResult result = reader == Reader::Frame ? framer_.ReadFrame() : framer_.ReadFrameWhole();
        if (result.ok() && check(framer_.ReceivedPacket())) return true;
    }
    return false;
}

int DiagCommands::QueryPlatformCode() {
    std::optional<int> code;
    const uint8_t request[] = {kDiagPlatformQuery};
    const bool answered = Exchange(request, kPlatformQueryAttempts, Reader::Frame, [&](auto reply) {
        if (reply.size() < 2 || reply[0] != kDiagPlatformQuery || reply[1] != 0x02) return false;
        // A reply too short to carry the code is an answer, but not a code.
        if (reply.size() > kPlatformCodeByte) code = reply[kPlatformCodeByte];
        return true;
    });
    if (!RunHealthy() || !answered || !code) return kDiagRunNotHealthy;
    return *code;
}

int DiagCommands::SendPowerOff() {
    const uint8_t request[] = {kDiagPowerOff};
    framer_.BuildPacket(request);
    framer_.SendFrameWithLeadingFlag();
    reporter_.ReportStatus("Send poweroff command", core::kReportInfo);
    for (int read = 0; read < kPowerOffReads && RunHealthy(); ++read) {
        if (read > 0) clock_.Sleep(kPowerOffReadPauseMs);
        const FrameReadResult result = framer_.ReadResponseTimed();
        if (result.ok() && framer_.ReceivedPacket()[0] == kDiagPowerOffReply) {
            return RunHealthy() ? kDiagOk : kDiagFailed;
        }
    }
    return kDiagFailed;
}

int DiagCommands::SendReset() {
    deviceChange_.changeSeen.store(0);
    deviceChange_.arrivalSeen.store(0);
    SendResetRequestOnly();
    reporter_.ReportStatus("Send reset command", core::kReportInfo);
    const FrameReadResult result = framer_.ReadResponse(kResetReplyLimitMs);
    if (!RunHealthy()) return kDiagFailed;
    return result.ok() && framer_.ReceivedPacket()[0] == kDiagResetReply ? kDiagOk : kDiagFailed;
}

void DiagCommands::SendResetRequestOnly() {
    const uint8_t request[] = {kDiagReset};
    framer_.BuildPacket(request);
    framer_.SendFrameWithLeadingFlag();
}

int DiagCommands::ModeChange(uint8_t mode, size_t replyBytes, bool reportMismatch) {
    const uint8_t request[] = {kDiagModeChange, mode, 0x00};
    framer_.BuildPacket(request);
    bool changed = false;
    for (int attempt = 0; attempt < kModeChangeAttempts && RunHealthy() && !changed; ++attempt) {
        if (attempt > 0) clock_.Sleep(kModeChangePauseMs);
        framer_.SendFrame();
        // The echo is read raw, without deframing.
        std::array<uint8_t, kOfflineReplyBytes> reply{};
        const size_t got = channel_.ReadBytes(reply.data(), replyBytes);
        changed = got >= 3 && reply[0] == kDiagModeChange && reply[1] == mode && reply[2] == 0x00;
        if (!changed && reportMismatch) {
            std::string text = "Offline cmd rec:";
            char cell[4];
            for (size_t i = 0; i < replyBytes; ++i) {
                std::snprintf(cell, sizeof cell, " %02X", reply[i]);
                text += cell;
            }
            reporter_.ReportStatus(text, core::kReportInfo);
        }
    }
    return changed && RunHealthy() ? kDiagOk : kDiagRunNotHealthy;
}

int DiagCommands::DiagModeOffline() { return ModeChange(kModeOffline, kOfflineReplyBytes, true); }
int DiagCommands::DiagModeReset() { return ModeChange(kModeReset, kResetReplyBytes, false); }

bool DiagCommands::EfsPathAbsent(const std::string& path) {
    const bool absent = Exchange(EfsStatRequest(path), kPathAbsentAttempts, Reader::FrameWhole, [](auto reply) {
        const std::optional<int32_t> err = EfsReplyErrno(reply, EfsCommand::Stat);
        return err && *err == kEfsNoSuchPath;
    });
    return absent && RunHealthy();
}

int DiagCommands::EfsOpenForRead(const std::string& path, uint32_t& size) {
    size = 0;
    std::optional<EfsStatReply> stat;
    const bool statOk = Exchange(EfsStatRequest(path), kOpenForReadAttempts, Reader::FrameWhole, [&](auto reply) {
        // A plain file: no error, nothing in the mode's top byte, one link.
        const std::optional<EfsStatReply> s = ParseEfsStatReply(reply);
        if (!s || s->err != 0 || (s->mode >> 24) != 0 || (s->linkCount & 0xFF) != 1) return false;
        stat = s;
        return true;
    });
    if (!RunHealthy() || !statOk) return kEfsStatFailed;
    size = stat->size;
    if (size == 0) return kDiagOk;  // nothing to read, nothing opened

    const bool opened = Exchange(EfsOpenRequest(kEfsOpenReadFlags, kEfsOpenReadMode, path), kOpenForReadAttempts,
                                 Reader::FrameWhole, OpenSucceeded);
    if (!RunHealthy()) return kEfsStatFailed;
    return opened ? kDiagOk : kEfsOpenFailed;
}

int DiagCommands::EfsOpenForWrite(const std::string& path) {
    const bool probed = Exchange(EfsProbeRequest(), kEfsAttempts, Reader::Frame,
                                 [](auto reply) { return ErrnoIsZero(EfsCommand::Probe, reply); });
    if (!RunHealthy()) return kDiagRunNotHealthy;
    if (!probed) return kDiagFailed;
    const bool opened = Exchange(EfsOpenRequest(kEfsOpenWriteFlags, kEfsOpenWriteMode, path), kEfsAttempts,
                                 Reader::Frame, OpenSucceeded);
    if (!RunHealthy()) return kDiagRunNotHealthy;
    return opened ? kDiagOk : kDiagFailed;
}

int DiagCommands::EfsWriteBlock(uint32_t offset, std::span<const uint8_t> data) {
    // Anything short of every byte written leaves a truncated file on the device.
    const bool written = Exchange(EfsWriteRequest(offset, data), kEfsAttempts, Reader::Frame, [&](auto reply) {
        const std::optional<EfsWriteReply> w = ParseEfsWriteReply(reply);
        return w && w->fd == kEfsFileDescriptor && w->err == 0 && w->bytesWritten >= 0 &&
               static_cast<size_t>(w->bytesWritten) == data.size();
    });
    if (!RunHealthy()) return kDiagRunNotHealthy;
    return written ? kDiagOk : kDiagFailed;
}

int DiagCommands::EfsSimple(EfsCommand command, std::span<const uint8_t> request) {
    const bool done = Exchange(request, kEfsAttempts, Reader::Frame,
                               [command](auto reply) { return ErrnoIsZero(command, reply); });
    if (!RunHealthy()) return kDiagRunNotHealthy;
    return done ? kDiagOk : kDiagFailed;
}

int DiagCommands::EfsCloseFile() { return EfsSimple(EfsCommand::Close, EfsCloseRequest()); }

int DiagCommands::EfsMakeDir(const std::string& path) {
    const bool made = Exchange(EfsMakeDirRequest(path), kEfsAttempts, Reader::Frame, [](auto reply) {
        const std::optional<int32_t> err = EfsReplyErrno(reply, EfsCommand::MakeDir);
        return err && (*err == 0 || *err == kEfsFolderExists);
    });
    if (!RunHealthy()) return kDiagRunNotHealthy;
    return made ? kDiagOk : kDiagFailed;
}

int DiagCommands::EfsRemoveEmptyDir(const std::string& path) {
    return EfsSimple(EfsCommand::RemoveDir, EfsRemoveDirRequest(path));
}

int DiagCommands::EfsCloseDir() {
    const bool closed = Exchange(EfsCloseDirRequest(), kEfsAttempts, Reader::Frame,
                                 [](auto reply) { return IsReplyTo(EfsCommand::CloseDir, reply); });
    if (!RunHealthy()) return kDiagRunNotHealthy;
    return closed ? kDiagOk : kDiagFailed;
}

int DiagCommands::EfsRemoveFile(const std::string& path) {
    return EfsSimple(EfsCommand::Unlink, EfsUnlinkRequest(path));
}

int DiagCommands::EfsRemoveFile(const std::string& folder, const std::string& name) {
    return EfsRemoveFile(folder + "/" + name);
}

DiagCommands::Listing DiagCommands::ListPlainFiles(std::vector<std::string>& files) {
    for (unsigned sequence = 1; sequence <= kMaxListingEntries; ++sequence) {
        const bool answered = Exchange(EfsReadDirRequest(static_cast<uint8_t>(sequence)), kEfsAttempts,
                                       Reader::Frame, [](auto reply) { return IsReplyTo(EfsCommand::ReadDir, reply); });
        if (!answered) return Listing::NoReply;
        const std::span<const uint8_t> reply = framer_.ReceivedPacket();
        // The listing ends with the first entry without a mode.
        if (reply.size() < kEntryModeByte + 2 || reply[kEntryModeByte] == 0 || reply[kEntryModeByte + 1] == 0) {
            return Listing::Done;
        }
        const uint16_t mode = static_cast<uint16_t>(reply[kEntryModeByte] | reply[kEntryModeByte + 1] << 8);
        if (mode == kEfsModeFolder) return Listing::Subfolder;
        if (mode != kEfsModePlainFile) continue;
        const std::optional<EfsReadDirReply> entry = ParseEfsReadDirReply(reply);
        if (!entry || entry->name.empty() || entry->name.size() > kRemoveDirMaxNameBytes ||
            files.size() == kRemoveDirMaxFiles) {
            return Listing::Unusable;
        }
        files.push_back(entry->name);
    }
    return Listing::Unusable;
}

int DiagCommands::EfsRemoveDirWithFiles(const std::string& path) {
    const bool opened = Exchange(EfsOpenDirRequest(path), kEfsAttempts, Reader::Frame,
                                 [](auto reply) { return IsReplyTo(EfsCommand::OpenDir, reply); });
    if (!RunHealthy()) return kDiagRunNotHealthy;
    if (!opened) return kRemoveDirProtocolFailure;

    // Files are removed only after the whole listing was read: a folder that
    // cannot be emptied completely is not touched at all.
    std::vector<std::string> files;
    const Listing listing = ListPlainFiles(files);
    if (!RunHealthy()) return kDiagRunNotHealthy;
    switch (listing) {
        case Listing::NoReply:
            return kRemoveDirProtocolFailure;
        case Listing::Subfolder:
        case Listing::Unusable:
            // Close the listing all the same: the next one must get handle 1 again.
            EfsCloseDir();
            if (!RunHealthy()) return kDiagRunNotHealthy;
            return listing == Listing::Subfolder ? kRemoveDirHasSubfolder : kRemoveDirProtocolFailure;
        case Listing::Done:
            break;
    }
    if (EfsCloseDir() != kDiagOk) return RunHealthy() ? kRemoveDirProtocolFailure : kDiagRunNotHealthy;

    for (const std::string& name : files) {
        if (EfsRemoveFile(path, name) != kDiagOk) return RunHealthy() ? kRemoveDirFileKept : kDiagRunNotHealthy;
    }
    if (EfsRemoveEmptyDir(path) != kDiagOk) return RunHealthy() ? kRemoveDirFolderKept : kDiagRunNotHealthy;
    return kDiagOk;
}

}  // namespace firmora::link
