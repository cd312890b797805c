#include "sim/partition_store.h"

#include <cstdio>
#include <stdexcept>
#include <utility>

#define XXH_STATIC_LINKING_ONLY
#include <xxhash.h>

namespace firmora::sim {

StreamDigest::StreamDigest() : state_(XXH3_createState()) {
    if (state_ == nullptr) throw std::bad_alloc();
    Reset();
}

StreamDigest::~StreamDigest() { XXH3_freeState(state_); }

StreamDigest::StreamDigest(const StreamDigest& other) : state_(XXH3_createState()), size_(other.size_) {
    if (state_ == nullptr) throw std::bad_alloc();
    XXH3_copyState(state_, other.state_);
}

StreamDigest& StreamDigest::operator=(const StreamDigest& other) {
    if (this != &other) {
        XXH3_copyState(state_, other.state_);
        size_ = other.size_;
    }
    return *this;
}

void StreamDigest::Reset() {
    XXH3_64bits_reset(state_);
    size_ = 0;
}

void StreamDigest::Update(const uint8_t* data, size_t length) {
    if (length == 0) return;
    XXH3_64bits_update(state_, data, length);
    size_ += length;
}

uint64_t StreamDigest::Value() const { return XXH3_64bits_digest(state_); }

std::string DigestHex(uint64_t digest) {
    char text[17];
    std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(digest));
    return text;
}

uint64_t DigestOf(const uint8_t* data, size_t length) { return XXH3_64bits(data, length); }

namespace {

[[noreturn]] void Bad(const std::string& where, const std::string& what) {
    throw std::runtime_error("scenario: " + where + ": " + what);
}

uint64_t ReadBytes(const nlohmann::json& value, const std::string& where) {
    if (value.is_number_unsigned()) return value.get<uint64_t>();
    if (value.is_number_integer() && value.get<int64_t>() >= 0) return static_cast<uint64_t>(value.get<int64_t>());
    Bad(where, "expected a byte count (a non-negative whole number)");
}

uint64_t ReadDigest(const nlohmann::json& value, const std::string& where) {
    if (!value.is_string()) Bad(where, "expected 16 hexadecimal digits");
    const std::string text = value.get<std::string>();
    if (text.size() != 16 || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
        Bad(where, "expected 16 hexadecimal digits, got \"" + text + "\"");
    }
    return std::stoull(text, nullptr, 16);
}

Partition ReadPartition(const nlohmann::json& entry, const std::string& where) {
    if (!entry.is_object()) Bad(where, "expected an object");
    Partition partition;
    partition.digest = DigestOf(nullptr, 0);
    for (const auto& [key, value] : entry.items()) {
        const std::string at = where + "." + key;
        if (key == "capacity") {
            partition.capacity = ReadBytes(value, at);
        } else if (key == "size") {
            partition.size = ReadBytes(value, at);
        } else if (key == "digest") {
            partition.digest = ReadDigest(value, at);
        } else if (key == "type") {
            if (!value.is_string()) Bad(at, "expected a text");
            partition.type = value.get<std::string>();
        } else {
            Bad(at, "unknown key");
        }
    }
    if (!entry.contains("capacity")) Bad(where, "\"capacity\" is required");
    if (partition.size > partition.capacity) Bad(where, "\"size\" exceeds \"capacity\"");
    if (partition.size > 0 && !entry.contains("digest")) Bad(where, "a non-zero \"size\" needs its \"digest\"");
    return partition;
}

// The partitions of the shipped package's boot loader, empty as they leave
// the factory floor.
PartitionStore DefaultStore() {
    constexpr uint64_t MiB = 1024 * 1024;
    const std::pair<const char*, uint64_t> table[] = {
        {"sbl", 2 * MiB},        {"tz", 2 * MiB},         {"rpm", 1 * MiB},       {"aboot", 1 * MiB},
        {"boot", 16 * MiB},      {"recovery", 16 * MiB},  {"kernel", 16 * MiB},   {"ramdisk", 16 * MiB},
        {"reckernel", 16 * MiB}, {"primary", 1 * MiB},    {"secondary", 1 * MiB}, {"system", 512 * MiB},
        {"userdata", 128 * MiB}, {"modem", 96 * MiB},     {"efs2", 12 * MiB},     {"cdrom", 32 * MiB},
        {"qdsp", 128 * MiB},
    };
    PartitionStore store;
    for (const auto& [name, capacity] : table) {
        Partition partition;
        partition.capacity = capacity;
        partition.digest = DigestOf(nullptr, 0);
        store.Add(name, partition);
    }
    return store;
}

}  // namespace

PartitionStore PartitionStore::FromScenario(const nlohmann::json& scenario) {
    if (!scenario.is_object() || !scenario.contains("partitions")) return DefaultStore();
    const nlohmann::json& table = scenario.at("partitions");
    if (!table.is_object()) Bad("partitions", "expected an object of partitions by name");
    PartitionStore store;
    for (const auto& [name, entry] : table.items()) {
        if (name.empty()) Bad("partitions", "a partition needs a name");
        store.Add(name, ReadPartition(entry, "partitions." + name));
    }
    return store;
}

void PartitionStore::Add(const std::string& name, Partition partition) {
    partitions_[name] = std::move(partition);
    packetStreams_.erase(name);
}

const Partition* PartitionStore::Find(const std::string& name) const {
    const auto it = partitions_.find(name);
    return it == partitions_.end() ? nullptr : &it->second;
}

void PartitionStore::BeginDownload() {
    download_.Reset();
    downloadComplete_ = false;
    for (auto& [name, stream] : packetStreams_) {
        stream.withDownload = stream.digest;
        stream.candidateValid = true;
    }
}

void PartitionStore::AppendDownload(const uint8_t* data, size_t length) {
    download_.Update(data, length);
    for (auto& [name, stream] : packetStreams_) {
        if (stream.candidateValid) stream.withDownload.Update(data, length);
    }
}

void PartitionStore::CompleteDownload() { downloadComplete_ = true; }

void PartitionStore::DiscardDownload() {
    download_.Reset();
    downloadComplete_ = false;
    for (auto& [name, stream] : packetStreams_) stream.candidateValid = false;
}

PartitionStore::Result PartitionStore::Flash(const std::string& name) {
    const auto it = partitions_.find(name);
    if (it == partitions_.end()) return Result::UnknownPartition;
    if (!downloadComplete_) return Result::NoDownload;
    Partition& partition = it->second;
    if (download_.size() > partition.capacity) return Result::TooLarge;
    partition.size = download_.size();
    partition.digest = download_.Value();
    partition.erased = false;
    partition.packets = 0;
    ++partition.flashes;
    packetStreams_.erase(name);
    return Result::Ok;
}

PartitionStore::Result PartitionStore::FlashPacket(const std::string& name, unsigned index) {
    const auto it = partitions_.find(name);
    if (it == partitions_.end()) return Result::UnknownPartition;
    if (!downloadComplete_) return Result::NoDownload;
    Partition& partition = it->second;
    if (index == 0) {
        if (download_.size() > partition.capacity) return Result::TooLarge;
        PacketStream& stream = packetStreams_[name];
        stream.digest = download_;
        stream.candidateValid = false;
        ++partition.flashes;
    } else {
        const auto open = packetStreams_.find(name);
        if (open == packetStreams_.end() || index != partition.packets) return Result::PacketOutOfOrder;
        PacketStream& stream = open->second;
        if (!stream.candidateValid) return Result::NoDownload;
        if (stream.withDownload.size() > partition.capacity) return Result::TooLarge;
        stream.digest = stream.withDownload;
        stream.candidateValid = false;
    }
    const StreamDigest& digest = packetStreams_.at(name).digest;
    partition.size = digest.size();
    partition.digest = digest.Value();
    partition.erased = false;
    partition.packets = index + 1;
    return Result::Ok;
}

PartitionStore::Result PartitionStore::Erase(const std::string& name) {
    const auto it = partitions_.find(name);
    if (it == partitions_.end()) return Result::UnknownPartition;
    Partition& partition = it->second;
    partition.size = 0;
    partition.digest = DigestOf(nullptr, 0);
    partition.erased = true;
    partition.packets = 0;
    ++partition.erases;
    packetStreams_.erase(name);
    return Result::Ok;
}

std::string ToString(PartitionStore::Result result) {
    switch (result) {
        case PartitionStore::Result::Ok: return "ok";
        case PartitionStore::Result::UnknownPartition: return "partition does not exist";
        case PartitionStore::Result::TooLarge: return "image too large for partition";
        case PartitionStore::Result::NoDownload: return "no image downloaded";
        case PartitionStore::Result::PacketOutOfOrder: return "packet out of order";
    }
    return "unknown";
}

}  // namespace firmora::sim
