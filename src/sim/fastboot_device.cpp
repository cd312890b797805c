#include "sim/fastboot_device.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

#include "package/options_json.h"

namespace firmora::sim {

namespace {
constexpr uint64_t kRebootAfterOkayMs = 50;
}  // namespace


namespace {

constexpr size_t kMaxReply = 256;       // status word plus text
constexpr size_t kLoggedCommand = 64;   // longest command a boot loader takes
constexpr uint64_t kMiB = 1024 * 1024;

[[noreturn]] void Bad(const std::string& key, const std::string& what) {
    throw std::runtime_error("scenario: bootloader." + key + ": " + what);
}

std::string ReadText(const nlohmann::json& value, const std::string& key) {
    if (!value.is_string()) Bad(key, "expected a text");
    return value.get<std::string>();
}

uint64_t ReadCount(const nlohmann::json& value, const std::string& key) {
    if (value.is_number_unsigned()) return value.get<uint64_t>();
    if (value.is_number_integer() && value.get<int64_t>() >= 0) return static_cast<uint64_t>(value.get<int64_t>());
    Bad(key, "expected a non-negative whole number");
}

// A byte count as a number, or as a text in decimal or "0x" hexadecimal.
uint64_t ReadSize(const nlohmann::json& value, const std::string& key) {
    if (!value.is_string()) return ReadCount(value, key);
    const std::string text = value.get<std::string>();
    size_t used = 0;
    uint64_t size = 0;
    try {
        size = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || text[0] == '-') Bad(key, "expected a byte count, got \"" + text + "\"");
    return size;
}

std::string Hex(uint64_t value) {
    char text[24];
    std::snprintf(text, sizeof text, "0x%llx", static_cast<unsigned long long>(value));
    return text;
}

std::string Printable(const std::string& command) {
    std::string text = package::EscapeVisible(std::string_view(command).substr(0, kLoggedCommand));
    if (command.size() > kLoggedCommand) text += "...";
    return text;
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

FastbootSettings FastbootSettings::FromScenario(const nlohmann::json& scenario) {
    FastbootSettings settings;
    if (!scenario.is_object() || !scenario.contains("bootloader")) return settings;
    const nlohmann::json& section = scenario.at("bootloader");
    if (!section.is_object()) throw std::runtime_error("scenario: bootloader: expected an object");
    // Keys not read here belong to the modem's handling of its boot loader personality.
    for (const auto& [key, value] : section.items()) {
        if (key == "product") {
            settings.product = ReadText(value, key);
        } else if (key == "version") {
            settings.version = ReadText(value, key);
        } else if (key == "serialno") {
            settings.serialno = ReadText(value, key);
        } else if (key == "maxDownloadSize") {
            settings.maxDownloadSize = ReadSize(value, key);
        } else if (key == "replyDelayMs") {
            settings.replyDelayMs = ReadCount(value, key);
        } else if (key == "writeMsPerMiB") {
            settings.writeMsPerMiB = ReadCount(value, key);
        } else if (key == "failFlash") {
            if (value.is_string()) {
                settings.failFlash.insert(value.get<std::string>());
            } else if (value.is_array()) {
                for (const auto& name : value) settings.failFlash.insert(ReadText(name, key + "[]"));
            } else {
                Bad(key, "expected a partition name or a list of them");
            }
        } else if (key == "silentDownload") {
            settings.silentDownload = static_cast<unsigned>(ReadCount(value, key));
        } else if (key == "dropAtEntry") {
            settings.dropAtEntry = static_cast<unsigned>(ReadCount(value, key));
        } else if (key == "dropAfterBytes") {
            settings.dropAfterBytes = value.is_null() ? -1 : static_cast<int64_t>(ReadCount(value, key));
        } else if (key == "okayText") {
            settings.okayText = ReadText(value, key);
        } else if (key == "infoLines") {
            if (!value.is_array()) Bad(key, "expected a list of texts");
            for (const auto& line : value) settings.infoLines.push_back(ReadText(line, key + "[]"));
        } else if (key == "splitReplies") {
            settings.splitReplies = static_cast<size_t>(ReadCount(value, key));
        } else if (key == "dataSize") {
            settings.dataSize = value.is_null() ? -1 : static_cast<int64_t>(ReadSize(value, key));
        }
    }
    return settings;
}

FastbootDevice::FastbootDevice(PartitionStore& store, const nlohmann::json& scenario)
    : FastbootDevice(store, FastbootSettings::FromScenario(scenario)) {}

FastbootDevice::FastbootDevice(PartitionStore& store, FastbootSettings settings)
    : store_(store), settings_(std::move(settings)) {}

void FastbootDevice::OnHostMessage(const uint8_t* data, size_t length, DeviceSide& device) {
    switch (mode_) {
        case Mode::Dropped:
            return;
        case Mode::Data:
            OnData(data, length, device);
            return;
        case Mode::Command:
            // A stray empty transfer carries no command.
            if (length > 0) OnCommand(std::string(reinterpret_cast<const char*>(data), length), device);
            return;
    }
}

void FastbootDevice::OnDisconnect() {
    if (mode_ == Mode::Data) store_.DiscardDownload();
    mode_ = Mode::Command;
}

void FastbootDevice::OnCommand(const std::string& command, DeviceSide& device) {
    log_.push_back(Printable(command));
    if (StartsWith(command, "getvar:")) {
        GetVar(command.substr(7), device);
    } else if (StartsWith(command, "download:")) {
        Download(command.substr(9), device);
    } else if (StartsWith(command, "flash:")) {
        Flash(command.substr(6), device);
    } else if (StartsWith(command, "mutilflash:")) {
        PacketFlash(command.substr(11), device);
    } else if (StartsWith(command, "erase:")) {
        Erase(command.substr(6), device);
    } else if (command == "reboot") {
        Reply(device, "OKAY", "");
        // A boot loader finishes the USB transfer of its OKAY before it resets:
        // the host must be able to read the acknowledgement and close its
        // handles before the device leaves the bus.
        device.Request(ModemRequest::Reset, settings_.replyDelayMs + kRebootAfterOkayMs);
    } else {
        Reply(device, "FAIL", "unknown command");
    }
}

void FastbootDevice::Download(const std::string& count, DeviceSide& device) {
    if (++downloads_ == settings_.silentDownload) return;
    if (count.empty() || count.size() > 8 || count.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        Reply(device, "FAIL", "invalid download size");
        return;
    }
    const uint64_t size = std::stoull(count, nullptr, 16);
    // Refused before any byte arrives: the device never buffers more than it offers.
    if (size > settings_.maxDownloadSize) {
        Reply(device, "FAIL", "data too large");
        return;
    }
    // A faulty device may have another size in mind than the one asked for.
    const uint64_t announced = settings_.dataSize >= 0 ? static_cast<uint64_t>(settings_.dataSize) : size;
    char reply[24];
    std::snprintf(reply, sizeof reply, "%08llx", static_cast<unsigned long long>(announced));
    store_.BeginDownload();
    expected_ = announced;
    received_ = 0;
    mode_ = Mode::Data;
    Reply(device, "DATA", reply);
}

void FastbootDevice::OnData(const uint8_t* data, size_t length, DeviceSide& device) {
    size_t take = length;
    bool drop = false;
    if (settings_.dropAfterBytes >= 0 && !droppedAfterBytes_) {
        const uint64_t limit = static_cast<uint64_t>(settings_.dropAfterBytes);
        if (dataTotal_ + length >= limit) {
            take = static_cast<size_t>(limit - dataTotal_);
            drop = true;
            droppedAfterBytes_ = true;
        }
    }
    const uint64_t remaining = expected_ - received_;
    if (take > remaining) {
        // More than announced: the whole transfer is refused and the download with it.
        store_.DiscardDownload();
        mode_ = Mode::Command;
        Reply(device, "FAIL", "too much data");
        return;
    }
    store_.AppendDownload(data, take);
    received_ += take;
    dataTotal_ += take;
    if (drop) {
        DropOffBus(device);
        return;
    }
    if (received_ == expected_) {
        store_.CompleteDownload();
        mode_ = Mode::Command;
        Reply(device, "OKAY", "");
    }
}

void FastbootDevice::Flash(const std::string& partition, DeviceSide& device) {
    if (DropsAtEntry(device)) return;
    const Partition* target = store_.Find(partition);
    if (target != nullptr && settings_.failFlash.count(partition) > 0) {
        Reply(device, "FAIL", "flash write failure");
        return;
    }
    const PartitionStore::Result result = store_.Flash(partition);
    if (result != PartitionStore::Result::Ok) {
        Reply(device, "FAIL", ToString(result));
        return;
    }
    Committed(partition, device, store_.DownloadedBytes());
}

void FastbootDevice::PacketFlash(const std::string& argument, DeviceSide& device) {
    if (DropsAtEntry(device)) return;
    // "<digit>:<partition>"
    if (argument.size() < 3 || argument[0] < '0' || argument[0] > '9' || argument[1] != ':') {
        Reply(device, "FAIL", "invalid packet command");
        return;
    }
    const std::string partition = argument.substr(2);
    const Partition* target = store_.Find(partition);
    if (target == nullptr) {
        Reply(device, "FAIL", ToString(PartitionStore::Result::UnknownPartition));
        return;
    }
    if (settings_.failFlash.count(partition) > 0) {
        Reply(device, "FAIL", "flash write failure");
        return;
    }
    unsigned index = static_cast<unsigned>(argument[0] - '0');
    // A one-digit packet number stops at 9: a 9 after packet 9 is the next packet.
    if (index == 9 && target->packets >= 10) index = target->packets;
    const PartitionStore::Result result = store_.FlashPacket(partition, index);
    if (result != PartitionStore::Result::Ok) {
        Reply(device, "FAIL", ToString(result));
        return;
    }
    Committed(partition, device, store_.DownloadedBytes());
}

void FastbootDevice::Erase(const std::string& partition, DeviceSide& device) {
    if (DropsAtEntry(device)) return;
    const PartitionStore::Result result = store_.Erase(partition);
    if (result != PartitionStore::Result::Ok) {
        Reply(device, "FAIL", ToString(result));
        return;
    }
    Committed(partition, device, 0);
}

void FastbootDevice::Committed(const std::string& partition, DeviceSide& device, uint64_t bytes) {
    Reply(device, "OKAY", "", settings_.writeMsPerMiB * bytes / kMiB);
    if (onPartitionChanged) onPartitionChanged(partition);
}

void FastbootDevice::GetVar(const std::string& name, DeviceSide& device) {
    const auto partitionVariable = [&](const std::string& prefix) -> const Partition* {
        return StartsWith(name, prefix) ? store_.Find(name.substr(prefix.size())) : nullptr;
    };
    if (name == "product") return Reply(device, "OKAY", settings_.product);
    if (name == "version") return Reply(device, "OKAY", settings_.version);
    if (name == "serialno") return Reply(device, "OKAY", settings_.serialno);
    if (name == "max-download-size") return Reply(device, "OKAY", Hex(settings_.maxDownloadSize));
    if (partitionVariable("has-slot:") != nullptr) return Reply(device, "OKAY", "no");
    if (partitionVariable("is-logical:") != nullptr) return Reply(device, "OKAY", "no");
    if (const Partition* p = partitionVariable("partition-type:")) return Reply(device, "OKAY", p->type);
    if (const Partition* p = partitionVariable("partition-size:")) return Reply(device, "OKAY", Hex(p->capacity));
    if (name == "all") {
        Reply(device, "INFO", "product:" + settings_.product);
        Reply(device, "INFO", "version:" + settings_.version);
        Reply(device, "INFO", "serialno:" + settings_.serialno);
        Reply(device, "INFO", "max-download-size:" + Hex(settings_.maxDownloadSize));
        for (const auto& [partition, entry] : store_.partitions()) {
            Reply(device, "INFO", "partition-size:" + partition + ":" + Hex(entry.capacity));
            Reply(device, "INFO", "partition-type:" + partition + ":" + entry.type);
        }
        return Reply(device, "OKAY", "");
    }
    Reply(device, "FAIL", "unknown variable");
}

bool FastbootDevice::DropsAtEntry(DeviceSide& device) {
    if (++entries_ != settings_.dropAtEntry) return false;
    DropOffBus(device);
    return true;
}

void FastbootDevice::DropOffBus(DeviceSide& device) {
    if (mode_ == Mode::Data) store_.DiscardDownload();
    mode_ = Mode::Dropped;
    device.Request(ModemRequest::DropOffBus, 0);
}

void FastbootDevice::Reply(DeviceSide& device, const std::string& status, const std::string& text, uint64_t extraMs) {
    const uint64_t delay = settings_.replyDelayMs + extraMs;
    const auto send = [&](const std::string& message) {
        device.Send(Bytes(message.begin(), message.end()), delay);
    };
    const bool info = status == "INFO";
    if (!info) {
        for (const std::string& line : settings_.infoLines) send(("INFO" + line).substr(0, kMaxReply));
    }
    std::string reply = status + text + (status == "OKAY" ? settings_.okayText : std::string());
    if (reply.size() > kMaxReply) reply.resize(kMaxReply);
    const size_t split = settings_.splitReplies;
    if (split > 0 && reply.size() > split) {
        send(reply.substr(0, split));
        send(reply.substr(split));
    } else {
        send(reply);
    }
}

}  // namespace firmora::sim
