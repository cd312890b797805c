#include "download/fastboot_client.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <optional>

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

// How many reply bytes a failure message shows in hexadecimal.
constexpr size_t kShownReplyBytes = 16;

// Each byte as a blank and two upper-case hexadecimal digits.
std::string HexBytes(const uint8_t* bytes, size_t count) {
    std::string text;
    char hex[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(hex, sizeof hex, " %02X", bytes[i]);
        text += hex;
    }
    return text;
}

bool StatusIs(const uint8_t* bytes, uint32_t count, const char* status) {
    return count >= kReplyStatusBytes && std::memcmp(bytes, status, kReplyStatusBytes) == 0;
}

// The byte count of a "DATA" reply: hexadecimal digits, all of the rest.
std::optional<uint64_t> AnnouncedSize(const std::string& text) {
    const char* first = text.data() + kReplyStatusBytes;
    const char* last = text.data() + text.size();
    uint64_t size = 0;
    const auto [end, error] = std::from_chars(first, last, size, 16);
    if (first == last || error != std::errc() || end != last) return std::nullopt;
    return size;
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
    const Answer answer = ReadAnswer(kHandshakeReplyTimeoutMs);
    if (answer.kind == Answer::Kind::NotRead) {
        reporter_.ReportError("Receive handshake command failed.");
        return false;
    }
    // Only "DATA" with the very size asked for lets the image follow: after
    // a refusal, or with another size in mind, the device would take image
    // bytes for commands.
    const std::string text = answer.Text();
    if (answer.kind == Answer::Kind::Data && AnnouncedSize(text) == byteCount) {
        Report("ImageHandshakeCmd successfully");
        return true;
    }
    platform::SetLastError(0);  // the device's word; the system has nothing to add
    std::string failure = "Receive handshake command failed. " + text;
    if (answer.kind == Answer::Kind::Data) failure += " (" + std::to_string(byteCount) + " bytes announced)";
    reporter_.ReportError(failure);
    return false;
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

std::string FastbootClient::Answer::Text() const {
    std::string text;
    for (uint32_t i = 0; i < count; ++i) text += Shown(bytes[i]);
    return text;
}

FastbootClient::Answer FastbootClient::ReadAnswer(uint32_t timeoutMs) {
    const uint64_t start = clock_.TickCount();
    for (;;) {
        Answer answer;
        const uint64_t spent = clock_.TickCount() - start;
        if (spent >= timeoutMs) {
            platform::SetLastError(ETIMEDOUT);  // INFO lines used up the time
            return answer;
        }
        const bool read = adb_.ReadEndpointSync(answer.bytes.data(), kReplyBytes, answer.count,
                                                static_cast<uint32_t>(timeoutMs - spent));
        Log(std::string("pAdbReadEndpointSync ") + (read ? "T: " : "F: ") + Shown(answer.bytes[0]) + " " +
            Shown(answer.bytes[1]) + " " + std::to_string(answer.count));
        if (!read) return answer;
        const uint8_t* bytes = answer.bytes.data();
        if (StatusIs(bytes, answer.count, "INFO")) {
            Report("(bootloader) " + answer.Text().substr(kReplyStatusBytes));
            continue;
        }
        // A bare "OK" has always been taken as the answer too.
        const bool okay = StatusIs(bytes, answer.count, "OKAY") ||
                          (answer.count == 2 && bytes[0] == 'O' && bytes[1] == 'K');
        answer.kind = okay                                    ? Answer::Kind::Okay
                      : StatusIs(bytes, answer.count, "FAIL") ? Answer::Kind::Fail
                      : StatusIs(bytes, answer.count, "DATA") ? Answer::Kind::Data
                                                              : Answer::Kind::Other;
        return answer;
    }
}

std::string FastbootClient::NotOkayText(const Answer& answer) {
    return "Could not read OKAY reply. Read value: " + HexBytes(answer.bytes.data(), kShownReplyBytes);
}

bool FastbootClient::ReceiveOkayReply() {
    const Answer answer = ReadAnswer(kReplyTimeoutMs);
    if (answer.kind == Answer::Kind::Okay) {
        Log("ReceiveOKEYReplay.");
        return true;
    }
    if (answer.kind != Answer::Kind::NotRead) {
        // A refusal is the device's word, not a system error: no stale code goes with it.
        platform::SetLastError(0);
        Report("The device answered: " + answer.Text());
    }
    reporter_.ReportError(NotOkayText(answer));
    return false;
}

bool FastbootClient::ReceiveEraseReply(const std::string& partition) {
    const Answer answer = ReadAnswer(kReplyTimeoutMs);
    if (answer.kind == Answer::Kind::Okay) {
        Log("ReceiveOKEYReplay.");
        return true;
    }
    Log(NotOkayText(answer));
    // Not the run's failure, but never to be mistaken for a done erase.
    const std::string what = answer.kind == Answer::Kind::NotRead ? "no answer" : answer.Text();
    if (Healthy()) {
        reporter_.ReportStatus("Warning: the erase of " + partition + " was not confirmed (" + what +
                                   "); going on after a pause",
                               core::kReportInfo);
    }
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
    if (Healthy() && ReceiveEraseReply(partition)) Log("Erase partiton successfully.");
}

}  // namespace firmora::download
