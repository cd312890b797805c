#include "firmora-sim/sim_runner.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <exception>
#include <iostream>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "firmora-sim/fastboot_tcp_server.h"
#include "platform/posix/posix_files.h"
#include "platform/last_error.h"
#include "sim/at_device.h"
#include "sim/diag_device.h"
#include "sim/nv_store.h"
#include "sim/partition_store.h"
#include "sim/usb_profile.h"

namespace firmora::simtool {
namespace {

// The device's identity as the AT port reports it now (a restore after a
// wipe changes it).
nlohmann::json IdentityJson(const sim::AtDeviceState& at) {
    return {{"manufacturer", at.manufacturer},
            {"model", at.model},
            {"revision", at.revision},
            {"softwareVersion", at.softwareVersion},
            {"firmwareVersion", at.firmwareVersion},
            {"boardCode", at.boardCode},
            {"projectCode", at.projectCode},
            {"sn", at.sn},
            {"imei", at.imei},
            {"imei1", at.imei1},
            {"esn", at.esn},
            {"meid", at.meid},
            {"bluetoothAddress", at.bluetoothAddress}};
}

// The parameters the device stores beside its identity (a wipe empties them).
nlohmann::json ParametersJson(const sim::AtDeviceState& at) {
    return {{"salesCount", at.salesCount},
            {"salesInfo", at.salesInfo},
            {"wifiCal", at.wifiCal},
            {"testInformation", at.testInformation},
            {"uit87", at.uit87},
            {"uit89", at.uit89},
            {"mode", at.mode},
            {"cllen", at.cllen},
            {"mvreq", at.mvreq},
            {"gmi", at.gmi},
            {"networkLock", at.networkLock ? nlohmann::json(*at.networkLock) : nlohmann::json()},
            {"cfun", at.cfun}};
}

// The PDP contexts in number order, as AT+CGDCONT? lists them.
nlohmann::json ContextsJson(const sim::AtDeviceState& at) {
    nlohmann::json contexts = nlohmann::json::array();
    for (const auto& [number, text] : at.contexts) contexts.push_back(text);
    return contexts;
}

// The command log writes a DIAG request as "DIAG: " and its first bytes in
// hex: an NV read or write starts with the command and the item number
// (little-endian), "DIAG: 26 1C 02 ...".
std::optional<uint16_t> NvItemOfRequest(const std::string& line) {
    if (line.size() < 14 || !line.starts_with("DIAG: ") || line[8] != ' ' || line[11] != ' ') return std::nullopt;
    const std::string command = line.substr(6, 2);
    if (command != "26" && command != "27") return std::nullopt;
    unsigned low = 0;
    unsigned high = 0;
    const char* text = line.data();
    if (std::from_chars(text + 9, text + 11, low, 16).ptr != text + 11 ||
        std::from_chars(text + 12, text + 14, high, 16).ptr != text + 14) {
        return std::nullopt;
    }
    return static_cast<uint16_t>(low | high << 8);
}

// Every item with the device's status and a digest of its 128 bytes now.
nlohmann::json NvJson(const sim::NvStore& nv, const std::set<uint16_t>& items) {
    nlohmann::json list = nlohmann::json::array();
    for (const uint16_t item : items) {
        const sim::NvStore::ReadResult read = nv.Read(item);
        list.push_back({{"item", item},
                        {"status", read.status},
                        {"digest", sim::DigestHex(sim::DigestOf(read.data.data(), read.data.size()))}});
    }
    return list;
}

// The RF NV files in the EFS, by item number: the files of RfNvFilePath's
// folder whose names ("00020309") are numbers.
nlohmann::json RfNvJson(const sim::EfsTree& efs) {
    const std::string sample = sim::RfNvFilePath(sim::kFirstRfNvItem);
    const std::string folder = sample.substr(0, sample.rfind('/'));
    std::map<uint32_t, nlohmann::json> files;
    for (const std::string& name : efs.Names(folder)) {
        uint32_t item = 0;
        const auto parsed = std::from_chars(name.data(), name.data() + name.size(), item);
        if (parsed.ec != std::errc() || parsed.ptr != name.data() + name.size()) continue;
        const std::optional<std::vector<uint8_t>> content = efs.FileContent(folder + "/" + name);
        if (!content) continue;
        files[item] = {{"item", item},
                       {"size", content->size()},
                       {"digest", sim::DigestHex(sim::DigestOf(content->data(), content->size()))}};
    }
    nlohmann::json list = nlohmann::json::array();
    for (auto& [item, file] : files) list.push_back(std::move(file));
    return list;
}

}  // namespace

SimRunner::SimRunner(const sim::Scenario& scenario, RunnerOptions options, std::ostream& out)
    : options_(std::move(options)),
      out_(out),
      scheduler_(modemLock_, options_.timeScale),
      modem_(scenario, scheduler_) {
    // First, so that a refusal leaves nothing to undo.
    if (!options_.linkDir.empty()) links_ = std::make_unique<LinkKeeper>(options_.linkDir);
    int pipeFds[2];
    if (::pipe2(pipeFds, O_NONBLOCK | O_CLOEXEC) != 0)
        throw std::system_error(errno, std::generic_category(), "pipe2");
    eventRead_ = pipeFds[0];
    eventWrite_ = pipeFds[1];

    // Every sink and listener runs inside a modem call, so under modemLock_.
    for (const sim::PortRole role : {sim::PortRole::Diag, sim::PortRole::App, sim::PortRole::At}) {
        modem_.SetPortSink(role, [this, role](const sim::Bytes& bytes) {
            const auto slot = ports_.find(role);
            if (slot != ports_.end() && slot->second.bridge) slot->second.bridge->Send(bytes.data(), bytes.size());
        });
    }
    modem_.SetBusListener([this](const sim::BusEvent& event) { OnBusEvent(event); });
    scheduler_.SetAfterEach([this] { LookForChanges(); });
}

SimRunner::~SimRunner() {
    Stop();
    ::close(eventRead_);
    ::close(eventWrite_);
}

void SimRunner::Start() {
    if (started_) return;
    started_ = true;
    // The server's calls come through here too, so that a flash or erase is
    // seen in the call that commits it.
    server_ = std::make_unique<FastbootTcpServer>(
        FastbootEndpoint{
            [this] { return modem_.personality() == sim::Personality::Bootloader; },
            [this](const uint8_t* data, size_t length) {
                if (stopping_) return;
                modem_.FastbootHostMessage(data, length);
                LookForChanges();
            },
            [this] { modem_.FastbootHostDisconnected(); },
            [this] { modem_.SetFastbootSink(nullptr); },
        },
        modemLock_);
    {
        std::lock_guard<std::mutex> lock(modemLock_);
        FastbootTcpServer* server = server_.get();
        modem_.SetFastbootSink([server](const sim::Bytes& reply) { server->Reply(reply); });
    }
    server_->Start(options_.fastbootPort);
    scheduler_.Start();
    {
        std::lock_guard<std::mutex> lock(modemLock_);
        fastbootPort_ = server_->port();
        for (const sim::PortInfo& port : modem_.Ports()) OpenPort(port);
        if (modem_.personality() == sim::Personality::Bootloader)
            Emit("fastboot tcp:127.0.0.1:" + std::to_string(fastbootPort_));
        LookForChanges();
        Emit("ready");
    }
    Flush();
}

void SimRunner::Run(int stopFd) {
    for (;;) {
        pollfd fds[2] = {{stopFd, POLLIN, 0}, {eventRead_, POLLIN, 0}};
        const int ready = ::poll(fds, 2, -1);
        if (ready < 0 && errno != EINTR) break;
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR | POLLNVAL)) break;
        if (fds[1].revents & POLLIN) {
            char drain[64];
            while (::read(eventRead_, drain, sizeof drain) > 0) {
            }
        }
        Flush();
    }
}

void SimRunner::Stop() {
    if (stopped_) return;
    stopped_ = true;
    {
        std::lock_guard<std::mutex> lock(modemLock_);
        stopping_ = true;
    }
    // None of these may be waited for under the modem lock: their threads
    // take it to call into the modem.
    if (server_) server_->Stop();
    scheduler_.Stop();
    {
        std::lock_guard<std::mutex> lock(modemLock_);
        for (auto& [role, slot] : ports_) {
            if (links_) links_->Left(role);
            if (!slot.bridge) continue;
            slot.bridge->Hangup();
            std::lock_guard<std::mutex> events(eventLock_);
            retired_.push_back(std::move(slot.bridge));
        }
        ports_.clear();
        LookForChanges();
    }
    Flush();
}

void SimRunner::OnBusEvent(const sim::BusEvent& event) {
    const bool arrival = event.kind == sim::BusEvent::Kind::Arrival;
    const std::string line = std::string(arrival ? "arrival " : "removal ") + sim::ToString(event.personality);
    // A removal is printed once its ports (and their links) are gone, an
    // arrival before its ports' lines.
    if (arrival) Emit(line);
    for (const sim::PortInfo& port : event.ports) {
        if (arrival) {
            OpenPort(port);
        } else {
            RetirePort(port.role);
        }
    }
    if (!arrival) Emit(line);
    if (arrival && event.personality == sim::Personality::Bootloader)
        Emit("fastboot tcp:127.0.0.1:" + std::to_string(fastbootPort_));
    LookForChanges();
}

void SimRunner::OpenPort(const sim::PortInfo& port) {
    if (stopping_) return;
    RetirePort(port.role);
    const sim::PortRole role = port.role;
    const uint64_t generation = nextGeneration_++;
    try {
        // Host bytes of a bridge that has been replaced are dropped: they
        // were written to a port that has left the bus.
        auto bridge = std::make_unique<PtyBridge>([this, role, generation](const uint8_t* data, size_t length) {
            std::lock_guard<std::mutex> lock(modemLock_);
            const auto slot = ports_.find(role);
            if (stopping_ || slot == ports_.end() || slot->second.generation != generation) return;
            modem_.HostWrite(role, data, length);
            LookForChanges();
        });
        const std::string line =
            "port " + sim::ToString(role) + " COM" + std::to_string(port.comNumber) + " " + bridge->devicePath();
        if (links_) links_->Arrived(role, bridge->devicePath());
        ports_[role] = Slot{std::move(bridge), generation};
        Emit(line);
    } catch (const std::exception& e) {
        std::cerr << "firmora-sim: no pseudo-terminal for the " << sim::ToString(role) << " port: " << e.what()
                  << std::endl;
    }
}

void SimRunner::RetirePort(sim::PortRole role) {
    const auto slot = ports_.find(role);
    if (slot == ports_.end()) return;
    if (links_) links_->Left(role);
    if (slot->second.bridge) {
        // The hang-up happens now; joining its thread waits for Flush.
        slot->second.bridge->Hangup();
        std::lock_guard<std::mutex> events(eventLock_);
        retired_.push_back(std::move(slot->second.bridge));
    }
    ports_.erase(slot);
    Notify();
}

void SimRunner::NoteNvRequests() {
    const std::vector<std::string>& log = modem_.CommandLog();
    for (; commandsSeen_ < log.size(); ++commandsSeen_) {
        if (const std::optional<uint16_t> item = NvItemOfRequest(log[commandsSeen_])) nvItems_.insert(*item);
    }
}

void SimRunner::LookForChanges() {
    for (const auto& [name, now] : modem_.partitions().partitions()) {
        const auto before = seenPartitions_.find(name);
        const unsigned erasesBefore = before == seenPartitions_.end() ? now.erases : before->second.erases;
        const unsigned flashesBefore = before == seenPartitions_.end() ? now.flashes : before->second.flashes;
        const std::string facts = name + " size " + std::to_string(now.size) + " xxh3 " + now.DigestText();
        if (now.erases != erasesBefore) Emit("erase " + facts);
        if (now.flashes != flashesBefore) Emit("flash " + facts);
        seenPartitions_[name] = now;
    }
    if (options_.reportPath.empty()) return;
    NoteNvRequests();
    std::string text = Report().dump(2) + "\n";
    if (text == reportText_) return;
    reportText_ = text;
    {
        std::lock_guard<std::mutex> events(eventLock_);
        reportToWrite_ = std::move(text);
    }
    Notify();
}

nlohmann::json SimRunner::Report() {
    nlohmann::json partitions = nlohmann::json::array();
    for (const auto& [name, p] : modem_.partitions().partitions()) {
        partitions.push_back({{"name", name},
                              {"size", p.size},
                              {"digest", p.DigestText()},
                              {"flashes", p.flashes},
                              {"erases", p.erases}});
    }
    return {{"personality", sim::ToString(modem_.personality())},
            {"identity", IdentityJson(modem_.at())},
            {"parameters", ParametersJson(modem_.at())},
            {"contexts", ContextsJson(modem_.at())},
            {"nv", NvJson(modem_.diag().nv(), nvItems_)},
            {"rfnv", RfNvJson(modem_.diag().efs())},
            {"partitions", std::move(partitions)}};
}

void SimRunner::Emit(std::string line) {
    {
        std::lock_guard<std::mutex> events(eventLock_);
        lines_.push_back(std::move(line));
    }
    Notify();
}

void SimRunner::Notify() {
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(eventWrite_, &byte, 1);
}

void SimRunner::Flush() {
    std::vector<std::string> lines;
    std::vector<std::unique_ptr<PtyBridge>> retired;
    std::string report;
    {
        std::lock_guard<std::mutex> events(eventLock_);
        lines.swap(lines_);
        retired.swap(retired_);
        report.swap(reportToWrite_);
    }
    for (const std::string& line : lines) out_ << line << '\n';
    out_.flush();
    retired.clear();  // joins the bridges' threads
    if (!report.empty() && !platform::PosixFiles().ReplaceAtomically(options_.reportPath, report)) {
        std::cerr << "firmora-sim: cannot write the report " << options_.reportPath << ": "
                  << std::generic_category().message(platform::LastError()) << std::endl;
    }
}

}  // namespace firmora::simtool
