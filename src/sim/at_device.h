#pragma once
// The AT side of the virtual modem: what the device's AT port knows about
// the device (AtDeviceState) and how the port talks (AtResponder). The
// state is a plain value the modem owns, so a flash can wipe it by
// assignment and a test can compare a restored device with the original.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "sim/device_side.h"

namespace firmora::sim {

// Everything the AT commands read and write. Values are stored as the host
// wrote them (a quoted argument without its quotes) and answered as stored.
class AtDeviceState {
public:
    // The device's own identity: "identity" in a scenario. The first group
    // belongs to the hardware and firmware and survives a wipe.
    std::string manufacturer = "Firmora";
    std::string model = "FM9x15 LTE";
    std::string revision = "v2.0.1";                        // ATI "Revision:" line
    std::string softwareVersion = "MDM9X15.1.2.VQA0012";    // AT+MVTSW
    std::string firmwareVersion = "MDM9X15-VQA0012-V2.0.1"; // AT+CGMR
    std::string boardCode = "PM8019";                       // AT+PMU
    std::string projectCode = "MDM9x15";                    // at+mvtinf=0,2
    std::string gpioProjectCode = "MDM9x15";                // AT+GPIOPRJT?

    std::string sn = "FM9X15A0012345";              // AT+MVTSN n = 5
    std::string imei1;                              // 6
    std::string imei = "353456789012348";           // 7
    std::string esn;                                // 8
    std::string meid;                               // 9
    std::string bluetoothAddress = "00:1A:7D:4C:21:0F";  // 10

    // Stored parameters: "at" in a scenario.
    std::string salesCount = "3";                   // AT+MVTSN n = 11
    std::string salesInfo = "FM-EU-2025";           // 12
    std::string wifiCal = "1";                      // AT+WIFICAL
    std::string testInformation = "CAL:PASS,FT:PASS";  // AT+TESTINF2
    std::string uit87 = "PASS";                     // AT+CUIT87
    std::string uit89 = "PASS";                     // AT+CUIT89
    std::string mode = "1";                         // at!autoins
    std::string cllen = "8";                        // AT+CLLEN
    std::string mvreq = "44010";                    // AT+MVREQ (the PLMN)
    std::string gmi = "Firmora";                    // AT+GMI
    std::optional<std::string> networkLock;         // AT+NWLSET, unset until written
    int cfun = 1;                                   // radio state, AT+CFUN
    // PDP contexts by number (1 to 16): the text after "+CGDCONT: ",
    // starting with the number ("1,\"IPV4V6\",\"internet\",\"0.0.0.0\",0,0").
    std::map<int, std::string> contexts = {{1, "1,\"IPV4V6\",\"internet\",\"0.0.0.0\",0,0"},
                                           {2, "2,\"IPV4V6\",\"ims\",\"0.0.0.0\",0,0"}};

    bool operator==(const AtDeviceState&) const = default;

    // The device as the scenario describes it: the values above, overridden
    // by the top-level "identity" and "at" sections. Throws
    // std::runtime_error naming the key when a value has the wrong type.
    static AtDeviceState FromScenario(const nlohmann::json& scenario);
    // The device after its stored data were wiped (a flash of the EFS or a
    // factory image): an IMEI of fifteen zeros, empty SN and parameters,
    // mode "0", no contexts; the hardware and firmware identity stays as
    // FromScenario gives it. "factory" -> "identity" / "at" override these values.
    static AtDeviceState FactoryFromScenario(const nlohmann::json& scenario);
};

inline constexpr int kMaxPdpContexts = 16;

// The device end of the AT port. Assembles command lines from any split of
// input, answers them like a modem ("\r\n<text>\r\n\r\nOK\r\n",
// "\r\nERROR\r\n") after the scenario's latency, and asks the device for
// mode changes after the reply. Behaviour and faults come from the
// scenario's "at" section (see docs/simulator.md).
class AtResponder final : public SerialResponder {
public:
    // `state` must outlive the responder. Throws std::runtime_error on a
    // behaviour key of the wrong type.
    AtResponder(AtDeviceState& state, const nlohmann::json& scenario);

    void OnHostBytes(const uint8_t* data, size_t length, DeviceSide& device) override;
    void OnDisconnect() override;

    // Every command line received, in order, as received (without its line end).
    const std::vector<std::string>& CommandLog() const { return log_; }
    // Called with each command line as it is received (after it is logged).
    void SetCommandListener(std::function<void(const std::string&)> listener) { listener_ = std::move(listener); }

    // A line longer than this is answered with ERROR, as a modem's command
    // buffer would; only its start is kept for the log.
    static constexpr size_t kMaxLineBytes = 4096;

private:
    enum class FaultReply { Normal, Error, Silence, NoOk };
    struct Fault {
        std::string command;
        FaultReply reply = FaultReply::Normal;
        std::optional<uint64_t> delayMs;
        std::optional<int> times;  // unset: every time
    };

    void HandleLine(const std::string& line, DeviceSide& device);
    Fault* MatchingFault(const std::string& line);
    // Sends `reply` starting `delayMs` from now (not before the previous reply
    // ended), in the configured pieces; returns the delay at which it ends.
    uint64_t SendReply(const std::string& reply, uint64_t delayMs, DeviceSide& device);

    AtDeviceState& state_;
    bool echo_ = false;
    uint64_t replyDelayMs_ = 20;
    int splitPieces_ = 1;
    uint64_t splitGapMs_ = 0;
    uint64_t transitionDelayMs_ = 1000;
    std::vector<std::string> unsupported_;
    std::vector<Fault> faults_;

    std::string line_;
    bool lineOverflow_ = false;
    uint64_t replyEndMs_ = 0;  // device time the last reply's last piece goes out
    std::vector<std::string> log_;
    std::function<void(const std::string&)> listener_;
};

}  // namespace firmora::sim
