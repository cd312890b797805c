#include "link/hdlc_framer.h"

#include <algorithm>
#include <string>

#include "link/crc16.h"

namespace firmora::link {

namespace {

// Sent in place of a packet that did not fit: a device answers it with a
// refusal instead of acting on a truncated request.
constexpr uint8_t kOverflowPacket[] = {0x03, 0x00, 0x03};

}  // namespace

uint16_t ResponseCode(std::span<const uint8_t> frame) {
    if (frame.size() == 3 && frame[0] == 0x02) return kResponseAck;
    if (frame.size() == 5 && frame[0] == 0x03) return static_cast<uint16_t>((frame[1] << 8) | frame[2]);
    return kResponseUnknown;
}

HdlcFramer::HdlcFramer(SerialChannel& channel, platform::Clock& clock, core::Reporter& reporter)
    : channel_(channel), clock_(clock), reporter_(reporter), deframer_(HdlcDeframer::Start::AnyByte) {
    received_.reserve(kHdlcMaxFrameBytes + 1);
}

void HdlcFramer::BeginPacket() {
    length_ = 0;
    overflowed_ = false;
    finished_ = false;
    crc_ = kCrc16X25Init;
}

bool HdlcFramer::Store(uint8_t byte) {
    if (overflowed_) return false;
    const HdlcEscaped e = HdlcEscapeByte(byte);
    if (length_ + e.size > kPacketContentLimit) {
        overflowed_ = true;
        return false;
    }
    std::copy(e.bytes, e.bytes + e.size, packet_.begin() + length_);
    length_ = static_cast<uint16_t>(length_ + e.size);
    return true;
}

bool HdlcFramer::AppendByte(uint8_t byte) {
    if (!Store(byte)) return false;
    crc_ = Crc16X25Step(crc_, byte);
    return true;
}

void HdlcFramer::AppendBytes(std::span<const uint8_t> bytes) {
    for (uint8_t byte : bytes) AppendByte(byte);
}

void HdlcFramer::FinishPacket() {
    const uint16_t crc = static_cast<uint16_t>(~crc_);
    if (Store(static_cast<uint8_t>(crc & 0xFF))) Store(static_cast<uint8_t>(crc >> 8));
    if (overflowed_) {
        const std::vector<uint8_t> replacement = EncodeHdlcFrame(kOverflowPacket);
        std::copy(replacement.begin(), replacement.end(), packet_.begin());
        length_ = static_cast<uint16_t>(replacement.size() - 1);
    }
    packet_[length_] = kHdlcFlag;
    finished_ = true;
}

void HdlcFramer::BuildPacket(std::span<const uint8_t> packet) {
    BeginPacket();
    AppendBytes(packet);
    FinishPacket();
}

std::span<const uint8_t> HdlcFramer::FinishedFrame() const {
    if (!finished_) return {};
    return std::span<const uint8_t>(packet_).first(length_ + 1u);
}

void HdlcFramer::ClearErrorsReporting(const char* warning) {
    const uint32_t mask = channel_.ClearErrors();
    if (mask != 0) reporter_.ReportStatus(warning + std::to_string(mask), core::kReportInfo);
}

size_t HdlcFramer::Send(bool leadingFlag) {
    ClearErrorsReporting("There is a warning in OutQue: ");
    channel_.Purge(platform::kPurgeAll);
    const std::span<const uint8_t> frame = FinishedFrame();
    if (frame.empty()) return 0;
    if (!leadingFlag) return channel_.WriteBytes(frame.data(), frame.size());
    std::vector<uint8_t> out;
    out.reserve(frame.size() + 1);
    out.push_back(kHdlcFlag);
    out.insert(out.end(), frame.begin(), frame.end());
    return channel_.WriteBytes(out.data(), out.size());
}

size_t HdlcFramer::SendFrame() { return Send(false); }
size_t HdlcFramer::SendFrameWithLeadingFlag() { return Send(true); }

FrameReadResult HdlcFramer::ReadFrame() {
    return Read(HdlcDeframer::Start::AnyByte, kTimedReadLimitMs, false, false, kFrameTimedOut);
}

FrameReadResult HdlcFramer::ReadFrameWhole() {
    return Read(HdlcDeframer::Start::AnyByte, kTimedReadLimitMs, true, false, kFrameTimedOut);
}

FrameReadResult HdlcFramer::ReadResponse(std::optional<uint64_t> limitMs) {
    return Read(HdlcDeframer::Start::AfterFlag, limitMs, false, true, kResponseTimedOut);
}

FrameReadResult HdlcFramer::ReadResponseTimed() {
    return Read(HdlcDeframer::Start::AfterFlag, kTimedReadLimitMs, false, true, kResponseTimedOut);
}

std::span<const uint8_t> HdlcFramer::ReceivedPacket() const {
    return std::span<const uint8_t>(received_).first(receivedPacketLength_);
}

FrameReadResult HdlcFramer::Read(HdlcDeframer::Start start, std::optional<uint64_t> limitMs, bool keepFlag,
                                 bool responseCode, uint16_t timeoutCode) {
    ClearErrorsReporting("There is a warning in InQue: ");
    received_.clear();
    receivedPacketLength_ = 0;
    deframer_.Reset(start);
    const uint64_t started = clock_.TickCount();

    for (;;) {
        // Wait for a real byte, the byte after an escape included: a read that
        // timed out contributes nothing, so silence can never turn into data.
        uint8_t byte = 0;
        for (;;) {
            if (limitMs && clock_.TickCount() - started > *limitMs) {
                return {FrameReadOutcome::TimedOut, timeoutCode};
            }
            if (channel_.ReadBytes(&byte, 1) == 1) break;
            if (reporter_.RunStatus() != core::kRunHealthy) return {FrameReadOutcome::Stopped, kFrameStopped};
            if (channel_.DeviceGone()) return {FrameReadOutcome::DeviceGone, kFrameDeviceGone};
        }

        switch (deframer_.Feed(byte)) {
            case HdlcDeframer::Status::Complete: {
                const std::span<const uint8_t> stored = deframer_.Stored();
                received_.assign(stored.begin(), stored.end());
                receivedPacketLength_ = stored.size() - kHdlcCrcBytes;
                if (keepFlag) received_.push_back(kHdlcFlag);
                const uint16_t code =
                    responseCode ? ResponseCode(stored) : static_cast<uint16_t>(received_.size());
                return {FrameReadOutcome::Frame, code};
            }
            case HdlcDeframer::Status::Failed:
                switch (deframer_.error()) {
                    case HdlcError::TooShort: return {FrameReadOutcome::TooShort, kFrameTooShort};
                    case HdlcError::TooLong: return {FrameReadOutcome::TooLong, kFrameTooLong};
                    default: return {FrameReadOutcome::BadCrc, kFrameBadCrc};
                }
            default:
                break;
        }
    }
}

}  // namespace firmora::link
