#pragma once
// HdlcFramer: the worker's DIAG framing on the diagnostic channel. It builds
// the outgoing frame in one packet buffer, sends it, and reads incoming frames
// back one byte at a time, checking their CRC. It knows nothing about what
// the packets mean; the framing rules themselves live in hdlc_codec.h.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/reporter.h"
#include "link/hdlc_codec.h"
#include "link/serial_channel.h"
#include "platform/clock.h"

namespace firmora::link {

// How a read ended.
enum class FrameReadOutcome : uint8_t { Frame, BadCrc, TooShort, TooLong, TimedOut, Stopped, DeviceGone };

// The result of one of the four readers. `code` is the reader's numeric
// result: on success the byte count (frame readers) or the response code
// (response readers), otherwise one of the failure codes below. The two
// overlap (a 5-byte frame and "too long" are both 5), so decide on `outcome`.
struct FrameReadResult {
    FrameReadOutcome outcome = FrameReadOutcome::TimedOut;
    uint16_t code = 0;
    bool ok() const { return outcome == FrameReadOutcome::Frame; }
};

inline constexpr uint16_t kFrameBadCrc = 1;
inline constexpr uint16_t kFrameTooShort = 4;
inline constexpr uint16_t kFrameTooLong = 5;
inline constexpr uint16_t kFrameStopped = 0xFFFE;  // RunStatus left 0 while waiting
inline constexpr uint16_t kFrameDeviceGone = 0xFFFD;  // the port's device has gone
inline constexpr uint16_t kFrameTimedOut = 0xFF;  // ReadFrame
inline constexpr uint16_t kResponseTimedOut = 7;  // ReadResponseTimed (and a bounded ReadResponse)
// Response codes.
inline constexpr uint16_t kResponseAck = 0;  // 02 and its CRC
inline constexpr uint16_t kResponseUnknown = 0xFF;  // any other frame

// The response code of a received frame (packet and CRC): 0 for an
// acknowledgement, the reason of a negative acknowledgement (03, reason high
// byte first), 0xFF for anything else.
uint16_t ResponseCode(std::span<const uint8_t> frame);

class HdlcFramer {
public:
    // The packet buffer: escaped packet plus escaped CRC may take this much;
    // the trailing flag is stored after it.
    static constexpr size_t kPacketArea = 36863;
    static constexpr size_t kPacketContentLimit = 36858;
    // The timed readers give up once more than this has passed since the call.
    static constexpr uint64_t kTimedReadLimitMs = 4999;

    HdlcFramer(SerialChannel& channel, platform::Clock& clock, core::Reporter& reporter);

    // Building: BeginPacket, AppendByte per packet byte, FinishPacket.
    void BeginPacket();
    // Appends one packet byte, escaped when reserved. False (nothing appended)
    // once the content would pass its limit; the packet is then overflowed.
    bool AppendByte(uint8_t byte);
    void AppendBytes(std::span<const uint8_t> bytes);
    // Appends the escaped CRC and the trailing flag. An overflowed packet is
    // replaced by the fixed frame 03 00 03 33 1B 7E (packet 03 00 03), which a
    // device refuses, instead of going out cut short.
    void FinishPacket();
    // BeginPacket, AppendBytes, FinishPacket.
    void BuildPacket(std::span<const uint8_t> packet);

    uint16_t PacketLength() const { return length_; }
    bool PacketOverflowed() const { return overflowed_; }
    // Content and trailing flag of the finished packet: what SendFrame writes.
    std::span<const uint8_t> FinishedFrame() const;

    // Clears the channel's errors ("There is a warning in OutQue: <mask>",
    // kind 1, when there were any), purges both directions and writes the
    // finished frame; the count written.
    size_t SendFrame();
    // The same with one flag in front of the frame.
    size_t SendFrameWithLeadingFlag();

    // Readers. Each clears the channel's errors first ("There is a warning in
    // InQue: <mask>", kind 1) and reads single bytes. Each ends at once when
    // the run stops or the port's device has gone.
    // Frame readers: leading flags optional; success code = bytes stored;
    // both time-limited (time-out code 0xFF), so that a silent device
    // cannot hold an unattended run.
    FrameReadResult ReadFrame();
    FrameReadResult ReadFrameWhole();  // stores the closing flag too
    // Response readers: a flag must come first; success code = ResponseCode.
    // ReadResponse waits until a frame or the run stops, or at most
    // `limitMs` when given (time-out code 7).
    FrameReadResult ReadResponse(std::optional<uint64_t> limitMs = std::nullopt);
    FrameReadResult ReadResponseTimed();  // time-limited; time-out code 7

    // The frame the last successful read stored (packet, CRC and, after
    // ReadFrameWhole, the closing flag). A failed read empties it, so a stale
    // reply is never taken for the answer to a new request.
    std::span<const uint8_t> Received() const { return received_; }
    // The packet of that frame, without CRC and flag.
    std::span<const uint8_t> ReceivedPacket() const;

private:
    FrameReadResult Read(HdlcDeframer::Start start, std::optional<uint64_t> limitMs, bool keepFlag,
                         bool responseCode, uint16_t timeoutCode);
    bool Store(uint8_t byte);
    void ClearErrorsReporting(const char* warning);
    size_t Send(bool leadingFlag);

    SerialChannel& channel_;
    platform::Clock& clock_;
    core::Reporter& reporter_;

    std::array<uint8_t, kPacketArea> packet_{};
    uint16_t length_ = 0;
    bool overflowed_ = false;
    bool finished_ = false;
    uint16_t crc_ = 0xFFFF;

    HdlcDeframer deframer_;
    std::vector<uint8_t> received_;
    size_t receivedPacketLength_ = 0;
};

}  // namespace firmora::link
