#include "sim/at_device.h"

#include <algorithm>
#include <array>
#include <stdexcept>
#include <string_view>

#include "sim/at_commands.h"

namespace firmora::sim {
namespace {

using nlohmann::json;

constexpr std::string_view kWipedImei = "000000000000000";
constexpr std::string_view kModeEcho = "AT!AUTOINS";

// The keys of an "at" section: the stored parameters (also in "factory"),
// and the port's behaviour (top level only).
constexpr std::array<std::string_view, 13> kParameterKeys = {
    "salesCount", "salesInfo", "wifiCal", "testInformation", "uit87", "uit89", "mode",
    "cllen", "mvreq", "gmi", "networkLock", "cfun", "contexts"};
constexpr std::array<std::string_view, 6> kBehaviourKeys = {
    "echo", "replyDelayMs", "split", "transitionDelayMs", "unsupported", "faults"};

// A whole number of at least zero, whether the JSON came from a file
// (unsigned) or from code (signed).
bool IsCount(const json& value) { return value.is_number_integer() && value.get<int64_t>() >= 0; }

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw std::runtime_error("scenario: " + where + ": " + what);
}

// The object at `key` of `parent`, or nullptr when absent.
const json* Section(const json& parent, const char* key, const std::string& where) {
    if (!parent.is_object()) return nullptr;
    const auto it = parent.find(key);
    if (it == parent.end() || it->is_null()) return nullptr;
    if (!it->is_object()) Fail(where, "expected an object");
    return &*it;
}

template <size_t N>
bool Listed(const std::array<std::string_view, N>& keys, std::string_view key) {
    return std::find(keys.begin(), keys.end(), key) != keys.end();
}

void CheckAtKeys(const json& at, const std::string& where, bool behaviourAllowed) {
    for (const auto& [key, value] : at.items()) {
        if (!Listed(kParameterKeys, key) && !(behaviourAllowed && Listed(kBehaviourKeys, key))) {
            Fail(where + "." + key, "unknown key");
        }
    }
}

void ReadString(const json& section, const char* key, const std::string& where, std::string& out) {
    const auto it = section.find(key);
    if (it == section.end()) return;
    if (!it->is_string()) Fail(where + "." + key, "expected a string");
    out = it->get<std::string>();
}

uint64_t ReadMs(const json& section, const char* key, const std::string& where, uint64_t fallback) {
    const auto it = section.find(key);
    if (it == section.end()) return fallback;
    if (!IsCount(*it)) Fail(where + "." + key, "expected a non-negative whole number of milliseconds");
    return it->get<uint64_t>();
}

void ReadIdentity(const json& identity, const std::string& where, AtDeviceState& state) {
    ReadString(identity, "manufacturer", where, state.manufacturer);
    ReadString(identity, "model", where, state.model);
    ReadString(identity, "revision", where, state.revision);
    ReadString(identity, "softwareVersion", where, state.softwareVersion);
    ReadString(identity, "firmwareVersion", where, state.firmwareVersion);
    ReadString(identity, "boardCode", where, state.boardCode);
    ReadString(identity, "projectCode", where, state.projectCode);
    ReadString(identity, "gpioProjectCode", where, state.gpioProjectCode);
    ReadString(identity, "sn", where, state.sn);
    ReadString(identity, "imei", where, state.imei);
    ReadString(identity, "imei1", where, state.imei1);
    ReadString(identity, "esn", where, state.esn);
    ReadString(identity, "meid", where, state.meid);
    ReadString(identity, "bluetoothAddress", where, state.bluetoothAddress);
}

std::map<int, std::string> ReadContexts(const json& list, const std::string& where) {
    if (!list.is_array()) Fail(where, "expected an array of context lines");
    std::map<int, std::string> contexts;
    for (size_t i = 0; i < list.size(); ++i) {
        const std::string item = where + "[" + std::to_string(i) + "]";
        if (!list[i].is_string()) Fail(item, "expected a string");
        const std::string line = list[i].get<std::string>();
        // The line as the device lists it after "+CGDCONT: ": number, comma, the rest.
        const size_t comma = line.find(',');
        int cid = 0;
        if (comma != std::string::npos && comma > 0 && comma <= 2 &&
            line.find_first_not_of("0123456789") == comma) {
            cid = std::stoi(line.substr(0, comma));
        }
        if (cid < 1 || cid > kMaxPdpContexts) {
            Fail(item, "expected a context number from 1 to " + std::to_string(kMaxPdpContexts) + " and a comma");
        }
        if (!contexts.emplace(cid, line).second) Fail(item, "context " + std::to_string(cid) + " listed twice");
    }
    return contexts;
}

void ReadParameters(const json& at, const std::string& where, bool behaviourAllowed, AtDeviceState& state) {
    CheckAtKeys(at, where, behaviourAllowed);
    ReadString(at, "salesCount", where, state.salesCount);
    ReadString(at, "salesInfo", where, state.salesInfo);
    ReadString(at, "wifiCal", where, state.wifiCal);
    ReadString(at, "testInformation", where, state.testInformation);
    ReadString(at, "uit87", where, state.uit87);
    ReadString(at, "uit89", where, state.uit89);
    ReadString(at, "mode", where, state.mode);
    ReadString(at, "cllen", where, state.cllen);
    ReadString(at, "mvreq", where, state.mvreq);
    ReadString(at, "gmi", where, state.gmi);
    if (const auto it = at.find("networkLock"); it != at.end()) {
        if (it->is_null()) {
            state.networkLock.reset();
        } else if (it->is_string()) {
            state.networkLock = it->get<std::string>();
        } else {
            Fail(where + ".networkLock", "expected a string or null");
        }
    }
    if (const auto it = at.find("cfun"); it != at.end()) {
        if (!IsCount(*it) || it->get<uint64_t>() > 7) Fail(where + ".cfun", "expected a whole number from 0 to 7");
        state.cfun = it->get<int>();
    }
    if (const auto it = at.find("contexts"); it != at.end()) state.contexts = ReadContexts(*it, where + ".contexts");
}

AtDeviceState Wiped(const AtDeviceState& device) {
    AtDeviceState wiped;
    // Parameters go back to their empty state...
    wiped.sn.clear();
    wiped.imei = std::string(kWipedImei);
    wiped.bluetoothAddress.clear();
    wiped.salesCount.clear();
    wiped.salesInfo.clear();
    wiped.wifiCal.clear();
    wiped.testInformation.clear();
    wiped.uit87.clear();
    wiped.uit89.clear();
    wiped.mode = "0";
    wiped.cllen.clear();
    wiped.mvreq.clear();
    wiped.gmi.clear();
    wiped.contexts.clear();
    // ...while what the hardware and the firmware say about themselves stays.
    wiped.manufacturer = device.manufacturer;
    wiped.model = device.model;
    wiped.revision = device.revision;
    wiped.softwareVersion = device.softwareVersion;
    wiped.firmwareVersion = device.firmwareVersion;
    wiped.boardCode = device.boardCode;
    wiped.projectCode = device.projectCode;
    wiped.gpioProjectCode = device.gpioProjectCode;
    return wiped;
}

}  // namespace

AtDeviceState AtDeviceState::FromScenario(const json& scenario) {
    AtDeviceState state;
    if (const json* identity = Section(scenario, "identity", "identity")) ReadIdentity(*identity, "identity", state);
    if (const json* at = Section(scenario, "at", "at")) ReadParameters(*at, "at", true, state);
    return state;
}

AtDeviceState AtDeviceState::FactoryFromScenario(const json& scenario) {
    AtDeviceState state = Wiped(FromScenario(scenario));
    if (const json* factory = Section(scenario, "factory", "factory")) {
        if (const json* identity = Section(*factory, "identity", "factory.identity")) {
            ReadIdentity(*identity, "factory.identity", state);
        }
        if (const json* at = Section(*factory, "at", "factory.at")) ReadParameters(*at, "factory.at", false, state);
    }
    return state;
}

AtResponder::AtResponder(AtDeviceState& state, const json& scenario) : state_(state) {
    const json* at = Section(scenario, "at", "at");
    if (!at) return;
    CheckAtKeys(*at, "at", true);
    if (const auto it = at->find("echo"); it != at->end()) {
        if (!it->is_boolean()) Fail("at.echo", "expected true or false");
        echo_ = it->get<bool>();
    }
    replyDelayMs_ = ReadMs(*at, "replyDelayMs", "at", replyDelayMs_);
    transitionDelayMs_ = ReadMs(*at, "transitionDelayMs", "at", transitionDelayMs_);
    if (const json* split = Section(*at, "split", "at.split")) {
        if (const auto it = split->find("pieces"); it != split->end()) {
            if (!IsCount(*it) || it->get<uint64_t>() < 1 || it->get<uint64_t>() > 64) {
                Fail("at.split.pieces", "expected a whole number from 1 to 64");
            }
            splitPieces_ = it->get<int>();
        }
        splitGapMs_ = ReadMs(*split, "gapMs", "at.split", splitGapMs_);
    }
    if (const auto it = at->find("unsupported"); it != at->end()) {
        if (!it->is_array()) Fail("at.unsupported", "expected an array of commands");
        for (const json& command : *it) {
            if (!command.is_string()) Fail("at.unsupported", "expected an array of commands");
            unsupported_.push_back(command.get<std::string>());
        }
    }
    if (const auto it = at->find("faults"); it != at->end()) {
        if (!it->is_array()) Fail("at.faults", "expected an array of objects");
        for (size_t i = 0; i < it->size(); ++i) {
            const json& entry = (*it)[i];
            const std::string where = "at.faults[" + std::to_string(i) + "]";
            if (!entry.is_object()) Fail(where, "expected an object");
            Fault fault;
            ReadString(entry, "command", where, fault.command);
            if (fault.command.empty()) Fail(where + ".command", "expected the command the fault applies to");
            std::string reply = "normal";
            ReadString(entry, "reply", where, reply);
            if (reply == "error") {
                fault.reply = FaultReply::Error;
            } else if (reply == "silence") {
                fault.reply = FaultReply::Silence;
            } else if (reply == "no-ok") {
                fault.reply = FaultReply::NoOk;
            } else if (reply != "normal") {
                Fail(where + ".reply", "expected \"error\", \"silence\", \"no-ok\" or \"normal\"");
            }
            if (entry.contains("delayMs")) fault.delayMs = ReadMs(entry, "delayMs", where, 0);
            if (const auto times = entry.find("times"); times != entry.end() && !times->is_null()) {
                if (!IsCount(*times) || times->get<uint64_t>() > 1000000) {
                    Fail(where + ".times", "expected a whole number");
                }
                fault.times = times->get<int>();
            }
            for (const auto& [key, value] : entry.items()) {
                if (key != "command" && key != "reply" && key != "delayMs" && key != "times") {
                    Fail(where + "." + key, "unknown key");
                }
            }
            faults_.push_back(std::move(fault));
        }
    }
}

void AtResponder::OnHostBytes(const uint8_t* data, size_t length, DeviceSide& device) {
    for (size_t i = 0; i < length; ++i) {
        const char c = static_cast<char>(data[i]);
        if (c == '\r' || c == '\n') {
            const bool overflow = lineOverflow_;
            std::string line = std::move(line_);
            line_.clear();
            lineOverflow_ = false;
            // Blanks around a command mean nothing to a modem.
            const size_t first = line.find_first_not_of(" \t");
            if (first == std::string::npos) continue;
            line = line.substr(first, line.find_last_not_of(" \t") - first + 1);
            if (overflow) {
                log_.push_back(line);
                if (listener_) listener_(line);
                SendReply("\r\nERROR\r\n", replyDelayMs_, device);
                continue;
            }
            HandleLine(line, device);
        } else if (line_.size() < kMaxLineBytes) {
            line_ += c;
        } else {
            lineOverflow_ = true;
        }
    }
}

void AtResponder::OnDisconnect() {
    line_.clear();
    lineOverflow_ = false;
    replyEndMs_ = 0;
}

AtResponder::Fault* AtResponder::MatchingFault(const std::string& line) {
    for (Fault& fault : faults_) {
        if ((!fault.times || *fault.times > 0) && AtCommandMatches(fault.command, line)) return &fault;
    }
    return nullptr;
}

void AtResponder::HandleLine(const std::string& line, DeviceSide& device) {
    log_.push_back(line);
    if (listener_) listener_(line);

    FaultReply faultReply = FaultReply::Normal;
    uint64_t delayMs = replyDelayMs_;
    if (Fault* fault = MatchingFault(line)) {
        if (fault->times) --*fault->times;
        faultReply = fault->reply;
        if (fault->delayMs) delayMs = *fault->delayMs;
    }
    if (faultReply == FaultReply::Silence) return;

    const bool unsupported = std::any_of(unsupported_.begin(), unsupported_.end(),
                                         [&](const std::string& pattern) { return AtCommandMatches(pattern, line); });
    AtCommandResult result;
    if (faultReply == FaultReply::Error || unsupported) {
        result.code = AtCommandResult::Code::Error;
    } else {
        result = RunAtCommand(line, state_);
    }

    // The mode query is echoed whatever the echo setting: its firmware
    // answers with the echo, and the host looks for it.
    const std::string name = AtCommandName(line);
    const bool modeQuery = name == kModeEcho && line.size() == name.size() + 1 && line.back() == '?';
    std::string reply = (echo_ || modeQuery) ? line + "\r" : std::string();
    if (!result.text.empty()) reply += "\r\n" + result.text + "\r\n";
    switch (result.code) {
        case AtCommandResult::Code::Ok:
            if (faultReply != FaultReply::NoOk) reply += "\r\nOK\r\n";
            break;
        case AtCommandResult::Code::Error: reply += "\r\nERROR\r\n"; break;
        case AtCommandResult::Code::NoReply: break;
    }

    const uint64_t doneMs = reply.empty() ? delayMs : SendReply(reply, delayMs, device);
    if (result.request) device.Request(*result.request, doneMs + transitionDelayMs_);
}

uint64_t AtResponder::SendReply(const std::string& reply, uint64_t delayMs, DeviceSide& device) {
    const uint64_t now = device.NowMs();
    // One reply at a time: the next starts when the previous one has gone out.
    uint64_t at = std::max(delayMs, replyEndMs_ > now ? replyEndMs_ - now : 0);
    const size_t pieces = std::min(static_cast<size_t>(splitPieces_), reply.size());
    const size_t size = reply.size() / pieces;
    for (size_t i = 0; i < pieces; ++i) {
        const size_t from = i * size;
        const size_t to = i + 1 == pieces ? reply.size() : from + size;
        if (i > 0) at += splitGapMs_;
        device.Send(Bytes(reply.begin() + static_cast<std::ptrdiff_t>(from),
                          reply.begin() + static_cast<std::ptrdiff_t>(to)),
                    at);
    }
    replyEndMs_ = now + at;
    return at;
}

}  // namespace firmora::sim
