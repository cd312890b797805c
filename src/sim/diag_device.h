#pragma once
// The DIAG side of the virtual modem: the data a DIAG client reaches (the
// platform code, the NV items, the EFS file tree), built from a scenario,
// and the responder on the Diag port that deframes requests and answers them
// with framed replies as a real device does.

#include <cstdint>
#include <functional>
#include <set>
#include <span>
#include <vector>

#include <nlohmann/json.hpp>

#include "link/hdlc_codec.h"
#include "sim/device_side.h"
#include "sim/diag_efs_handler.h"
#include "sim/efs_tree.h"
#include "sim/nv_store.h"

namespace firmora::sim {

// The RF NV items a device keeps as EFS files unless a scenario lists others:
// those the diagnostic library saves and restores.
extern const std::vector<uint32_t> kDefaultRfNvItems;

class DiagDeviceState {
public:
    static constexpr int kDefaultPlatformCode = 0;
    static constexpr uint32_t kDefaultSeed = 1;

    // Generated NV items and an empty file system.
    DiagDeviceState() = default;

    // The device a scenario describes ("identity"."platformCode", "nv",
    // "efs"; every key optional). Throws std::runtime_error naming the key
    // when one has the wrong type or an impossible value.
    static DiagDeviceState FromScenario(const nlohmann::json& scenario);
    // The same device after its stored data was wiped: "factory"."nv" and
    // "factory"."efs" when given; otherwise the same NV items with other
    // generated contents, and a file system holding only the RF NV files,
    // also with other contents. The platform code stays.
    static DiagDeviceState FactoryFromScenario(const nlohmann::json& scenario);

    int platformCode() const { return platformCode_; }
    void SetPlatformCode(int code) { platformCode_ = code; }
    NvStore& nv() { return nv_; }
    const NvStore& nv() const { return nv_; }
    EfsTree& efs() { return efs_; }
    const EfsTree& efs() const { return efs_; }

private:
    int platformCode_ = kDefaultPlatformCode;
    NvStore nv_{kDefaultSeed};
    EfsTree efs_;
};

// How the Diag port behaves: timing and faults ("diag" in a scenario).
struct DiagResponderSettings {
    uint64_t latencyMs = 5;                // request to reply
    uint64_t transitionDelayMs = 50;       // reply to the reset or power-off it announces
    std::set<uint8_t> silentCommands;      // command codes never answered
    std::set<uint16_t> silentEfsCommands;  // EFS2 sub-commands never answered
    std::set<uint64_t> corruptCrcReplies;  // replies (1 = the first) sent with a wrong CRC
    std::vector<EfsFault> efsFaults;

    // Throws std::runtime_error like DiagDeviceState::FromScenario.
    static DiagResponderSettings FromScenario(const nlohmann::json& scenario);
};

class DiagResponder final : public SerialResponder {
public:
    DiagResponder(DiagDeviceState& state, const nlohmann::json& scenario);
    DiagResponder(DiagDeviceState& state, DiagResponderSettings settings);

    void OnHostBytes(const uint8_t* data, size_t length, DeviceSide& device) override;
    // The device restarts: partial input goes, and so do its open files and listings.
    void OnDisconnect() override;

    // Called with every request packet that arrived intact, before it is
    // answered (the virtual modem's command log).
    void SetRequestObserver(std::function<void(const std::vector<uint8_t>& packet)> observer) {
        observer_ = std::move(observer);
    }
    uint64_t RepliesSent() const { return repliesSent_; }

private:
    void Handle(const std::vector<uint8_t>& request, DeviceSide& device);
    bool Silent(const std::vector<uint8_t>& request) const;
    void Answer(const std::vector<uint8_t>& packet, DeviceSide& device, bool leadingFlag = false);
    void AnswerThenRequest(uint8_t reply, ModemRequest request, DeviceSide& device);
    std::vector<uint8_t> PlatformReply() const;
    std::vector<uint8_t> NvReply(const std::vector<uint8_t>& request);
    std::vector<uint8_t> ModeChange(const std::vector<uint8_t>& request, DeviceSide& device);

    DiagDeviceState& state_;
    DiagResponderSettings settings_;
    DiagEfsHandler efs_;
    link::HdlcDeframer deframer_;
    uint64_t repliesSent_ = 0;
    std::function<void(const std::vector<uint8_t>&)> observer_;
};

}  // namespace firmora::sim
