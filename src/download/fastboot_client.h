#pragma once
// FastbootClient: the worker's side of the fastboot protocol over the USB
// bulk binding. ASCII commands go out as single bulk writes, replies come
// back on the bulk-in endpoint, and image data follow "download:" as raw
// bytes streamed from disk, counted in 4096-byte chunks and written in
// blocks of up to 1 MiB.
//
// Each device message is one reply, judged by its first four bytes. "INFO"
// replies are the device's progress text: they are shown as information
// lines and the answer ("OKAY", "FAIL" or "DATA") is still awaited, all
// within the command's reply time-out. The image follows "download:" only
// after a "DATA" reply that announces exactly the size asked for.
//
// Every failure is reported through the run's Reporter, whose first error
// fixes the run status. Operations do not look at the run status; the
// sequences (FlashImage, FlashImageInPackets, EraseEntry) run each step only
// while it is still 0. Reports that announce success are left out once the
// run has failed or was stopped.

#include <array>
#include <cstdint>
#include <functional>
#include <string>

#include "core/reporter.h"
#include "download/adb_api.h"
#include "download/fastboot_commands.h"
#include "download/image_stream.h"
#include "platform/clock.h"

namespace firmora::download {

class FastbootClient {
public:
    // The flash command of FlashImage: sends it and tells whether it went out.
    using FlashOperation = std::function<bool()>;

    FastbootClient(AdbApi& adb, core::Reporter& reporter, platform::Clock& clock);

    // Connection.
    bool ConnectAdbInterface(const std::string& devicePath);
    bool InitAdbConnection();
    bool CloseAdbConnection();

    // Commands and replies.
    bool ImageHandshakeCmd(uint32_t byteCount);
    // Streams `byteCount` bytes of the file; a packet `packetIndex` > 0
    // starts at that many packets of `stream` into the file.
    bool ImageBulkWrite(const std::string& filePath, uint32_t byteCount, uint32_t packetIndex,
                        PacketStream stream = PacketStream::System);
    bool ReceiveOkayReply();
    // Like ReceiveOkayReply, but a refusal or a missing answer never fails
    // the run: it is shown as a warning naming `partition`, followed by a
    // 5 s pause.
    bool ReceiveEraseReply(const std::string& partition);
    bool WriteFinishedCmd(const std::string& partition);
    bool EraseCmd(const std::string& partition);
    bool FixedFlashCmd(FixedFlash flash);
    bool PacketFlashCmd(const std::string& partition, uint32_t packetIndex);
    bool RebootDeviceCmd();

    // Sequences.
    void FlashImage(const std::string& filePath, uint32_t byteCount, const FlashOperation& flash);
    void FlashImageInPackets(const std::string& filePath, uint32_t fileSize, PacketStream stream);
    void EraseEntry(const std::string& partition);

    // Image bytes this client has delivered in the run.
    uint64_t WrittenBytes() const { return writtenBytes_; }

private:
    // The device's answer to a command, INFO replies passed over.
    struct Answer {
        enum class Kind { Okay, Fail, Data, Other, NotRead };
        Kind kind = Kind::NotRead;
        std::array<uint8_t, kReplyBytes> bytes{};
        uint32_t count = 0;

        // The reply as printable text ("FAILflash write failure").
        std::string Text() const;
    };

    bool Healthy() const { return reporter_.RunStatus() == core::kRunHealthy; }
    void Log(const std::string& text);
    void Report(const std::string& text);
    // One command as one bulk write of exactly its length.
    bool SendCommand(const std::string& command, uint32_t timeoutMs);
    // Sends a command and reports its outcome with the operation's texts.
    bool Command(const std::string& command, uint32_t timeoutMs, const std::string& failureText,
                 const std::string& successText);
    // Reads replies until one that is not INFO, all within `timeoutMs`; logs
    // each read and shows each INFO text.
    Answer ReadAnswer(uint32_t timeoutMs);
    // The error text of an answer that is not OKAY.
    static std::string NotOkayText(const Answer& answer);

    AdbApi& adb_;
    core::Reporter& reporter_;
    platform::Clock& clock_;
    ImageStream image_;
    uint64_t writtenBytes_ = 0;
};

}  // namespace firmora::download
