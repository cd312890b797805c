#include "link/diag_nv_packet.h"

#include <algorithm>

namespace firmora::link {

DiagNvPacket DiagNvRequest(uint8_t command, uint16_t item, std::span<const uint8_t> data, uint16_t status) {
    DiagNvPacket packet{};
    packet[0] = command;
    packet[1] = static_cast<uint8_t>(item & 0xFF);
    packet[2] = static_cast<uint8_t>(item >> 8);
    std::copy_n(data.begin(), std::min(data.size(), kDiagNvItemBytes), packet.begin() + 3);
    packet[kDiagNvPacketBytes - 2] = static_cast<uint8_t>(status & 0xFF);
    packet[kDiagNvPacketBytes - 1] = static_cast<uint8_t>(status >> 8);
    return packet;
}

bool IsDiagNvReplyTo(std::span<const uint8_t> reply, uint8_t command, uint16_t item) {
    return reply.size() >= kDiagNvPacketBytes && reply[0] == command &&
           static_cast<uint16_t>(reply[1] | reply[2] << 8) == item;
}

uint16_t DiagNvReplyStatus(std::span<const uint8_t> reply) {
    return static_cast<uint16_t>(reply[kDiagNvPacketBytes - 2] | reply[kDiagNvPacketBytes - 1] << 8);
}

}  // namespace firmora::link
