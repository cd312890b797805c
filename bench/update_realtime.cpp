// update_realtime: what a whole update costs in real time over the waits it
// must make. `firmora run` updates firmora-sim's modem over pseudo-terminals
// and the fastboot TCP transport, both at the same time scale, with the
// demo package; the same run on the virtual clock (`firmora run --simulate`,
// the same scenario) gives the time the update takes when nothing but its
// pauses, its waits and the device's own delays pass: its "Run time" line.
// At time scale X that time passes in 1/X of it; whatever the real run takes
// beyond is the overhead: process and thread start-up, the port scans and
// probes, serial and TCP transfers, the image bytes, scheduling.
//
// usage: update_realtime [--time-scale X] [--rounds N] [--firmora PATH] [--sim PATH]
//                        [--scenario FILE] [--config FILE]

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/bench_files.h"
#include "support/child_process.h"
#include "support/sim_server.h"

namespace fs = std::filesystem;
using namespace firmora::bench;

namespace {

struct Settings {
    double timeScale = 10;
    int rounds = 3;
    std::string firmora = ProgramBeside("firmora");
    std::string sim = ProgramBeside("firmora-sim");
    std::string scenario = FIRMORA_SCENARIO_DIR "/default.json";
    std::string config = (fs::path(ProgramBeside("demo-package")) / "Config.ini").string();
};

// A TCP port on the loopback that nothing listens on just now.
uint16_t FreeLoopbackPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    uint16_t port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
        port = ntohs(address.sin_port);
    }
    ::close(fd);
    if (port == 0) throw std::runtime_error("no free TCP port on the loopback");
    return port;
}

std::string ReadText(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// The seconds of the run's last "Run time: N s" line, which firmora prints
// on the run's clock.
double RunTimeOf(const std::string& output) {
    const size_t at = output.rfind("Run time: ");
    if (at == std::string::npos) throw std::runtime_error("firmora printed no run time:\n" + output);
    return std::stod(output.substr(at + 10));
}

// firmora run; throws with its output unless it passed.
ChildResult RunFirmora(const std::vector<std::string>& argv, const fs::path& log, std::string& output) {
    fs::remove(log);
    const ChildResult result = RunProgram(argv, log.string());
    output = ReadText(log);
    if (result.exitCode != 0) {
        throw std::runtime_error("firmora run ended with " + std::to_string(result.exitCode) + ":\n" + output);
    }
    return result;
}

struct Round {
    double wallSeconds = 0;
    double scaledRunSeconds = 0;  // the real run's own "Run time", on its scaled clock
    double cpuSeconds = 0;
    double simCpuSeconds = 0;
};

int Main(const Settings& settings) {
    TempFolder folder;
    // The runs' working folders and locks stay in the scratch folder.
    ::setenv("TMPDIR", folder.path().c_str(), 1);
    ::unsetenv("XDG_RUNTIME_DIR");
    const std::string backups = (folder.path() / "backups").string();

    std::string output;
    RunFirmora({settings.firmora, "run", "--config", settings.config, "--simulate=" + settings.scenario,
                "--backup-root", backups},
               folder.path() / "virtual.log", output);
    const double virtualSeconds = RunTimeOf(output);
    const double mandated = virtualSeconds / settings.timeScale;
    std::cerr << "on the virtual clock the update takes " << virtualSeconds << " s\n";

    std::vector<Round> rounds;
    const std::string scale = std::to_string(settings.timeScale);
    for (int round = 0; round < settings.rounds; ++round) {
        const fs::path links = folder.path() / ("links" + std::to_string(round));
        SimServer::Options options;
        options.port = FreeLoopbackPort();
        options.extraArgs = {"--time-scale", scale, "--link-dir", links.string()};
        SimServer sim(settings.sim, settings.scenario, (folder.path() / "sim.log").string(), options);
        const double simCpuBefore = sim.CpuSeconds();
        const ChildResult run = RunFirmora(
            {settings.firmora, "run", "--config", settings.config, "--diag", (links / "diag").string(), "--at",
             (links / "at").string(), "--fastboot", sim.address(), "--time-scale", scale, "--backup-root", backups},
            folder.path() / "real.log", output);
        rounds.push_back(
            {run.wallSeconds, RunTimeOf(output), run.userSeconds + run.systemSeconds, sim.CpuSeconds() - simCpuBefore});
        std::cerr << "round " << round + 1 << ": " << run.wallSeconds << " s\n";
    }

    std::vector<double> walls, scaled, cpus, simCpus;
    for (const Round& r : rounds) {
        walls.push_back(r.wallSeconds);
        scaled.push_back(r.scaledRunSeconds);
        cpus.push_back(r.cpuSeconds);
        simCpus.push_back(r.simCpuSeconds);
    }
    const double best = *std::min_element(walls.begin(), walls.end());
    const double median = Median(walls);
    std::printf(
        "| time scale | virtual run s | its waits at scale s | best wall s | median wall s "
        "| overhead s (median) | overhead %% | run's own clock s (median) | firmora CPU s | firmora-sim CPU s |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|---|\n");
    std::printf("| %g | %.1f | %.2f | %.2f | %.2f | %.2f | %.0f | %.1f | %.2f | %.2f |\n", settings.timeScale,
                virtualSeconds, mandated, best, median, median - mandated, 100.0 * (median - mandated) / mandated,
                Median(scaled), Median(cpus), Median(simCpus));
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    const std::vector<std::string> args(argv + 1, argv + argc);
    for (size_t i = 0; i < args.size(); ++i) {
        const bool hasValue = i + 1 < args.size();
        if (args[i] == "--time-scale" && hasValue) {
            settings.timeScale = std::stod(args[++i]);
        } else if (args[i] == "--rounds" && hasValue) {
            settings.rounds = std::stoi(args[++i]);
        } else if (args[i] == "--firmora" && hasValue) {
            settings.firmora = args[++i];
        } else if (args[i] == "--sim" && hasValue) {
            settings.sim = args[++i];
        } else if (args[i] == "--scenario" && hasValue) {
            settings.scenario = args[++i];
        } else if (args[i] == "--config" && hasValue) {
            settings.config = args[++i];
        } else {
            std::cerr << "usage: update_realtime [--time-scale X] [--rounds N] [--firmora PATH] [--sim PATH]\n"
                         "                       [--scenario FILE] [--config FILE]\n";
            return 2;
        }
    }
    if (!(settings.timeScale > 0) || settings.rounds < 1) {
        std::cerr << "update_realtime: --time-scale takes a positive number and --rounds at least 1\n";
        return 2;
    }
    try {
        return Main(settings);
    } catch (const std::exception& e) {
        std::cerr << "update_realtime: " << e.what() << '\n';
        return 1;
    }
}
