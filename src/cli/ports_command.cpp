#include "cli/ports_command.h"

#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "cli/arguments.h"
#include "cli/config_file.h"
#include "cli/run_platform.h"
#include "core/line_log.h"
#include "link/port_discovery.h"
#include "modeswitch/d1_switch.h"
#include "package/device_interrogation.h"
#include "package/options_json.h"
#include "platform/posix/console_dialogs.h"

namespace firmora::cli {
namespace {

constexpr std::string_view kUsage =
    "usage: firmora ports [--json] [--config FILE] [--simulate[=SCENARIO]] [--verbose]\n"
    "  --json                 print the result as one JSON object\n"
    "  --config FILE          the package whose name decides whether the board type is\n"
    "                         asked for (default: the embedded Config.ini)\n"
    "  --simulate[=SCENARIO]  scan the built-in virtual modem's ports instead; SCENARIO is a\n"
    "                         shipped scenario's name or a scenario file (default: default)\n"
    "  --verbose              print the scan's log lines too\n";

struct Options {
    RunOptions target;
    bool json = false;
};

int UsageError(std::ostream& err, const std::string& problem) {
    err << "firmora ports: " << problem << '\n' << kUsage;
    return kExitUsage;
}

std::string ParseArgs(const CommandArgs& args, Options& o) {
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        std::string value;
        if (arg == "--help" || arg == "-h") {
            o.target.help = true;
        } else if (arg == "--json") {
            o.json = true;
        } else if (arg == "--verbose" || arg == "-v") {
            o.target.verbose = true;
        } else if (IsOption(arg, "--config")) {
            if (!TakeValue(args, i, "--config", value)) return "option --config needs a file";
            o.target.config = value;
        } else if (std::string problem; TakeSimulate(arg, o.target.scenario, problem)) {
            if (!problem.empty()) return problem;
        } else if (arg.starts_with("-")) {
            return "unknown option: " + arg;
        } else {
            return "unexpected argument: " + arg;
        }
    }
    return {};
}

// The scan's log on the error stream, with --verbose.
class ScanLog final : public core::LineLog {
public:
    ScanLog(std::ostream& err, bool verbose) : err_(err), verbose_(verbose) {}
    void Log(const std::string& text) override {
        if (verbose_) err_ << package::EscapeVisible(text) << '\n';
    }

private:
    std::ostream& err_;
    const bool verbose_;
};

// The AT probe, keeping the readings of every port that passed it (the
// interrogation itself keeps only the last).
class RecordingProbe final : public link::AtPortProbe {
public:
    explicit RecordingProbe(package::DeviceInterrogation& interrogation) : interrogation_(interrogation) {}
    bool ProbeAtPort(const std::string& portName) override {
        const bool passed = interrogation_.ProbeAtPort(portName);
        if (passed) readings_[portName] = interrogation_.Readings();
        return passed;
    }
    const package::DeviceReadings* ReadingsOf(const std::string& portName) const {
        const auto found = readings_.find(portName);
        return found == readings_.end() ? nullptr : &found->second;
    }

private:
    package::DeviceInterrogation& interrogation_;
    std::map<std::string, package::DeviceReadings> readings_;
};

struct ListedPort {
    std::string name;  // "COM5"
    const platform::ComPortInterface* port = nullptr;
    const package::DeviceReadings* readings = nullptr;
    std::string node;
    std::string roleSource;
};

struct ListedGroup {
    const char* key;
    const char* title;
    std::vector<ListedPort> ports;
};

const platform::ComPortInterface* InterfaceOf(const std::vector<platform::ComPortInterface>& interfaces,
                                              const std::string& name) {
    for (const platform::ComPortInterface& port : interfaces) {
        if (link::PortNameOfFriendlyName(port.friendlyName) == name) return &port;
    }
    return nullptr;
}

nlohmann::ordered_json ToJson(const ListedPort& listed) {
    nlohmann::ordered_json j;
    j["port"] = listed.name;
    j["node"] = listed.node;
    j["friendlyName"] = listed.port ? listed.port->friendlyName : "";
    j["description"] = listed.port ? listed.port->description : "";
    j["hardwareId"] = listed.port ? listed.port->hardwareId : "";
    j["roleFrom"] = listed.roleSource;
    if (listed.readings) {
        j["revision"] = listed.readings->DeviceRevision;
        j["softwareVersion"] = listed.readings->DeviceSoftwareVersion;
        j["boardType"] = listed.readings->BoardType;
    }
    return j;
}

void PrintText(std::ostream& out, const std::vector<ListedGroup>& groups) {
    for (const ListedGroup& group : groups) {
        out << group.title << ':' << (group.ports.empty() ? " none" : "") << '\n';
        for (const ListedPort& listed : group.ports) {
            out << "  " << listed.name;
            if (listed.port) {
                out << "  " << package::EscapeVisible(listed.port->friendlyName) << '\n'
                    << "        node: " << package::EscapeVisible(listed.node) << '\n'
                    << "        hardware id: " << package::EscapeVisible(listed.port->hardwareId) << '\n';
            } else {
                out << '\n';
            }
            out << "        role from: " << listed.roleSource << '\n';
            if (listed.readings) {
                out << "        revision: " << package::EscapeVisible(listed.readings->DeviceRevision) << '\n'
                    << "        software version: " << package::EscapeVisible(listed.readings->DeviceSoftwareVersion)
                    << '\n'
                    << "        board type: " << package::EscapeVisible(listed.readings->BoardType) << '\n';
            }
        }
    }
}

}  // namespace

const Command kPortsCommand = {"ports", "[--json] [--config FILE] [--simulate[=SCENARIO]]",
                               "list the modem ports a run would use: Diag, application and AT ports", &RunPorts};

int RunPorts(const CommandArgs& args, std::ostream& out, std::ostream& err) {
    Options o;
    if (const std::string problem = ParseArgs(args, o); !problem.empty()) return UsageError(err, problem);
    if (o.target.help) {
        out << kUsage;
        return kExitOk;
    }
    int exitCode = kExitFailure;
    const std::optional<package::DownloadOptions> options = ConfigForRun("ports", o.target.config, err, exitCode);
    if (!options) return exitCode;
    std::string problem;
    const std::unique_ptr<RunPlatform> target = RunPlatform::Open(o.target, problem, exitCode);
    if (!target) {
        err << "firmora ports: " << problem << '\n';
        return exitCode;
    }

    ScanLog log(err, o.target.verbose);
    platform::ConsoleDialogs dialogs(err);
    package::DeviceInterrogation interrogation(target->serialPorts(), target->clock(), log, options->Name);
    RecordingProbe probe(interrogation);
    modeswitch::SerialD1Switch d1Switch(target->serialPorts(), target->clock());
    link::PortDiscovery discovery(target->devices(), target->clock(), dialogs, log, probe, d1Switch,
                                  options->bEnprg9x15);
    discovery.ScanPorts();
    const link::PortMap ports = discovery.Ports();
    const std::vector<platform::ComPortInterface> interfaces =
        target->devices().ComPortInterfaces().value_or(std::vector<platform::ComPortInterface>{});

    const std::map<std::string, RunPlatform::PortDetails> details = target->Details();
    std::vector<ListedGroup> groups = {
        {"diag", "Diag ports", {}}, {"app", "Application ports", {}}, {"at", "AT ports", {}}};
    const std::vector<std::string>* lists[] = {&ports.diag, &ports.app, &ports.at};
    for (size_t g = 0; g < groups.size(); ++g) {
        for (const std::string& name : *lists[g]) {
            ListedPort listed{name, InterfaceOf(interfaces, name), probe.ReadingsOf(name), {}, {}};
            const auto detail = details.find(name);
            if (detail != details.end()) {
                listed.node = detail->second.node;
                listed.roleSource = detail->second.roleSource;
            } else if (listed.port) {
                listed.node = listed.port->devicePath;
            }
            groups[g].ports.push_back(std::move(listed));
        }
    }

    if (o.json) {
        nlohmann::ordered_json j;
        for (const ListedGroup& group : groups) {
            j[group.key] = nlohmann::ordered_json::array();
            for (const ListedPort& listed : group.ports) j[group.key].push_back(ToJson(listed));
        }
        out << j.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) << '\n';
    } else {
        out << "Ports of " << package::EscapeVisible(target->Description()) << '\n';
        PrintText(out, groups);
    }
    return kExitOk;
}

}  // namespace firmora::cli
