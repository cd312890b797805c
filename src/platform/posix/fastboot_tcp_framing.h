#pragma once
// The byte framing of the fastboot "tcp:" transport, apart from the sockets:
// the handshake ("FB" and a two-digit version, "00" refused) and messages of
// an 8-byte big-endian length followed by the payload. Used by the host's
// transport and by firmora-sim's device end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace firmora::platform {

inline constexpr size_t kFastbootTcpHelloBytes = 4;
inline constexpr size_t kFastbootTcpHeaderBytes = 8;
inline constexpr std::array<uint8_t, kFastbootTcpHelloBytes> kFastbootTcpHello = {'F', 'B', '0', '1'};

// Whether four bytes are a hello either end accepts.
bool IsFastbootTcpHello(std::span<const uint8_t, kFastbootTcpHelloBytes> hello);

std::array<uint8_t, kFastbootTcpHeaderBytes> FastbootTcpHeader(uint64_t payloadBytes);
uint64_t FastbootTcpPayloadBytes(std::span<const uint8_t, kFastbootTcpHeaderBytes> header);

// The receiving end's buffer: bytes come in as the socket gives them and
// leave as whole messages. A message's length is checked against what the
// reader can take before any room is made for it, so a length a broken peer
// sends is never allocated.
class FastbootTcpReceiver {
public:
    // What the buffered bytes allow for a reader that takes at most `limit` bytes.
    enum class Next {
        NeedBytes,  // wait until `needed` bytes are buffered
        Message,    // a whole message is buffered: TakeMessage
        TooLong,    // the next message is longer than `limit`
    };
    Next Look(uint64_t limit, size_t& needed) const;
    // Copies the payload of the whole message Look found into `out` and drops
    // it from the buffer; its size.
    size_t TakeMessage(uint8_t* out);

    size_t Buffered() const { return bytes_.size() - at_; }
    // Takes `length` buffered bytes into `out` (or drops them when null).
    void Consume(uint8_t* out, size_t length);
    // Room for a receive of `length` bytes after what is buffered; Received
    // keeps the first `count` of them.
    std::span<uint8_t> Room(size_t length);
    void Received(size_t count);

private:
    std::vector<uint8_t> bytes_;  // received bytes not yet handed out, from at_ on
    size_t at_ = 0;
    size_t room_ = 0;  // bytes of Room not yet received into
};

}  // namespace firmora::platform
