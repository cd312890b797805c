#pragma once
// DiagCommands: the DIAG requests of a run on the diagnostic channel: the
// platform query, power-off and reset, the diagnostic mode change and the
// EFS2 file operations with which device files and folders are saved and
// restored. Each request is one packet framed by HdlcFramer; each exchange is
// a bounded number of attempts (send, then read one reply).
//
// Results are small integers: 0 for success, the failure values named below,
// and kDiagRunNotHealthy (-1) when the run has been stopped or has failed by
// the end of the attempts (EfsPathAbsent then answers false, EfsOpenForRead,
// SendPowerOff and SendReset answer 1). Nothing is reported except the
// power-off, reset and offline lines.

#include <cstdint>
#include <functional>
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

inline constexpr int kDiagOk = 0;
inline constexpr int kDiagFailed = 1;
inline constexpr int kDiagRunNotHealthy = -1;
// EfsOpenForRead.
inline constexpr int kEfsStatFailed = 1;
inline constexpr int kEfsOpenFailed = 2;
// EfsRemoveDirWithFiles.
inline constexpr int kRemoveDirProtocolFailure = 1;
inline constexpr int kRemoveDirHasSubfolder = 2;
inline constexpr int kRemoveDirFileKept = 3;
inline constexpr int kRemoveDirFolderKept = 4;

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

    // The device's platform code (byte 8 of the 7C 02 reply), or -1.
    int QueryPlatformCode();
    // Reports "Send poweroff command"; 0 when the device acknowledged (0x12).
    int SendPowerOff();
    // Clears both device-change flags, reports "Send reset command"; 0 when
    // the device acknowledged (0x0C) within kResetReplyLimitMs.
    int SendReset();
    // The reset request alone, no reply awaited (the reset-and-wait).
    void SendResetRequestOnly();
    // Diagnostic mode change to offline / reset: 0 ok, -1 failed.
    int DiagModeOffline();
    int DiagModeReset();

    // EFS2 operations on device paths (UTF-8).
    bool EfsPathAbsent(const std::string& path);
    // 0 ok (the file is open unless `size` is 0), 1 status failed, 2 open failed.
    int EfsOpenForRead(const std::string& path, uint32_t& size);
    int EfsOpenForWrite(const std::string& path);
    // Writes `data` at `offset` of the open file; 0 only when the device
    // wrote every byte without error.
    int EfsWriteBlock(uint32_t offset, std::span<const uint8_t> data);
    int EfsCloseFile();
    // 0 also when the folder exists already.
    int EfsMakeDir(const std::string& path);
    int EfsRemoveEmptyDir(const std::string& path);
    int EfsCloseDir();
    int EfsRemoveFile(const std::string& path);
    int EfsRemoveFile(const std::string& folder, const std::string& name);
    // Removes a folder that holds plain files only: 0 done, or one of the
    // kRemoveDir* failures.
    int EfsRemoveDirWithFiles(const std::string& path);

private:
    enum class Reader { Frame, FrameWhole };
    using ReplyCheck = std::function<bool(std::span<const uint8_t> reply)>;

    bool RunHealthy() const;
    // Builds the packet once, then sends it and reads one reply per attempt
    // until a reply passes `check`; true when one did.
    bool Exchange(std::span<const uint8_t> request, int attempts, Reader reader, const ReplyCheck& check);
    // An EFS request whose reply succeeds when its error number is 0.
    int EfsSimple(EfsCommand command, std::span<const uint8_t> request);
    int ModeChange(uint8_t mode, size_t replyBytes, bool reportMismatch);
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
