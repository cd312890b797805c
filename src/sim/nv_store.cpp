#include "sim/nv_store.h"

#include <algorithm>

namespace firmora::sim {

namespace {

// SplitMix64: a tiny, well-mixed generator, so neighbouring item numbers and
// neighbouring seeds give unrelated contents.
class Mixer {
public:
    Mixer(uint32_t seed, uint32_t item, uint32_t kind)
        : state_((static_cast<uint64_t>(seed) << 32 | item) ^ (static_cast<uint64_t>(kind) << 56)) {}
    uint64_t Next() {
        uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    void Fill(std::span<uint8_t> out) {
        for (size_t i = 0; i < out.size(); i += 8) {
            const uint64_t word = Next();
            for (size_t b = 0; b < 8 && i + b < out.size(); ++b) out[i + b] = static_cast<uint8_t>(word >> (8 * b));
        }
    }

private:
    uint64_t state_;
};

constexpr uint32_t kNvKind = 1;
constexpr uint32_t kRfNvKind = 2;
constexpr size_t kRfNvMinBytes = 40;
constexpr size_t kRfNvSpreadBytes = 1560;

// Statuses of items that hold no data on this device: writes do not change them.
bool Unwritable(uint16_t status) {
    return status == kNvBadParameter || status == kNvReadOnly || status == kNvBadTarget;
}

}  // namespace

std::string RfNvFilePath(uint32_t item) { return "nv/item_files/rfnv/000" + std::to_string(item); }

NvData GeneratedNvData(uint32_t seed, uint16_t item) {
    NvData data{};
    Mixer(seed, item, kNvKind).Fill(data);
    return data;
}

std::vector<uint8_t> GeneratedRfNvFile(uint32_t seed, uint32_t item) {
    Mixer mixer(seed, item, kRfNvKind);
    std::vector<uint8_t> content(kRfNvMinBytes + mixer.Next() % kRfNvSpreadBytes);
    mixer.Fill(content);
    return content;
}

void NvStore::SetStatus(uint16_t item, uint16_t status) {
    Item value;
    value.status = status;
    items_[item] = value;
}

NvStore::Item NvStore::Get(uint16_t item) const {
    if (const auto it = items_.find(item); it != items_.end()) return it->second;
    Item value;
    if (generated_) {
        value.data = GeneratedNvData(seed_, item);
    } else {
        value.status = kNvBadTarget;
    }
    return value;
}

NvStore::ReadResult NvStore::Read(uint16_t item) const {
    const Item value = Get(item);
    return {value.status, value.data};
}

uint16_t NvStore::Write(uint16_t item, std::span<const uint8_t, kNvItemBytes> data) {
    const Item current = Get(item);
    if (current.writeStatus) return *current.writeStatus;
    if (Unwritable(current.status)) return current.status;
    Item written;
    std::copy(data.begin(), data.end(), written.data.begin());
    items_[item] = written;
    return kNvDone;
}

NvStore NvStore::Factory(uint32_t factorySeed) const {
    NvStore factory(factorySeed);
    factory.generated_ = generated_;
    for (const auto& [number, item] : items_) {
        Item wiped = item;
        wiped.data = item.status == kNvDone ? GeneratedNvData(factorySeed, number) : NvData{};
        factory.items_[number] = wiped;
    }
    return factory;
}

}  // namespace firmora::sim
