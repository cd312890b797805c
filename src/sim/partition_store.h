#pragma once
// The boot loader's flash memory as the simulator keeps it: per partition its
// capacity, how many bytes were last written and the XXH3-64 digest of exactly
// those bytes, whether it is erased, and how often it was flashed and erased.
// The bytes themselves are never kept, so images of any size can be flashed.
//
// The store also hashes the download in progress as it streams in, and keeps
// partitions written in numbered packets: packet 0 starts a partition, every
// later packet extends it, and its digest is that of the concatenation.
//
// A plain copyable value: the modem keeps a copy as its factory state.

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct XXH3_state_s;

namespace firmora::sim {

// A running XXH3-64 over bytes fed in any split. Copying copies the state.
class StreamDigest {
public:
    StreamDigest();
    ~StreamDigest();
    StreamDigest(const StreamDigest& other);
    StreamDigest& operator=(const StreamDigest& other);

    void Reset();
    void Update(const uint8_t* data, size_t length);
    uint64_t Value() const;
    uint64_t size() const { return size_; }

private:
    XXH3_state_s* state_;
    uint64_t size_ = 0;
};

// A digest as 16 lower-case hexadecimal digits.
std::string DigestHex(uint64_t digest);
// XXH3-64 of `length` bytes at once.
uint64_t DigestOf(const uint8_t* data, size_t length);

struct Partition {
    uint64_t capacity = 0;    // bytes the partition holds
    std::string type = "raw"; // what "partition-type:" reports
    uint64_t size = 0;        // bytes last written (0 after an erase)
    uint64_t digest = 0;      // XXH3-64 of those bytes
    bool erased = false;
    unsigned flashes = 0;     // whole-image flashes plus packet streams begun
    unsigned erases = 0;
    unsigned packets = 0;     // packets in the packet stream now open (0: none)

    std::string DigestText() const { return DigestHex(digest); }
};

class PartitionStore {
public:
    enum class Result {
        Ok,
        UnknownPartition,
        TooLarge,        // more bytes than the partition holds
        NoDownload,      // nothing complete to commit
        PacketOutOfOrder,
    };

    PartitionStore() = default;
    // Reads "partitions": {name: {"capacity": bytes, "type": text,
    // "size": bytes, "digest": 16 hex digits}}; without the key, the default
    // table of the shipped package. Throws std::runtime_error on a bad value.
    static PartitionStore FromScenario(const nlohmann::json& scenario);

    void Add(const std::string& name, Partition partition);
    const Partition* Find(const std::string& name) const;
    const std::map<std::string, Partition>& partitions() const { return partitions_; }

    // The download in progress: Begin, Append any number of times, then
    // Complete once the announced count has arrived. Discard forgets it.
    void BeginDownload();
    void AppendDownload(const uint8_t* data, size_t length);
    void CompleteDownload();
    void DiscardDownload();
    bool HasDownload() const { return downloadComplete_; }
    uint64_t DownloadedBytes() const { return download_.size(); }

    // Commits the completed download to a partition. The download stays
    // available, as in a real boot loader's download buffer.
    Result Flash(const std::string& name);
    // Commits the completed download as packet `index` of `name`: 0 starts the
    // partition over with it; index n appends it to a stream that holds
    // packets 0 to n-1, and only a download begun after packet n-1 was
    // committed can be appended (the store cannot replay bytes it never kept).
    Result FlashPacket(const std::string& name, unsigned index);
    Result Erase(const std::string& name);

private:
    struct PacketStream {
        StreamDigest digest;       // the partition's bytes so far
        StreamDigest withDownload; // the same, extended by the download in progress
        bool candidateValid = false;
    };

    std::map<std::string, Partition> partitions_;
    std::map<std::string, PacketStream> packetStreams_;
    StreamDigest download_;
    bool downloadComplete_ = false;
};

std::string ToString(PartitionStore::Result result);

}  // namespace firmora::sim
