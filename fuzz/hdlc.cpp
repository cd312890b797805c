// HDLC deframing and CRC-16/X-25 over bytes from the Diag port.
//
// Properties: a frame that deframes re-frames to the same packet, and to the
// same bytes when the sender escaped only the two reserved values; the
// whole-buffer decoder agrees with the byte-at-a-time deframer; every
// accepted frame's register ends at the good residue; the table-free CRC of
// the standard agrees with the tool's; and any packet framed by the tool
// deframes to itself.

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "link/crc16.h"
#include "link/hdlc_codec.h"

namespace {

using firmora::link::HdlcDeframer;

// CRC-16/X-25 bit by bit, as RFC 1662 writes it.
uint16_t ReferenceCrc(std::span<const uint8_t> bytes) {
    uint16_t reg = 0xFFFF;
    for (uint8_t byte : bytes) {
        reg ^= byte;
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1) ? static_cast<uint16_t>((reg >> 1) ^ 0x8408) : reg >> 1;
    }
    return static_cast<uint16_t>(~reg);
}

// True when every escape in the frame's bytes escapes a reserved value.
bool OnlyReservedEscaped(std::span<const uint8_t> wire) {
    for (size_t i = 0; i + 1 < wire.size(); ++i) {
        if (wire[i] != firmora::link::kHdlcEscape) continue;
        const uint8_t escaped = wire[i + 1] ^ firmora::link::kHdlcEscapeXor;
        if (escaped != firmora::link::kHdlcFlag && escaped != firmora::link::kHdlcEscape) return false;
        ++i;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace firmora::link;
    const std::span<const uint8_t> bytes(data, size);

    FUZZ_CHECK(Crc16X25(bytes) == ReferenceCrc(bytes));

    // The tool's own frames always come back whole.
    if (size + kHdlcCrcBytes <= kHdlcMaxFrameBytes && size >= 1) {
        const HdlcDecoded own = DecodeHdlcFrame(EncodeHdlcFrame(bytes, size % 2 == 0));
        FUZZ_CHECK(own.ok());
        FUZZ_CHECK(own.packet == std::vector<uint8_t>(bytes.begin(), bytes.end()));
    }

    // Received bytes, frame by frame.
    const HdlcDecoded first = DecodeHdlcFrame(bytes);
    HdlcDeframer deframer;
    bool firstSeen = false;
    size_t frameStart = 0;  // where the bytes of the current frame began on the wire
    for (size_t i = 0; i < size; ++i) {
        const HdlcDeframer::Status before = deframer.status();
        if (before != HdlcDeframer::Status::InFrame) frameStart = i;
        const HdlcDeframer::Status status = deframer.Feed(bytes[i]);
        if (status == HdlcDeframer::Status::Hunting) frameStart = i + 1;
        if (status == HdlcDeframer::Status::Complete) {
            const auto stored = deframer.Stored();
            const auto packet = deframer.Packet();
            FUZZ_CHECK(stored.size() >= 3 && stored.size() <= kHdlcMaxFrameBytes);
            FUZZ_CHECK(packet.size() + kHdlcCrcBytes == stored.size());
            FUZZ_CHECK(Crc16X25Update(kCrc16X25Init, stored) == kCrc16X25GoodResidue);
            const std::vector<uint8_t> reframed = EncodeHdlcFrame(packet);
            const HdlcDecoded again = DecodeHdlcFrame(reframed);
            FUZZ_CHECK(again.ok() && std::vector<uint8_t>(packet.begin(), packet.end()) == again.packet);
            const auto wire = bytes.subspan(frameStart, i + 1 - frameStart);
            if (OnlyReservedEscaped(wire)) {
                FUZZ_CHECK(std::vector<uint8_t>(wire.begin(), wire.end()) == reframed);
            }
            if (!firstSeen) FUZZ_CHECK(first.ok() && first.packet == again.packet);
        }
        if (status == HdlcDeframer::Status::Failed) {
            FUZZ_CHECK(deframer.error() != HdlcError::None);
            if (!firstSeen) FUZZ_CHECK(!first.ok() && first.error == deframer.error());
        }
        if (status == HdlcDeframer::Status::Complete || status == HdlcDeframer::Status::Failed) firstSeen = true;
    }
    if (!firstSeen) FUZZ_CHECK(first.error == HdlcError::Incomplete);
    return 0;
}
