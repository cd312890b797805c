#pragma once
// DiagCommands: the DIAG requests of a run on the diagnostic channel: the
// platform query, power-off and reset, the diagnostic mode change and the
// EFS2 file operations with which device files and folders are saved and
// restored. Each request is one packet framed by HdlcFramer; each exchange is
// a bounded number of attempts (send, then read one reply).
//
// Every operation answers with a scoped enum of its own whose names say
// what happened: done, refused by the device, unanswered (silence, a lost
// port or only replies that belong to something else), a path the request
// cannot carry (sent never), or a run that was stopped or failed meanwhile.
// Nothing is reported except the power-off, reset and offline lines.

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "link/diag_efs.h"
#include "link/diag_nv_packet.h"
#include "link/hdlc_framer.h"
#include "link/serial_channel.h"
#include "platform/clock.h"

namespace firmora::link {

// DIAG command codes (first packet byte).
inline constexpr uint8_t kDiagPlatformQuery = 0x7C;
inline constexpr uint8_t kDiagPowerOff = 0x11;
inline constexpr uint8_t kDiagPowerOffReply = 0x12;
inline constexpr uint8_t kDiagReset = 0x0B;
inline constexpr uint8_t kDiagResetReply = 0x0C;
inline constexpr uint8_t kDiagModeChange = 0x29;
// NV item requests: diag_nv_packet.h.

// A reply to the platform query (7C 02 ...): the platform code is byte 8,
// absent from a reply too short to carry it. None for any other packet.
struct PlatformQueryReply {
    std::optional<int> code;
};
std::optional<PlatformQueryReply> ParsePlatformQueryReply(std::span<const uint8_t> reply);

// Power-off, reset and the mode changes.
enum class DiagAck { Acknowledged, NoAnswer, Stopped };
// The single-request EFS operations (open for write, write, close, make,
// remove).
enum class EfsResult { Done, Refused, NoAnswer, BadPath, Stopped };
// EfsLookUpPath.
enum class EfsPathState { Absent, Present, NoAnswer, BadPath, Stopped };
// EfsOpenForRead.
enum class EfsOpenRead {
    Opened,      // the file is open; its size is given
    EmptyFile,   // a plain file of size 0: nothing opened, nothing to read
    StatFailed,  // no usable status: not a plain file, refused or unanswered
    OpenFailed,  // the status was good, the open was not
    BadPath,
    Stopped
};
// EfsRemoveDirWithFiles.
enum class RemoveDirResult { Removed, ProtocolFailure, HasSubfolder, FileKept, FolderKept, BadPath, Stopped };

class DiagCommands {
public:
    // A device answers the reset request before it leaves the bus; one that
    // resets without answering would otherwise hold the worker until Stop.
    // Ten seconds is twice the time-limited readers' limit.
    static constexpr uint64_t kResetReplyLimitMs = 10000;
    // Limits of EfsRemoveDirWithFiles: plain files remembered per folder and
    // bytes per name. A folder beyond them is left alone (protocol failure).
    static constexpr size_t kRemoveDirMaxFiles = 50;
    static constexpr size_t kRemoveDirMaxNameBytes = 128;

    DiagCommands(HdlcFramer& framer, SerialChannel& channel, platform::Clock& clock, core::Reporter& reporter,
                 core::DeviceChangeFlags& deviceChange);

    // The device's platform code (byte 8 of the 7C 02 reply); none when the
    // device gave no such reply or the run stopped.
    std::optional<int> QueryPlatformCode();
    // Reports "Send poweroff command"; acknowledged by a 0x12 reply.
    DiagAck SendPowerOff();
    // Clears both device-change flags, reports "Send reset command";
    // acknowledged by a 0x0C reply within kResetReplyLimitMs.
    DiagAck SendReset();
    // The reset request alone, no reply awaited (the reset-and-wait).
    void SendResetRequestOnly();
    // Diagnostic mode change to offline / reset: acknowledged by its echo.
    DiagAck DiagModeOffline();
    DiagAck DiagModeReset();

    // EFS2 operations on device paths (UTF-8).
    // Absent only when the device says there is no such path; any other
    // answer to the status request means something is there.
    EfsPathState EfsLookUpPath(const std::string& path);
    // `size` is the file's size when Opened, 0 otherwise.
    EfsOpenRead EfsOpenForRead(const std::string& path, uint32_t& size);
    EfsResult EfsOpenForWrite(const std::string& path);
    // Writes `data` at `offset` of the open file; Done only when the device
    // wrote every byte without error.
    EfsResult EfsWriteBlock(uint32_t offset, std::span<const uint8_t> data);
    EfsResult EfsCloseFile();
    // Done also when the folder exists already.
    EfsResult EfsMakeDir(const std::string& path);
    EfsResult EfsRemoveEmptyDir(const std::string& path);
    EfsResult EfsCloseDir();
    EfsResult EfsRemoveFile(const std::string& path);
    EfsResult EfsRemoveFile(const std::string& folder, const std::string& name);
    // Removes a folder that holds plain files only; a folder beyond the
    // limits above is left alone (ProtocolFailure).
    RemoveDirResult EfsRemoveDirWithFiles(const std::string& path);

private:
    enum class Reader { Frame, FrameWhole };
    using ReplyCheck = std::function<bool(std::span<const uint8_t> reply)>;
    // How an exchange ended: a reply passed the check; replies to the
    // request came but none passed; nothing answered the request; the run
    // stopped or failed.
    enum class Exchanged { Accepted, Refused, NoAnswer, Stopped };

    bool RunHealthy() const;
    // Builds the packet once, then sends it and reads one reply per attempt
    // until a reply passes `check`. A port whose device has gone ends it at once.
    Exchanged Exchange(std::span<const uint8_t> request, int attempts, Reader reader, const ReplyCheck& check);
    EfsResult ToEfsResult(Exchanged exchanged) const;
    // An EFS request whose reply succeeds when its error number is 0.
    EfsResult EfsSimple(EfsCommand command, std::span<const uint8_t> request);
    DiagAck ModeChange(uint8_t mode, size_t replyBytes, bool reportMismatch);
    // How reading a folder listing ended.
    enum class Listing { Done, NoReply, Subfolder, Unusable };
    // Reads the open listing, remembering the names of its plain files.
    Listing ListPlainFiles(std::vector<std::string>& files);

    HdlcFramer& framer_;
    SerialChannel& channel_;
    platform::Clock& clock_;
    core::Reporter& reporter_;
    core::DeviceChangeFlags& deviceChange_;
};

}  // namespace firmora::link
