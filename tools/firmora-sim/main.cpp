// firmora-sim: runs one virtual modem in real time. Its serial ports appear
// as pseudo-terminals and its boot loader as a fastboot TCP device on
// 127.0.0.1; what happens on the bus and to the partitions is printed one
// line per event.

#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <iostream>
#include <optional>
#include <string>

#include "firmora-sim/sim_runner.h"

namespace {

using firmora::simtool::RunnerOptions;

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: firmora-sim --scenario FILE [--fastboot-port N] [--report FILE] [--time-scale X]\n"
    "                   [--link-dir DIR]\n"
    "  --scenario FILE     the device to simulate (JSON scenario)\n"
    "  --fastboot-port N   TCP port of the boot loader on 127.0.0.1 (default 5554, 0: any free port)\n"
    "  --report FILE       keep FILE up to date with the identity and the partitions (JSON)\n"
    "  --time-scale X      run the device's delays X times as fast (default 1)\n"
    "  --link-dir DIR      keep DIR/diag, DIR/app and DIR/at linked to the ports present\n";

struct CommandLine {
    std::string scenario;
    RunnerOptions options;
};

std::optional<long> ParseInteger(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0') return std::nullopt;
    return value;
}

std::optional<double> ParseScale(const std::string& text) {
    if (text.empty()) return std::nullopt;
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(text.c_str(), &end);
    if (errno != 0 || *end != '\0' || !std::isfinite(value) || value <= 0) return std::nullopt;
    return value;
}

// Nullopt after printing what is wrong.
std::optional<CommandLine> Parse(int argc, char** argv) {
    CommandLine line;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            std::cout << kUsage;
            std::exit(kExitOk);
        }
        if (i + 1 >= argc) {
            std::cerr << "firmora-sim: " << (arg.rfind("--", 0) == 0 ? "missing value for " : "unknown argument ")
                      << arg << "\n";
            return std::nullopt;
        }
        const std::string value = argv[++i];
        if (arg == "--scenario") {
            line.scenario = value;
        } else if (arg == "--fastboot-port") {
            const auto port = ParseInteger(value);
            if (!port || *port < 0 || *port > 65535) {
                std::cerr << "firmora-sim: --fastboot-port takes a number from 0 to 65535, not \"" << value << "\"\n";
                return std::nullopt;
            }
            line.options.fastbootPort = static_cast<uint16_t>(*port);
        } else if (arg == "--report") {
            line.options.reportPath = value;
        } else if (arg == "--time-scale") {
            const auto scale = ParseScale(value);
            if (!scale) {
                std::cerr << "firmora-sim: --time-scale takes a positive number, not \"" << value << "\"\n";
                return std::nullopt;
            }
            line.options.timeScale = *scale;
        } else if (arg == "--link-dir") {
            if (value.empty()) {
                std::cerr << "firmora-sim: --link-dir takes a folder\n";
                return std::nullopt;
            }
            line.options.linkDir = value;
        } else {
            std::cerr << "firmora-sim: unknown argument " << arg << "\n";
            return std::nullopt;
        }
    }
    if (line.scenario.empty()) {
        std::cerr << "firmora-sim: --scenario FILE is required\n";
        return std::nullopt;
    }
    return line;
}

}  // namespace

int main(int argc, char** argv) {
    const std::optional<CommandLine> line = Parse(argc, argv);
    if (!line) {
        std::cerr << kUsage;
        return kExitUsage;
    }

    std::optional<firmora::sim::Scenario> scenario;
    try {
        scenario = firmora::sim::Scenario::Load(line->scenario);
    } catch (const std::exception& e) {
        std::cerr << "firmora-sim: " << e.what() << "\n";
        return kExitUsage;
    }

    // The stop signals are taken through a descriptor by the main thread
    // alone: blocked here, before any thread starts, they interrupt no
    // thread's system calls.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    if (::pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr) != 0) {
        std::cerr << "firmora-sim: cannot block the stop signals\n";
        return kExitFailed;
    }
    const int stopFd = ::signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (stopFd < 0) {
        std::cerr << "firmora-sim: signalfd: " << std::strerror(errno) << "\n";
        return kExitFailed;
    }
    // A host that goes away mid-reply must not end the device.
    ::signal(SIGPIPE, SIG_IGN);

    int status = kExitOk;
    try {
        firmora::simtool::SimRunner runner(*scenario, line->options, std::cout);
        runner.Start();
        runner.Run(stopFd);
        runner.Stop();
    } catch (const firmora::simtool::LinkDirError& e) {
        std::cerr << "firmora-sim: " << e.what() << "\n";
        status = kExitUsage;
    } catch (const std::exception& e) {
        std::cerr << "firmora-sim: " << e.what() << "\n";
        status = kExitFailed;
    }
    ::close(stopFd);
    return status;
}
