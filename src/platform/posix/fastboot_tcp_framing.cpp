#include "platform/posix/fastboot_tcp_framing.h"

#include <algorithm>
#include <cstring>

namespace firmora::platform {

bool IsFastbootTcpHello(std::span<const uint8_t, kFastbootTcpHelloBytes> hello) {
    const auto digit = [](uint8_t b) { return b >= '0' && b <= '9'; };
    return hello[0] == 'F' && hello[1] == 'B' && digit(hello[2]) && digit(hello[3]) &&
           !(hello[2] == '0' && hello[3] == '0');
}

std::array<uint8_t, kFastbootTcpHeaderBytes> FastbootTcpHeader(uint64_t payloadBytes) {
    std::array<uint8_t, kFastbootTcpHeaderBytes> header{};
    for (size_t i = kFastbootTcpHeaderBytes; i-- > 0; payloadBytes >>= 8) {
        header[i] = static_cast<uint8_t>(payloadBytes & 0xFF);
    }
    return header;
}

uint64_t FastbootTcpPayloadBytes(std::span<const uint8_t, kFastbootTcpHeaderBytes> header) {
    uint64_t size = 0;
    for (uint8_t byte : header) size = (size << 8) | byte;
    return size;
}

FastbootTcpReceiver::Next FastbootTcpReceiver::Look(uint64_t limit, size_t& needed) const {
    needed = kFastbootTcpHeaderBytes;
    if (Buffered() < needed) return Next::NeedBytes;
    const uint64_t size =
        FastbootTcpPayloadBytes(std::span<const uint8_t>(bytes_).subspan(at_).first<kFastbootTcpHeaderBytes>());
    // Not waited for: the length may be anything a broken peer sends.
    if (size > limit) return Next::TooLong;
    // The header stays buffered until the whole message is, so that a reader
    // that gives up waiting leaves the stream framed.
    needed = kFastbootTcpHeaderBytes + static_cast<size_t>(size);
    return Buffered() < needed ? Next::NeedBytes : Next::Message;
}

size_t FastbootTcpReceiver::TakeMessage(uint8_t* out) {
    const auto size = static_cast<size_t>(
        FastbootTcpPayloadBytes(std::span<const uint8_t>(bytes_).subspan(at_).first<kFastbootTcpHeaderBytes>()));
    Consume(nullptr, kFastbootTcpHeaderBytes);
    Consume(out, size);
    return size;
}

void FastbootTcpReceiver::Consume(uint8_t* out, size_t length) {
    if (out != nullptr && length > 0) std::memcpy(out, bytes_.data() + at_, length);
    at_ += length;
    if (at_ == bytes_.size()) {
        bytes_.clear();
        at_ = 0;
    }
}

std::span<uint8_t> FastbootTcpReceiver::Room(size_t length) {
    if (at_ > 0) {
        bytes_.erase(bytes_.begin(), bytes_.begin() + static_cast<std::ptrdiff_t>(at_));
        at_ = 0;
    }
    const size_t had = bytes_.size();
    bytes_.resize(had + length);
    room_ = length;
    return std::span<uint8_t>(bytes_).subspan(had);
}

void FastbootTcpReceiver::Received(size_t count) {
    bytes_.resize(bytes_.size() - room_ + std::min(count, room_));
    room_ = 0;
}

}  // namespace firmora::platform
