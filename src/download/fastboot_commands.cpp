#include "download/fastboot_commands.h"

#include <algorithm>
#include <cstdio>

namespace firmora::download {

std::string DownloadCommand(uint32_t byteCount) {
    char text[24];
    std::snprintf(text, sizeof text, "download:%08x", static_cast<unsigned>(byteCount));
    return text;
}

std::string PacketFlashCommand(const std::string& partition, uint32_t packetIndex) {
    // One digit is all the boot loader reads; it takes a 9 after packet 9 as the next packet.
    const char digit = static_cast<char>('0' + std::min<uint32_t>(packetIndex, 9));
    return std::string("mutilflash:") + digit + ":" + partition;
}

const FixedFlashCommand& CommandOf(FixedFlash flash) {
    static const FixedFlashCommand kCommands[] = {
        {"flash:boot", "BootImageWriteFinishedCmd", kFixedFlashTimeoutMs},
        {"flash:primary", "Primary_gptImageWriteFinishedCmd", kFixedFlashTimeoutMs},
        {"flash:secondary", "SecondaryImage_gptWriteFinishedCmd", kFixedFlashTimeoutMs},
        {"flash:kernel", "zImageImageWriteFinishedCmd", kFixedFlashTimeoutMs},
        {"flash:ramdisk", "RamdisImagekWriteFinishedCmd", kFixedFlashTimeoutMs},
        {"flash:system", "SystemImageWriteFinishedCmd", kFlashWriteTimeoutMs},
        {"flash:recovery", "RecoveryImageWriteFinishedCmd", kFixedFlashTimeoutMs},
        {"flash:userdata", "UserdataImageWriteFinishedCmd", kFixedFlashTimeoutMs},
        {"flash:reckernel", "SplashImageWriteFinishedCmd", kFixedFlashTimeoutMs},
    };
    return kCommands[static_cast<int>(flash)];
}

const PacketLayout& LayoutOf(PacketStream stream) {
    static const PacketLayout kSystem{"system", 67'108'800, 10};
    static const PacketLayout kEntry{"qdsp", 10'895'360, 50};
    return stream == PacketStream::System ? kSystem : kEntry;
}

}  // namespace firmora::download
