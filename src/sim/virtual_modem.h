#pragma once
// VirtualModem: one simulated USB modem. It owns the device's stored data
// (identity, AT parameters, contexts, NV items, EFS tree, partitions), the
// protocol handlers of its ports, and its USB personality. Mode changes make
// it leave the bus and come back after the scenario's delays, possibly under
// new COM numbers, announcing each removal and arrival to a bus listener.
//
// Not thread-safe: a caller that drives it from several threads (firmora-sim)
// serialises every call, including the scheduler's callbacks, with one lock.

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/device_side.h"
#include "sim/scheduler.h"

namespace firmora::sim {

// The shipped scenarios' folder beside the program.
inline constexpr const char* kScenarioFolder = "scenarios";

class AtDeviceState;
class DiagDeviceState;
class PartitionStore;

enum class PortRole { Diag, App, At };

// One serial port the device shows while in its normal personality.
struct PortInfo {
    PortRole role;
    int comNumber;              // "COM" + this number
    std::string friendlyName;   // e.g. "Firmora Modem Diagnostics Port (COM5)"
    std::string description;
    std::string hardwareId;     // e.g. "USB\\VID_1D6B&PID_F101&REV_0100&MI_00"
};

// What changed on the bus, for device-change notifications.
struct BusEvent {
    enum class Kind { Arrival, Removal } kind;
    Personality personality;     // the personality that arrived or left
    std::vector<PortInfo> ports; // the serial ports that arrived or left (normal personality)
    std::string interfacePath;   // the fastboot, USB boot or CD-ROM device path, when one arrived or left
};

// A parsed scenario file (see docs/simulator.md).
struct Scenario {
    std::string name;
    nlohmann::json json;

    // Reads a scenario file; throws std::runtime_error with a clear message
    // on a missing file, bad JSON or a key of the wrong type.
    static Scenario Load(const std::string& path);
    // A scenario given as JSON; a relative "extends" names a file in `folder`.
    static Scenario FromJson(nlohmann::json json, std::string name = "inline",
                             const std::filesystem::path& folder = {});
    // The shipped scenario of that name in `folder` ("default" -> default.json),
    // the scenarios folder beside the program (kScenarioFolder); when there
    // is no such folder, the copy the program was built with.
    static Scenario Builtin(const std::filesystem::path& folder, const std::string& name);

    // The devices the scenario describes: one per entry of its "devices"
    // array, each entry merged over the rest of the scenario; else itself.
    std::vector<Scenario> Devices() const;
};

class VirtualModem {
public:
    VirtualModem(const Scenario& scenario, Scheduler& scheduler);
    ~VirtualModem();
    VirtualModem(const VirtualModem&) = delete;
    VirtualModem& operator=(const VirtualModem&) = delete;

    Personality personality() const;
    // The serial ports present now (empty unless normal).
    std::vector<PortInfo> Ports() const;
    // The fastboot interface path while in the boot loader ("" otherwise),
    // carrying "MI_00" style markers when the scenario makes it composite.
    std::string FastbootInterfacePath() const;
    // The USB boot device path while in USB boot mode ("" otherwise).
    std::string UsbBootDevicePath() const;
    // The virtual CD-ROM's device instance while CD-ROM only ("" otherwise).
    std::string CdromDevicePath() const;
    // The scenario the device was built from.
    const Scenario& scenario() const;

    // Host -> device: bytes written to a port; ignored when the port is absent.
    void HostWrite(PortRole role, const uint8_t* data, size_t length);
    // Device -> host: called with bytes when they reach the host.
    void SetPortSink(PortRole role, std::function<void(const Bytes&)> sink);

    // Host -> boot loader: one message (a bulk write, or one TCP frame's payload).
    void FastbootHostMessage(const uint8_t* data, size_t length);
    // Boot loader -> host: each reply message when it reaches the host.
    void SetFastbootSink(std::function<void(const Bytes&)> sink);
    // The host's link to the boot loader went away (a TCP client closed its
    // connection): a download in progress is abandoned, so that the next
    // client's commands are not taken for image data.
    void FastbootHostDisconnected();

    // Host -> USB boot pipe: the loader's size (4 bytes, little-endian), then
    // its bytes, in any split.
    void UsbBootWrite(const uint8_t* data, size_t length);
    // The last first-stage loader the device received in full.
    const Bytes& UsbBootLoader() const;

    // Removals and arrivals, at the virtual (or real) times they happen.
    void SetBusListener(std::function<void(const BusEvent&)> listener);

    // A transition asked from outside the protocols: the package's
    // mode-switch program (SwitchToModem) or reset program (Reset).
    void Request(ModemRequest request);

    // Inspection, for tests and firmora-sim's report.
    AtDeviceState& at();
    DiagDeviceState& diag();
    PartitionStore& partitions();
    // Every command the device received, in order, one line each
    // ("AT: AT+CGMR", "DIAG: 4B 13 02 00", "FASTBOOT: flash:boot").
    const std::vector<std::string>& CommandLog() const;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace firmora::sim
