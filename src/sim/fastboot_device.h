#pragma once
// The virtual modem's fastboot boot loader, independent of how messages
// reach it (USB bulk transfers in-process, TCP frames in firmora-sim).
//
// Outside a download every host message is one command. After
// "download:%08x" is accepted with "DATA%08x", the messages that follow are
// image data, one byte stream across messages of any size, up to exactly the
// announced count; then "OKAY". Image bytes are only hashed into the
// PartitionStore, never kept. Every reply (at most 256 bytes: a 4-byte status
// and up to 252 bytes of text) goes out through DeviceSide::Send.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <set>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/device_side.h"
#include "sim/partition_store.h"

namespace firmora::sim {

// The "bootloader" object of a scenario.
struct FastbootSettings {
    std::string product = "MDM9607";
    std::string version = "0.5";          // fastboot protocol version
    std::string serialno = "0123456789ABCDEF";
    uint64_t maxDownloadSize = 0x20000000;
    uint64_t replyDelayMs = 1;            // every reply
    uint64_t writeMsPerMiB = 0;           // extra time a flash reply takes per MiB written

    // Faults.
    std::set<std::string> failFlash;      // flashes of these partitions answer FAIL
    unsigned silentDownload = 0;          // the n-th "download:" (1-based) gets no reply; 0: none
    unsigned dropAtEntry = 0;             // drop off the bus at the k-th flash or erase command; 0: never
    int64_t dropAfterBytes = -1;          // drop off the bus after this many image bytes in all; -1: never
    // Replies as a misbehaving boot loader sends them.
    std::string okayText;                 // appended to every OKAY reply
    std::vector<std::string> infoLines;   // INFO replies sent before every OKAY, FAIL and DATA
    size_t splitReplies = 0;              // a reply longer than this goes out as two messages; 0: never
    int64_t dataSize = -1;                // every DATA reply announces (and the device expects) this; -1: as asked

    // Throws std::runtime_error on a value of the wrong type or an unknown key.
    static FastbootSettings FromScenario(const nlohmann::json& scenario);
};

class FastbootDevice {
public:
    FastbootDevice(PartitionStore& store, const nlohmann::json& scenario);
    FastbootDevice(PartitionStore& store, FastbootSettings settings);

    // One message from the host: a bulk transfer or one TCP frame (or a
    // bounded piece of a large one). A zero-length message is the empty
    // transfer that ends a zero-byte download; elsewhere it is ignored.
    void OnHostMessage(const uint8_t* data, size_t length, DeviceSide& device);
    // The host link went away or the device left the bus: a download in
    // progress is abandoned, and a device that dropped off answers again.
    void OnDisconnect();

    // Called after each flash, packet or erase is committed (the modem wipes
    // its data when its EFS partition changes).
    std::function<void(const std::string& partition)> onPartitionChanged;

    // Every command received, in order, as text (bytes outside printable
    // ASCII as \xNN, long ones cut short). Image data is not logged.
    const std::vector<std::string>& CommandLog() const { return log_; }
    bool InDownload() const { return mode_ == Mode::Data; }
    const FastbootSettings& settings() const { return settings_; }

private:
    enum class Mode { Command, Data, Dropped };

    void OnCommand(const std::string& command, DeviceSide& device);
    void OnData(const uint8_t* data, size_t length, DeviceSide& device);
    void Download(const std::string& count, DeviceSide& device);
    void Flash(const std::string& partition, DeviceSide& device);
    void PacketFlash(const std::string& argument, DeviceSide& device);
    void Erase(const std::string& partition, DeviceSide& device);
    void GetVar(const std::string& name, DeviceSide& device);
    // True when this flash or erase command is the one the scenario drops at.
    bool DropsAtEntry(DeviceSide& device);
    void DropOffBus(DeviceSide& device);
    void Reply(DeviceSide& device, const std::string& status, const std::string& text, uint64_t extraMs = 0);
    void Committed(const std::string& partition, DeviceSide& device, uint64_t bytes);

    PartitionStore& store_;
    FastbootSettings settings_;
    Mode mode_ = Mode::Command;
    uint64_t expected_ = 0;     // bytes announced by the download in progress
    uint64_t received_ = 0;
    uint64_t dataTotal_ = 0;    // image bytes received since power-on
    bool droppedAfterBytes_ = false;
    unsigned downloads_ = 0;
    unsigned entries_ = 0;      // flash and erase commands
    std::vector<std::string> log_;
};

}  // namespace firmora::sim
