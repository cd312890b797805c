// The framing of the fastboot "tcp:" transport: the handshake and the
// length-prefixed messages as the host's transport receives them.
//
// Properties: a stream split at any points gives the same messages as the
// same stream received at once, and both are the messages a plain reading of
// the stream finds; a message longer than the reader takes is refused when
// its header arrives, before any room is made for it, and nothing is waited
// for beyond one header and the largest message the reader takes; messages
// framed by the tool come back the same; the hello is "FB" and two digits
// other than "00".

#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz_check.h"
#include "platform/posix/fastboot_tcp_framing.h"

namespace {

using firmora::platform::FastbootTcpReceiver;
using firmora::platform::kFastbootTcpHeaderBytes;
using Bytes = std::vector<uint8_t>;

struct Received {
    std::vector<Bytes> messages;
    bool tooLong = false;

    bool operator==(const Received&) const = default;
};

// The stream read as the transport reads it, arriving in pieces of the sizes
// `pieces` gives in turn (0 for all that is left).
Received Receive(std::span<const uint8_t> stream, uint64_t limit, std::span<const uint8_t> pieces) {
    FastbootTcpReceiver rx;
    Received out;
    size_t at = 0;
    size_t piece = 0;
    for (;;) {
        size_t needed = 0;
        const FastbootTcpReceiver::Next next = rx.Look(limit, needed);
        if (next == FastbootTcpReceiver::Next::TooLong) {
            out.tooLong = true;
            return out;
        }
        if (next == FastbootTcpReceiver::Next::Message) {
            Bytes message(static_cast<size_t>(limit));
            message.resize(rx.TakeMessage(message.data()));
            out.messages.push_back(std::move(message));
            continue;
        }
        FUZZ_CHECK(needed > rx.Buffered() && needed <= kFastbootTcpHeaderBytes + limit);
        if (at == stream.size()) return out;
        size_t length = stream.size() - at;
        if (!pieces.empty()) {
            if (pieces[piece % pieces.size()] != 0) length = std::min<size_t>(length, pieces[piece % pieces.size()]);
            ++piece;
        }
        // As a receive does: room for what is needed, of which the socket fills some.
        const std::span<uint8_t> room = rx.Room(std::max(needed - rx.Buffered(), length));
        FUZZ_CHECK(room.size() <= std::max(kFastbootTcpHeaderBytes + limit, length));
        std::copy_n(stream.begin() + static_cast<std::ptrdiff_t>(at), length, room.begin());
        rx.Received(length);
        at += length;
    }
}

// The stream read by hand.
Received Plainly(std::span<const uint8_t> stream, uint64_t limit) {
    Received out;
    size_t at = 0;
    while (stream.size() - at >= kFastbootTcpHeaderBytes) {
        uint64_t size = 0;
        for (size_t i = 0; i < kFastbootTcpHeaderBytes; ++i) size = size << 8 | stream[at + i];
        if (size > limit) {
            out.tooLong = true;
            break;
        }
        if (stream.size() - at - kFastbootTcpHeaderBytes < size) break;
        const auto payload = stream.subspan(at + kFastbootTcpHeaderBytes, static_cast<size_t>(size));
        out.messages.emplace_back(payload.begin(), payload.end());
        at += kFastbootTcpHeaderBytes + static_cast<size_t>(size);
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) return 0;
    // The reader's limit, where the pieces' sizes stop and the stream begins.
    const uint64_t limit = static_cast<uint64_t>(data[0] | data[1] << 8) % 2048;
    const size_t pieceCount = std::min<size_t>(data[2] % 16, size - 3);
    const std::span<const uint8_t> pieces(data + 3, pieceCount);
    const std::span<const uint8_t> stream(data + 3 + pieceCount, size - 3 - pieceCount);

    const Received plain = Plainly(stream, limit);
    FUZZ_CHECK(Receive(stream, limit, {}) == plain);
    FUZZ_CHECK(Receive(stream, limit, pieces) == plain);
    const uint8_t single[] = {1};
    FUZZ_CHECK(Receive(stream, limit, single) == plain);

    // What the tool frames comes back the same.
    Bytes framed;
    for (const Bytes& message : plain.messages) {
        const auto header = firmora::platform::FastbootTcpHeader(message.size());
        framed.insert(framed.end(), header.begin(), header.end());
        framed.insert(framed.end(), message.begin(), message.end());
    }
    const Received again = Receive(framed, limit, pieces);
    FUZZ_CHECK(again.messages == plain.messages && !again.tooLong);

    if (stream.size() >= 4) {
        const bool digits = std::all_of(stream.begin() + 2, stream.begin() + 4, [](uint8_t b) { return b >= '0' && b <= '9'; });
        const bool hello = stream[0] == 'F' && stream[1] == 'B' && digits && !(stream[2] == '0' && stream[3] == '0');
        FUZZ_CHECK(firmora::platform::IsFastbootTcpHello(stream.first<4>()) == hello);
    }
    return 0;
}
