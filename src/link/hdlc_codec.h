#pragma once
// The HDLC-like framing of DIAG traffic, as pure functions: a packet becomes
// its escaped bytes, its escaped CRC-16/X-25 (low byte first) and a closing
// flag; received bytes become a packet again once the CRC checks out. Both the
// tool's framer and a simulated device use these, so the two ends can never
// disagree about the wire format.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace firmora::link {

inline constexpr uint8_t kHdlcFlag = 0x7E;
inline constexpr uint8_t kHdlcEscape = 0x7D;
inline constexpr uint8_t kHdlcEscapeXor = 0x20;
// Largest unescaped frame (packet plus CRC) a receiver keeps.
inline constexpr size_t kHdlcMaxFrameBytes = 4096;
// Bytes of CRC after the packet.
inline constexpr size_t kHdlcCrcBytes = 2;

// The wire form of one packet or CRC byte: the byte itself, or for the two
// reserved values the escape byte followed by the byte XOR 0x20.
struct HdlcEscaped {
    uint8_t bytes[2];
    uint8_t size;
};
HdlcEscaped HdlcEscapeByte(uint8_t byte);

// The frame of `packet`: escaped packet, escaped CRC, closing flag; with
// `leadingFlag` one flag in front as well.
std::vector<uint8_t> EncodeHdlcFrame(std::span<const uint8_t> packet, bool leadingFlag = false);

// Why a received frame was refused.
enum class HdlcError : uint8_t {
    None,
    BadCrc,      // the register did not end at the good residue
    TooShort,    // fewer than 3 unescaped bytes (a packet byte and the CRC)
    TooLong,     // more bytes than the receiver keeps
    Incomplete,  // (whole-buffer decoding only) no closing flag
};

// Takes frames apart one received byte at a time.
class HdlcDeframer {
public:
    // Where a frame may begin.
    enum class Start {
        AnyByte,    // flags are skipped; the first other byte begins the frame
        AfterFlag,  // bytes are discarded until a flag; then as AnyByte
    };
    enum class Status {
        Hunting,   // no frame byte taken yet
        InFrame,   // taking frame bytes
        Complete,  // a valid frame ended with its flag
        Failed,    // a frame was refused, see error()
    };

    explicit HdlcDeframer(Start start = Start::AnyByte, size_t capacity = kHdlcMaxFrameBytes);

    // Takes one byte. After Complete or Failed the next byte starts over with
    // the same start rule.
    Status Feed(uint8_t byte);
    // Starts over, optionally with another start rule.
    void Reset();
    void Reset(Start start);

    Status status() const { return status_; }
    HdlcError error() const { return error_; }
    // The unescaped bytes taken so far: packet and CRC once Complete.
    std::span<const uint8_t> Stored() const { return stored_; }
    // The packet without its CRC (empty unless Complete).
    std::span<const uint8_t> Packet() const;

private:
    Status Take(uint8_t byte);
    Status Fail(HdlcError error);

    Start start_;
    size_t capacity_;
    Status status_ = Status::Hunting;
    HdlcError error_ = HdlcError::None;
    bool flagSeen_ = false;
    bool escaped_ = false;
    uint16_t crc_ = 0xFFFF;
    std::vector<uint8_t> stored_;
};

struct HdlcDecoded {
    HdlcError error = HdlcError::None;
    std::vector<uint8_t> packet;  // without CRC; empty unless error is None
    bool ok() const { return error == HdlcError::None; }
};

// Decodes the first frame in `bytes` (leading flags allowed; anything after
// its closing flag is ignored).
HdlcDecoded DecodeHdlcFrame(std::span<const uint8_t> bytes);

}  // namespace firmora::link
