#include "download/fastboot_client.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>

#include "platform/last_error.h"

namespace firmora::download {

namespace {

// The file's name without its folder (either separator).
std::string BaseName(const std::string& path) {
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// A reply byte as a log character; bytes that would garble the log show as '.'.
char Shown(uint8_t byte) { return byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : '.'; }

// Reply text for a message: printable up to the bytes read.
std::string ReplyText(const uint8_t* bytes, uint32_t count) {
    std::string text;
    for (uint32_t i = 0; i < count; ++i) text += Shown(bytes[i]);
    return text;
}

// Each byte as a blank and two upper-case hexadecimal digits.
template <size_t N>
std::string HexBytes(const std::array<uint8_t, N>& bytes) {
    std::string text;
    char hex[4];
    for (uint8_t byte : bytes) {
        std::snprintf(hex, sizeof hex, " %02X", byte);
        text += hex;
    }
    return text;
}

}  // namespace

FastbootClient::FastbootClient(AdbApi& adb, core::Reporter& reporter, platform::Clock& clock)
    : adb_(adb), reporter_(reporter), clock_(clock) {}

void FastbootClient::Log(const std::string& text) { reporter_.ReportStatus(text, core::kReportTrace); }

void FastbootClient::Report(const std::string& text) {
    if (Healthy()) reporter_.ReportStatus(text, core::kReportInfo);
}

// --- Connection -------------------------------------------------------------

bool FastbootClient::ConnectAdbInterface(const std::string& devicePath) {
    return adb_.CreateInterfaceByName(devicePath);
}

bool FastbootClient::InitAdbConnection() {
    std::string name;
    platform::UsbInterfaceDescriptor descriptor;
    platform::UsbEndpointInformation readInfo;
    platform::UsbEndpointInformation writeInfo;
    const std::pair<std::function<bool()>, const char*> steps[] = {
        {[&] { return adb_.GetInterfaceName(name); }, "Get adb infterface name failed."},
        {[&] { return adb_.GetUsbInterfaceDescriptor(descriptor); }, "Get adb USB interface descriptor failed."},
        {[&] { return adb_.GetDefaultBulkReadEndpointInformation(readInfo); },
         "Get default bulk read endpoint information failed."},
        {[&] { return adb_.GetDefaultBulkWriteEndpointInformation(writeInfo); },
         "Get default bulk write endpoint information failed."},
        {[&] { return adb_.OpenDefaultBulkReadEndpoint(); }, "Open default bulk read endpoint failed."},
        {[&] { return adb_.OpenDefaultBulkWriteEndpoint(); }, "Open default bulk write endpoint failed."},
    };
    for (const auto& [step, failureText] : steps) {
        if (!step()) {
            reporter_.ReportError(failureText);
            return false;
        }
    }
    Report("Open and initialize adb connection successfully");
    return true;
}

bool FastbootClient::CloseAdbConnection() {
    if (!adb_.CloseWriteEndpoint()) {
        reporter_.ReportError("Close endpoint(write) handle failure");
        return false;
    }
    if (!adb_.CloseReadEndpoint()) {
        reporter_.ReportError("Close endpoint(read) handle failure");
        return false;
    }
    if (!adb_.CloseInterface()) {
        reporter_.ReportError("Close adb interface handle failure");
        return false;
    }
    Report("Close adb connection successfully");
    return true;
}

// --- Commands and replies ---------------------------------------------------

bool FastbootClient::SendCommand(const std::string& command, uint32_t timeoutMs) {
    uint32_t written = 0;
    const auto length = static_cast<uint32_t>(command.size());
    return adb_.WriteEndpointSync(reinterpret_cast<const uint8_t*>(command.data()), length, written, timeoutMs) &&
           written == length;
}

bool FastbootClient::Command(const std::string& command, uint32_t timeoutMs, const std::string& failureText,
                             const std::string& successText) {
    if (!SendCommand(command, timeoutMs)) {
        reporter_.ReportError(failureText);
        return false;
    }
    Report(successText);
    return true;
}

bool FastbootClient::ImageHandshakeCmd(uint32_t byteCount) {
    Log("ImageHandshakeCmd.");
    if (!SendCommand(DownloadCommand(byteCount), kHandshakeWriteTimeoutMs)) {
        reporter_.ReportError("Send handshake command failed.");
        return false;
    }
    std::array<uint8_t, kHandshakeReplyBytes> reply{};
    uint32_t count = 0;
    if (!adb_.ReadEndpointSync(reply.data(), static_cast<uint32_t>(reply.size()), count,
                               kHandshakeReplyTimeoutMs)) {
        reporter_.ReportError("Receive handshake command failed.");
        return false;
    }
    // A refusal must not be followed by the image: the device would take
    // the bytes for commands.
    const std::string text = ReplyText(reply.data(), count);
    if (text.rfind("FAIL", 0) == 0) {
        platform::SetLastError(0);  // the device refused; the system has nothing to add
        reporter_.ReportError("Receive handshake command failed. " + text);
        return false;
    }
    Report("ImageHandshakeCmd successfully");
    return true;
}

bool FastbootClient::ImageBulkWrite(const std::string& filePath, uint32_t byteCount, uint32_t packetIndex,
                                    PacketStream stream) {
    // Packets of a packet-mode entry speak less: their entry reports for them.
    const bool entryPacket = stream == PacketStream::Entry;
    const std::string name = BaseName(filePath);
    Log("ImageBulkWrite.");
    Log(name);
    if (!image_.Open(filePath)) {
        reporter_.ReportError(filePath);
        return false;
    }
    const uint32_t chunks = byteCount / kChunkSize + (byteCount % kChunkSize != 0 ? 1 : 0);
    Log(name + (entryPacket ? " downloading." : " downloading------------"));
    const auto fail = [&](const std::string& text) {
        image_.Close();
        reporter_.ReportError(text);
        return false;
    };
    if (packetIndex > 0 &&
        !image_.Seek(static_cast<uint64_t>(packetIndex) * LayoutOf(stream).packetSize)) {
        return fail("Could not read from BIN file: " + name);
    }

    // The file is read and written a block at a time, but every chunk of the
    // block is accounted for as if it had been a write of its own: the
    // counter, the gauge and a failure's numbers are the same as with one
    // write per chunk.
    uint32_t sent = 0;
    uint32_t chunkNumber = 0;
    const auto writeBlock = [&](const uint8_t* data, uint32_t length) {
        uint32_t written = 0;
        const bool wrote = adb_.WriteEndpointSync(data, length, written, kChunkWriteTimeoutMs);
        // At least one chunk: an empty image is one empty transfer.
        uint32_t offset = 0;
        do {
            const uint32_t chunk = std::min(kChunkSize, length - offset);
            if (chunk > 0) ++chunkNumber;
            const bool last = offset + chunk == length;
            // Only the last chunk of a failed write shares its failure; the
            // chunks the transport moved before it arrived whole.
            const uint32_t chunkWritten = written > offset ? std::min(chunk, written - offset) : 0;
            const bool chunkWrote = wrote || !last;
            const bool partial = chunkWritten != chunk;
            if (!chunkWrote || partial) {
                // The transport failed somewhere in this chunk (or reported it short).
                if (!wrote) {
                    Log("pAdbWriteEndpointSync F: " + std::to_string(chunks) + " " + std::to_string(chunkNumber) +
                        " " + std::to_string(writtenBytes_ + chunk) + " " + std::to_string(chunk) + " " +
                        std::to_string(chunkWritten));
                }
                const std::string text =
                    "ImageBulkWrite failure(retry): " + name + " " + std::to_string(chunkNumber);
                Log(text);
                return fail(text);
            }
            if (chunk > 0) {
                writtenBytes_ += chunk;
                reporter_.AddWrittenBytes(chunk);
            }
            offset += chunk;
        } while (offset < length);
        sent += length;
        return true;
    };

    do {
        const uint32_t wanted = std::min(kImageWriteBytes, byteCount - sent);
        const uint8_t* data = nullptr;
        size_t got = 0;
        const bool read = image_.Next(wanted, data, got);
        if (read && got == wanted) {
            if (!writeBlock(data, wanted)) return false;
            continue;
        }
        // A file that ends before the announced count is as unreadable as a
        // failing read: what the device would get is not the image. The
        // whole chunks before the shortfall still go out first.
        const auto whole = static_cast<uint32_t>(got / kChunkSize * kChunkSize);
        if (whole > 0 && !writeBlock(data, whole)) return false;
        if (read) platform::SetLastError(EIO);
        return fail("Could not read from BIN file: " + name);
    } while (sent < byteCount && Healthy());
    image_.Close();
    if (!Healthy()) return false;
    if (!entryPacket) Report("ImageBulkWrite successfully");
    return true;
}

FastbootClient::ReplyRead FastbootClient::ReadReply(std::string& failureText) {
    std::array<uint8_t, kReplyBytes> reply{};
    uint32_t count = 0;
    const bool read = adb_.ReadEndpointSync(reply.data(), static_cast<uint32_t>(reply.size()), count,
                                            kReplyTimeoutMs);
    Log(std::string("pAdbReadEndpointSync ") + (read ? "T: " : "F: ") + Shown(reply[0]) + " " + Shown(reply[1]) +
        " " + std::to_string(count));
    if (read && count >= 2 && reply[0] == 'O' && reply[1] == 'K') {
        Log("ReceiveOKEYReplay.");
        return ReplyRead::Okay;
    }
    failureText = "Could not read OKAY reply. Read value: " + HexBytes(reply);
    return read ? ReplyRead::NotOkay : ReplyRead::Failed;
}

bool FastbootClient::ReceiveOkayReply() {
    std::string failureText;
    const ReplyRead result = ReadReply(failureText);
    if (result == ReplyRead::Okay) return true;
    // A refusal is the device's word, not a system error: no stale code goes with it.
    if (result == ReplyRead::NotOkay) platform::SetLastError(0);
    reporter_.ReportError(failureText);
    return false;
}

bool FastbootClient::ReceiveEraseReply() {
    std::string failureText;
    if (ReadReply(failureText) == ReplyRead::Okay) return true;
    Log(failureText);
    clock_.Sleep(kEraseReplyPauseMs);
    return false;
}

bool FastbootClient::WriteFinishedCmd(const std::string& partition) {
    Log("WriteFinishedCmd.");
    return Command("flash:" + partition, kFlashWriteTimeoutMs, "WriteFinishedCmd failure",
                   "WriteFinishedCmd successfully");
}

bool FastbootClient::EraseCmd(const std::string& partition) {
    return Command("erase:" + partition, kFlashWriteTimeoutMs, "EraseCmd failure", "EraseCmd successfully");
}

bool FastbootClient::FixedFlashCmd(FixedFlash flash) {
    const FixedFlashCommand& c = CommandOf(flash);
    const std::string name = c.name;
    Log(name + ".");
    return Command(c.command, c.timeoutMs, name + " failure", name + " successfully");
}

bool FastbootClient::PacketFlashCmd(const std::string& partition, uint32_t packetIndex) {
    const std::string command = PacketFlashCommand(partition, packetIndex);
    if (partition == LayoutOf(PacketStream::System).partition) {
        Log("SystemImageWriteFinishedCmd.");
        return Command(command, kFlashWriteTimeoutMs, "SystemImageWriteFinishedCmd failure",
                       "SystemImageWritePacketFinishedCmd successfully");
    }
    Log("WriteFinishedCmd.");
    return Command(command, kFlashWriteTimeoutMs, "WriteFinishedCmd failure", "WriteFinishedCmd successfully");
}

bool FastbootClient::RebootDeviceCmd() {
    return Command("reboot", kFixedFlashTimeoutMs, "reboot device failure", "RebootDeviceCmd successfully");
}

// --- Sequences --------------------------------------------------------------

void FastbootClient::FlashImage(const std::string& filePath, uint32_t byteCount, const FlashOperation& flash) {
    if (Healthy()) ImageHandshakeCmd(byteCount);
    if (Healthy()) ImageBulkWrite(filePath, byteCount, 0);
    if (Healthy()) ReceiveOkayReply();
    if (Healthy()) flash();
    if (Healthy()) ReceiveOkayReply();
}

void FastbootClient::FlashImageInPackets(const std::string& filePath, uint32_t fileSize, PacketStream stream) {
    const PacketLayout& layout = LayoutOf(stream);
    const uint64_t capacity = static_cast<uint64_t>(layout.packetSize) * layout.maxPackets;
    // The device numbers only so many packets; sending the first of them and
    // calling the image written would leave the partition cut short.
    if (fileSize > capacity) {
        platform::SetLastError(0);
        reporter_.ReportError("Image too large for " + std::to_string(layout.maxPackets) + " packets of " +
                              std::to_string(layout.packetSize) + " bytes: " + BaseName(filePath));
        return;
    }
    for (uint32_t i = 0; i < layout.maxPackets && Healthy(); ++i) {
        const uint64_t offset = static_cast<uint64_t>(i) * layout.packetSize;
        if (offset > fileSize) break;
        // An exact multiple of the packet size ends with an empty packet.
        const auto length = static_cast<uint32_t>(std::min<uint64_t>(layout.packetSize, fileSize - offset));
        if (stream == PacketStream::System) Log("Packet " + std::to_string(i) + " length " + std::to_string(length));
        const bool committed = ImageHandshakeCmd(length) && Healthy() && ImageBulkWrite(filePath, length, i, stream) &&
                               Healthy() && ReceiveOkayReply() && Healthy() && PacketFlashCmd(layout.partition, i) &&
                               Healthy() && ReceiveOkayReply();
        if (!committed) return;
    }
}

void FastbootClient::EraseEntry(const std::string& partition) {
    Log(partition);
    if (Healthy()) EraseCmd(partition);
    // An erase without its "OKAY" does not fail the run, but is not logged as done either.
    if (Healthy() && ReceiveEraseReply()) Log("Erase partiton successfully.");
}

}  // namespace firmora::download
