#pragma once
// NvStore: the simulated device's NV items, 128 data bytes and a status code
// each. A device answers every item number: the items a scenario names keep
// what it gives them; every other item follows one rule, either contents
// generated from the device's seed and the item number (deterministic, so a
// test can predict them and two seeds give two different devices) or "not
// defined for this target". Generated RF NV files (items from 20000 up that
// live in the EFS) come from the same seed.

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace firmora::sim {

inline constexpr size_t kNvItemBytes = 128;
using NvData = std::array<uint8_t, kNvItemBytes>;

// Status codes of NV replies.
inline constexpr uint16_t kNvDone = 0;
inline constexpr uint16_t kNvInactive = 5;
inline constexpr uint16_t kNvBadParameter = 6;
inline constexpr uint16_t kNvReadOnly = 7;
inline constexpr uint16_t kNvBadTarget = 8;

// Items from this number up are RF NV items, kept as EFS files.
inline constexpr uint32_t kFirstRfNvItem = 20000;

// The EFS path of RF NV item `item`: "nv/item_files/rfnv/000" and the number.
std::string RfNvFilePath(uint32_t item);
// Generated contents: 128 bytes of an NV item, and a whole RF NV file (its
// length, from a few dozen bytes to a little over 1.5 KiB, also depends on
// its seed and the number).
NvData GeneratedNvData(uint32_t seed, uint16_t item);
std::vector<uint8_t> GeneratedRfNvFile(uint32_t seed, uint32_t item);

class NvStore {
public:
    // One item as a scenario gives it.
    struct Item {
        uint16_t status = kNvDone;
        NvData data{};
        // The status every write of this item answers (nothing is stored);
        // unset: writes store the data, see Write.
        std::optional<uint16_t> writeStatus;
    };
    struct ReadResult {
        uint16_t status;
        NvData data;  // zeros unless the item has data to give
    };

    // Every unnamed item answers with GeneratedNvData(seed, number), status 0.
    explicit NvStore(uint32_t seed = 1) : seed_(seed) {}

    // Unnamed items: generated (true) or "not defined for this target" (false).
    void SetGenerated(bool generated) { generated_ = generated; }
    bool generated() const { return generated_; }
    uint32_t seed() const { return seed_; }

    void Set(uint16_t item, Item value) { items_[item] = value; }
    // A named item's status (data zeros), as for the inactive or bad-parameter lists.
    void SetStatus(uint16_t item, uint16_t status);
    // The item as the device holds it now (named or by the rule).
    Item Get(uint16_t item) const;

    ReadResult Read(uint16_t item) const;
    // Stores `data` and answers 0, unless the item has a forced write status,
    // or its status says it cannot hold data on this device (6 bad
    // parameter, 7 read-only, 8 not defined for this target): then nothing is
    // stored and that status is the answer. An inactive item (5) becomes
    // active when written.
    uint16_t Write(uint16_t item, std::span<const uint8_t, kNvItemBytes> data);

    // The same device after a wipe: every item keeps its status, and items
    // holding data get other generated contents (from `factorySeed`).
    NvStore Factory(uint32_t factorySeed) const;

private:
    uint32_t seed_;
    bool generated_ = true;
    std::map<uint16_t, Item> items_;
};

}  // namespace firmora::sim
