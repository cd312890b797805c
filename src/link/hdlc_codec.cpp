#include "link/hdlc_codec.h"

#include "link/crc16.h"

namespace firmora::link {

HdlcEscaped HdlcEscapeByte(uint8_t byte) {
    if (byte == kHdlcFlag || byte == kHdlcEscape) {
        return {{kHdlcEscape, static_cast<uint8_t>(byte ^ kHdlcEscapeXor)}, 2};
    }
    return {{byte, 0}, 1};
}

std::vector<uint8_t> EncodeHdlcFrame(std::span<const uint8_t> packet, bool leadingFlag) {
    std::vector<uint8_t> frame;
    frame.reserve(packet.size() * 2 + 6);
    if (leadingFlag) frame.push_back(kHdlcFlag);
    auto append = [&frame](uint8_t byte) {
        const HdlcEscaped e = HdlcEscapeByte(byte);
        frame.insert(frame.end(), e.bytes, e.bytes + e.size);
    };
    for (uint8_t byte : packet) append(byte);
    const uint16_t crc = Crc16X25(packet);
    append(static_cast<uint8_t>(crc & 0xFF));
    append(static_cast<uint8_t>(crc >> 8));
    frame.push_back(kHdlcFlag);
    return frame;
}

HdlcDeframer::HdlcDeframer(Start start, size_t capacity) : start_(start), capacity_(capacity) {
    stored_.reserve(capacity);
}

void HdlcDeframer::Reset() {
    status_ = Status::Hunting;
    error_ = HdlcError::None;
    flagSeen_ = false;
    escaped_ = false;
    crc_ = kCrc16X25Init;
    stored_.clear();
}

void HdlcDeframer::Reset(Start start) {
    start_ = start;
    Reset();
}

HdlcDeframer::Status HdlcDeframer::Fail(HdlcError error) {
    error_ = error;
    return status_ = Status::Failed;
}

HdlcDeframer::Status HdlcDeframer::Feed(uint8_t byte) {
    if (status_ == Status::Complete || status_ == Status::Failed) Reset();

    // The byte after an escape is data whatever its value, a flag included.
    if (escaped_) {
        escaped_ = false;
        return Take(static_cast<uint8_t>(byte ^ kHdlcEscapeXor));
    }
    if (status_ == Status::Hunting) {
        if (byte == kHdlcFlag) {
            flagSeen_ = true;
            return status_;
        }
        if (start_ == Start::AfterFlag && !flagSeen_) return status_;
        status_ = Status::InFrame;
        crc_ = kCrc16X25Init;
    } else if (byte == kHdlcFlag) {
        if (stored_.size() < 3) return Fail(HdlcError::TooShort);
        if (crc_ != kCrc16X25GoodResidue) return Fail(HdlcError::BadCrc);
        return status_ = Status::Complete;
    }
    if (byte == kHdlcEscape) {
        escaped_ = true;
        return status_;
    }
    return Take(byte);
}

HdlcDeframer::Status HdlcDeframer::Take(uint8_t byte) {
    if (stored_.size() >= capacity_) return Fail(HdlcError::TooLong);
    stored_.push_back(byte);
    crc_ = Crc16X25Step(crc_, byte);
    return status_;
}

std::span<const uint8_t> HdlcDeframer::Packet() const {
    if (status_ != Status::Complete) return {};
    return std::span<const uint8_t>(stored_).first(stored_.size() - kHdlcCrcBytes);
}

HdlcDecoded DecodeHdlcFrame(std::span<const uint8_t> bytes) {
    HdlcDeframer deframer;
    for (uint8_t byte : bytes) {
        switch (deframer.Feed(byte)) {
            case HdlcDeframer::Status::Complete: {
                const auto packet = deframer.Packet();
                return {HdlcError::None, std::vector<uint8_t>(packet.begin(), packet.end())};
            }
            case HdlcDeframer::Status::Failed:
                return {deframer.error(), {}};
            default:
                break;
        }
    }
    return {HdlcError::Incomplete, {}};
}

}  // namespace firmora::link
