#include "link/diag_commands.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <optional>
#include <utility>
#include <vector>

#include "platform/last_error.h"

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

// True when `reply` comes from the request's command (for EFS requests, its
// sub-command): an answer, even when it is not the one hoped for.
bool AnswersRequest(std::span<const uint8_t> request, std::span<const uint8_t> reply) {
    if (request.empty() || reply.empty() || reply[0] != request[0]) return false;
    if (request[0] != kDiagSubsystemCommand || request.size() < 4) return true;
    return reply.size() >= 4 && std::equal(request.begin(), request.begin() + 4, reply.begin());
}

// A path the request cannot carry is refused before anything is sent.
template <typename Result>
Result RefusePath(Result result) {
    platform::SetLastError(ENAMETOOLONG);
    return result;
}

}  // namespace

std::optional<PlatformQueryReply> ParsePlatformQueryReply(std::span<const uint8_t> reply) {
    if (reply.size() < 2 || reply[0] != kDiagPlatformQuery || reply[1] != 0x02) return std::nullopt;
    // A reply too short to carry the code is an answer, but not a code.
    if (reply.size() > kPlatformCodeByte) return PlatformQueryReply{reply[kPlatformCodeByte]};
    return PlatformQueryReply{};
}

DiagCommands::DiagCommands(HdlcFramer& framer, SerialChannel& channel, platform::Clock& clock,
                           core::Reporter& reporter, core::DeviceChangeFlags& deviceChange)
    : framer_(framer), channel_(channel), clock_(clock), reporter_(reporter), deviceChange_(deviceChange) {}

bool DiagCommands::RunHealthy() const { return reporter_.RunStatus() == core::kRunHealthy; }

DiagCommands::Exchanged DiagCommands::Exchange(std::span<const uint8_t> request, int attempts, Reader reader,
                                               const ReplyCheck& check) {
    framer_.BuildPacket(request);
    bool answered = false;
    for (int attempt = 0; attempt < attempts && RunHealthy() && !channel_.DeviceGone(); ++attempt) {
        framer_.SendFrame();
        const FrameReadResult result = reader == Reader::Frame ? framer_.ReadFrame() : framer_.ReadFrameWhole();
        if (!result.ok()) continue;
        if (check(framer_.ReceivedPacket())) return RunHealthy() ? Exchanged::Accepted : Exchanged::Stopped;
        answered = answered || AnswersRequest(request, framer_.ReceivedPacket());
    }
    if (!RunHealthy()) return Exchanged::Stopped;
    return answered ? Exchanged::Refused : Exchanged::NoAnswer;
}

EfsResult DiagCommands::ToEfsResult(Exchanged exchanged) const {
    switch (exchanged) {
        case Exchanged::Accepted: return EfsResult::Done;
        case Exchanged::Refused: return EfsResult::Refused;
        case Exchanged::NoAnswer: return EfsResult::NoAnswer;
        case Exchanged::Stopped: break;
    }
    return EfsResult::Stopped;
}

std::optional<int> DiagCommands::QueryPlatformCode() {
    std::optional<int> code;
    const uint8_t request[] = {kDiagPlatformQuery};
    const Exchanged exchanged = Exchange(request, kPlatformQueryAttempts, Reader::Frame, [&](auto reply) {
        const std::optional<PlatformQueryReply> parsed = ParsePlatformQueryReply(reply);
        if (parsed) code = parsed->code;
        return parsed.has_value();
    });
    if (exchanged != Exchanged::Accepted) return std::nullopt;
    return code;
}

DiagAck DiagCommands::SendPowerOff() {
    const uint8_t request[] = {kDiagPowerOff};
    framer_.BuildPacket(request);
    framer_.SendFrameWithLeadingFlag();
    reporter_.ReportStatus("Send poweroff command", core::kReportInfo);
    for (int read = 0; read < kPowerOffReads && RunHealthy() && !channel_.DeviceGone(); ++read) {
        if (read > 0) clock_.Sleep(kPowerOffReadPauseMs);
        const FrameReadResult result = framer_.ReadResponseTimed();
        if (result.ok() && framer_.ReceivedPacket()[0] == kDiagPowerOffReply) {
            return RunHealthy() ? DiagAck::Acknowledged : DiagAck::Stopped;
        }
    }
    return RunHealthy() ? DiagAck::NoAnswer : DiagAck::Stopped;
}

DiagAck DiagCommands::SendReset() {
    deviceChange_.changeSeen.store(0);
    deviceChange_.arrivalSeen.store(0);
    SendResetRequestOnly();
    reporter_.ReportStatus("Send reset command", core::kReportInfo);
    const FrameReadResult result = framer_.ReadResponse(kResetReplyLimitMs);
    if (!RunHealthy()) return DiagAck::Stopped;
    return result.ok() && framer_.ReceivedPacket()[0] == kDiagResetReply ? DiagAck::Acknowledged
                                                                           : DiagAck::NoAnswer;
}

void DiagCommands::SendResetRequestOnly() {
    const uint8_t request[] = {kDiagReset};
    framer_.BuildPacket(request);
    framer_.SendFrameWithLeadingFlag();
}

DiagAck DiagCommands::ModeChange(uint8_t mode, size_t replyBytes, bool reportMismatch) {
    const uint8_t request[] = {kDiagModeChange, mode, 0x00};
    framer_.BuildPacket(request);
    bool changed = false;
    for (int attempt = 0; attempt < kModeChangeAttempts && RunHealthy() && !changed && !channel_.DeviceGone();
         ++attempt) {
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
    if (!RunHealthy()) return DiagAck::Stopped;
    return changed ? DiagAck::Acknowledged : DiagAck::NoAnswer;
}

DiagAck DiagCommands::DiagModeOffline() { return ModeChange(kModeOffline, kOfflineReplyBytes, true); }
DiagAck DiagCommands::DiagModeReset() { return ModeChange(kModeReset, kResetReplyBytes, false); }

EfsPathState DiagCommands::EfsLookUpPath(const std::string& path) {
    if (!EfsPathFits(path)) return RefusePath(EfsPathState::BadPath);
    switch (Exchange(EfsStatRequest(path), kPathAbsentAttempts, Reader::FrameWhole, [](auto reply) {
        const std::optional<int32_t> err = EfsReplyErrno(reply, EfsCommand::Stat);
        return err && *err == kEfsNoSuchPath;
    })) {
        case Exchanged::Accepted: return EfsPathState::Absent;
        case Exchanged::Refused: return EfsPathState::Present;
        case Exchanged::NoAnswer: return EfsPathState::NoAnswer;
        case Exchanged::Stopped: break;
    }
    return EfsPathState::Stopped;
}

EfsOpenRead DiagCommands::EfsOpenForRead(const std::string& path, uint32_t& size) {
    size = 0;
    if (!EfsPathFits(path)) return RefusePath(EfsOpenRead::BadPath);
    std::optional<EfsStatReply> stat;
    const Exchanged statted =
        Exchange(EfsStatRequest(path), kOpenForReadAttempts, Reader::FrameWhole, [&](auto reply) {
            // A plain file: no error, nothing in the mode's top byte, one link.
            const std::optional<EfsStatReply> s = ParseEfsStatReply(reply);
            if (!s || s->err != 0 || (s->mode >> 24) != 0 || (s->linkCount & 0xFF) != 1) return false;
            stat = s;
            return true;
        });
    if (statted == Exchanged::Stopped) return EfsOpenRead::Stopped;
    if (statted != Exchanged::Accepted) return EfsOpenRead::StatFailed;
    if (stat->size == 0) return EfsOpenRead::EmptyFile;  // nothing to read, nothing opened

    const Exchanged opened = Exchange(EfsOpenRequest(kEfsOpenReadFlags, kEfsOpenReadMode, path),
                                      kOpenForReadAttempts, Reader::FrameWhole, OpenSucceeded);
    if (opened == Exchanged::Stopped) return EfsOpenRead::Stopped;
    if (opened != Exchanged::Accepted) return EfsOpenRead::OpenFailed;
    size = stat->size;
    return EfsOpenRead::Opened;
}

EfsResult DiagCommands::EfsOpenForWrite(const std::string& path) {
    if (!EfsPathFits(path)) return RefusePath(EfsResult::BadPath);
    const Exchanged probed = Exchange(EfsProbeRequest(), kEfsAttempts, Reader::Frame,
                                      [](auto reply) { return ErrnoIsZero(EfsCommand::Probe, reply); });
    if (probed != Exchanged::Accepted) return ToEfsResult(probed);
    return ToEfsResult(Exchange(EfsOpenRequest(kEfsOpenWriteFlags, kEfsOpenWriteMode, path), kEfsAttempts,
                                Reader::Frame, OpenSucceeded));
}

EfsResult DiagCommands::EfsWriteBlock(uint32_t offset, std::span<const uint8_t> data) {
    // Anything short of every byte written leaves a truncated file on the device.
    return ToEfsResult(Exchange(EfsWriteRequest(offset, data), kEfsAttempts, Reader::Frame, [&](auto reply) {
        const std::optional<EfsWriteReply> w = ParseEfsWriteReply(reply);
        return w && w->fd == kEfsFileDescriptor && w->err == 0 && w->bytesWritten >= 0 &&
               static_cast<size_t>(w->bytesWritten) == data.size();
    }));
}

EfsResult DiagCommands::EfsSimple(EfsCommand command, std::span<const uint8_t> request) {
    return ToEfsResult(
        Exchange(request, kEfsAttempts, Reader::Frame, [command](auto reply) { return ErrnoIsZero(command, reply); }));
}

EfsResult DiagCommands::EfsCloseFile() { return EfsSimple(EfsCommand::Close, EfsCloseRequest()); }

EfsResult DiagCommands::EfsMakeDir(const std::string& path) {
    if (!EfsPathFits(path)) return RefusePath(EfsResult::BadPath);
    return ToEfsResult(Exchange(EfsMakeDirRequest(path), kEfsAttempts, Reader::Frame, [](auto reply) {
        const std::optional<int32_t> err = EfsReplyErrno(reply, EfsCommand::MakeDir);
        return err && (*err == 0 || *err == kEfsFolderExists);
    }));
}

EfsResult DiagCommands::EfsRemoveEmptyDir(const std::string& path) {
    if (!EfsPathFits(path)) return RefusePath(EfsResult::BadPath);
    return EfsSimple(EfsCommand::RemoveDir, EfsRemoveDirRequest(path));
}

EfsResult DiagCommands::EfsCloseDir() {
    return ToEfsResult(Exchange(EfsCloseDirRequest(), kEfsAttempts, Reader::Frame,
                                [](auto reply) { return IsReplyTo(EfsCommand::CloseDir, reply); }));
}

EfsResult DiagCommands::EfsRemoveFile(const std::string& path) {
    if (!EfsPathFits(path)) return RefusePath(EfsResult::BadPath);
    return EfsSimple(EfsCommand::Unlink, EfsUnlinkRequest(path));
}

EfsResult DiagCommands::EfsRemoveFile(const std::string& folder, const std::string& name) {
    return EfsRemoveFile(folder + "/" + name);
}

DiagCommands::Listing DiagCommands::ListPlainFiles(std::vector<std::string>& files) {
    for (unsigned sequence = 1; sequence <= kMaxListingEntries; ++sequence) {
        const Exchanged answered =
            Exchange(EfsReadDirRequest(static_cast<uint8_t>(sequence)), kEfsAttempts, Reader::Frame,
                     [](auto reply) { return IsReplyTo(EfsCommand::ReadDir, reply); });
        if (answered != Exchanged::Accepted) return Listing::NoReply;
        ListingEntry entry = ReadListingEntry(framer_.ReceivedPacket(), kRemoveDirMaxNameBytes);
        switch (entry.kind) {
            case ListingEntry::Kind::End: return Listing::Done;
            case ListingEntry::Kind::Folder: return Listing::Subfolder;
            case ListingEntry::Kind::Other: continue;
            case ListingEntry::Kind::Unusable: return Listing::Unusable;
            case ListingEntry::Kind::PlainFile: break;
        }
        if (files.size() == kRemoveDirMaxFiles) return Listing::Unusable;
        files.push_back(std::move(entry.name));
    }
    return Listing::Unusable;
}

RemoveDirResult DiagCommands::EfsRemoveDirWithFiles(const std::string& path) {
    if (!EfsPathFits(path)) return RefusePath(RemoveDirResult::BadPath);
    const Exchanged opened = Exchange(EfsOpenDirRequest(path), kEfsAttempts, Reader::Frame,
                                      [](auto reply) { return IsReplyTo(EfsCommand::OpenDir, reply); });
    if (opened == Exchanged::Stopped) return RemoveDirResult::Stopped;
    if (opened != Exchanged::Accepted) return RemoveDirResult::ProtocolFailure;

    // Files are removed only after the whole listing was read: a folder that
    // cannot be emptied completely is not touched at all.
    std::vector<std::string> files;
    Listing listing = ListPlainFiles(files);
    // Each file is removed as "<path>/<name>", which must fit a request too.
    if (listing == Listing::Done &&
        std::any_of(files.begin(), files.end(), [&](const std::string& name) { return !EfsPathFits(path + "/" + name); })) {
        listing = Listing::Unusable;
    }
    if (!RunHealthy()) return RemoveDirResult::Stopped;
    switch (listing) {
        case Listing::NoReply:
            return RemoveDirResult::ProtocolFailure;
        case Listing::Subfolder:
        case Listing::Unusable:
            // Close the listing all the same: the next one must get handle 1 again.
            if (EfsCloseDir() == EfsResult::Stopped) return RemoveDirResult::Stopped;
            return listing == Listing::Subfolder ? RemoveDirResult::HasSubfolder : RemoveDirResult::ProtocolFailure;
        case Listing::Done:
            break;
    }
    const auto failed = [](EfsResult result, RemoveDirResult failure) {
        return result == EfsResult::Stopped ? RemoveDirResult::Stopped : failure;
    };
    if (const EfsResult closed = EfsCloseDir(); closed != EfsResult::Done) {
        return failed(closed, RemoveDirResult::ProtocolFailure);
    }
    for (const std::string& name : files) {
        if (const EfsResult removed = EfsRemoveFile(path, name); removed != EfsResult::Done) {
            return failed(removed, RemoveDirResult::FileKept);
        }
    }
    if (const EfsResult removed = EfsRemoveEmptyDir(path); removed != EfsResult::Done) {
        return failed(removed, RemoveDirResult::FolderKept);
    }
    return RemoveDirResult::Removed;
}

}  // namespace firmora::link
