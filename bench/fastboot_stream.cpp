// fastboot_stream: how fast, and with how much memory, an image streams to a
// fastboot device over TCP on loopback.
//
// One patterned image (512 MiB by default, and a smaller one to show that the
// memory a client needs does not grow with the image) is flashed to the
// partition "boot" of firmora-sim, in several rounds, by
//   - the null client: a sender inside this program that streams the same
//     byte count from memory; as one frame its time is what the server
//     itself costs, as 4 KiB frames what that framing costs;
//   - firmora flash-plan, with a Config.ini whose one entry is
//     "boot | image.bin", and the same with a 4 KiB image (its cost apart
//     from streaming: process start, connections, the plan's pauses);
//   - our fastboot client alone (this program started again as a child with
//     --flash-image): one connection, "download:", the file streamed,
//     "flash:boot", without the plan and its pauses between steps;
//   - the Android fastboot client, against a server announcing a
//     max-download-size of 0x20000000 (one download) and of 0x1000000
//     (the client cuts the image into sparse pieces of 16 MiB).
// Each client is a child process: wall time from start to exit, throughput,
// its peak resident set and CPU time (wait4), and the server's CPU time over
// the run (/proc). Every flash of a whole image is checked against the
// image's digest as the server prints it.
//
// usage: fastboot_stream [--size MIB] [--small-size MIB] [--rounds N]
//                        [--firmora PATH] [--sim PATH] [--fastboot PATH]
//                        [--scenario FILE]
//        fastboot_stream --flash-image DEVICE IMAGE BYTES   (the child mode)

#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "support/bench_files.h"
#include "support/child_process.h"
#include "support/firmora_flash.h"
#include "support/image_file.h"
#include "support/null_client.h"
#include "support/sim_server.h"

namespace fs = std::filesystem;
using namespace firmora::bench;
using std::chrono::seconds;

namespace {

constexpr uint64_t kMiB = 1u << 20;
constexpr uint32_t kTinyBytes = 4096;

struct Settings {
    uint64_t sizeMiB = 512;
    uint64_t smallSizeMiB = 64;
    int rounds = 3;
    std::string firmora;
    std::string sim;
    std::string fastboot = "fastboot";
    std::string scenario = FIRMORA_SCENARIO_DIR "/default.json";
};

enum class Client { Null, Null4K, Firmora, FirmoraFixed, FirmoraImage, AndroidOne, AndroidPieces };

const char* ClientName(Client client) {
    switch (client) {
        case Client::Null: return "null client (server cost)";
        case Client::Null4K: return "null client, 4 KiB messages";
        case Client::Firmora: return "firmora flash-plan";
        case Client::FirmoraFixed: return "firmora flash-plan, 4 KiB image";
        case Client::FirmoraImage: return "firmora client, FlashImage only";
        case Client::AndroidOne: return "fastboot, one download";
        case Client::AndroidPieces: return "fastboot, 16 MiB sparse pieces";
    }
    return "?";
}

struct Sample {
    ChildResult child;
    double serverCpuSeconds = 0;
};

struct Row {
    Client client;
    std::vector<Sample> samples;
    std::string failure;  // empty when every round passed
};

void WriteText(const fs::path& path, const std::string& text) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file << text;
    if (!file) throw std::runtime_error("cannot write " + path.string());
}

// A scenario that starts in the boot loader, returns to it after a reboot at
// once, answers without artificial delays, and has room for the image.
void WriteScenario(const fs::path& path, const std::string& base, const char* maxDownloadSize) {
    WriteText(path, std::string("{\n  \"extends\": \"") + base + "\",\n" +
                        "  \"name\": \"bench\",\n"
                        "  \"usb\": {\"personality\": \"bootloader\"},\n"
                        "  \"transitions\": {\"resetMs\": 50, \"resetReturnsAs\": \"bootloader\"},\n"
                        "  \"bootloader\": {\"replyDelayMs\": 0, \"writeMsPerMiB\": 0, \"maxDownloadSize\": \"" +
                        maxDownloadSize + "\"},\n" +
                        "  \"partitions\": {\"boot\": {\"capacity\": 4294967295}}\n}\n");
}

struct Summary {
    double bestWall = 0, medianWall = 0, peakRss = 0, clientCpu = 0, serverCpu = 0;
};

Summary Summarise(const Row& row) {
    Summary s;
    std::vector<double> walls, cpus, servers;
    for (const Sample& sample : row.samples) {
        walls.push_back(sample.child.wallSeconds);
        cpus.push_back(sample.child.userSeconds + sample.child.systemSeconds);
        servers.push_back(sample.serverCpuSeconds);
        s.peakRss = std::max(s.peakRss, sample.child.peakRssMiB);
    }
    if (walls.empty()) return s;
    s.bestWall = *std::min_element(walls.begin(), walls.end());
    s.medianWall = Median(walls);
    s.clientCpu = Median(cpus);
    s.serverCpu = Median(servers);
    return s;
}

class Bench {
public:
    Bench(Settings settings, fs::path folder) : settings_(std::move(settings)), folder_(std::move(folder)) {}

    // Flashes an image of `sizeMiB` with every client; the rows in table order.
    std::vector<Row> Run(uint64_t sizeMiB) {
        const uint64_t bytes = sizeMiB * kMiB;
        if (bytes > 0xffffffffull) throw std::runtime_error("a fastboot download holds at most 4 GiB - 1");
        image_ = folder_ / "image.bin";
        std::cerr << "writing a " << sizeMiB << " MiB image ...\n";
        digest_ = WritePatternedImage(image_.string(), bytes);
        bytes_ = static_cast<uint32_t>(bytes);
        WriteText(folder_ / "Config.ini",
                  "[DownloadItems]\r\nbFastbootConfiguration=1\r\n"
                  "[FastbootDownloadFiles]\r\nDL0 = boot | image.bin\r\n");
        // The same run with a tiny image: what firmora costs apart from streaming.
        fs::create_directories(folder_ / "tiny");
        tinyDigest_ = WritePatternedImage((folder_ / "tiny" / "image.bin").string(), kTinyBytes);
        WriteText(folder_ / "tiny" / "Config.ini",
                  "[DownloadItems]\r\nbFastbootConfiguration=1\r\n"
                  "[FastbootDownloadFiles]\r\nDL0 = boot | image.bin\r\n");

        std::vector<Row> rows = {{Client::Null, {}, {}},
                                 {Client::Null4K, {}, {}},
                                 {Client::Firmora, {}, {}},
                                 {Client::FirmoraFixed, {}, {}},
                                 {Client::FirmoraImage, {}, {}}};
        if (androidAvailable_) rows.push_back({Client::AndroidOne, {}, {}});
        {
            const fs::path scenario = folder_ / "one-download.json";
            WriteScenario(scenario, settings_.scenario, "0x20000000");
            SimServer server(settings_.sim, scenario.string(), (folder_ / "sim.log").string());
            // Rounds interleave the clients, so that a slow moment of the
            // machine does not fall on one client only.
            for (int round = 0; round < settings_.rounds; ++round) {
                for (Row& row : rows) RunOnce(server, row);
            }
        }
        if (androidAvailable_) {
            Row pieces{Client::AndroidPieces, {}, {}};
            const fs::path scenario = folder_ / "pieces.json";
            WriteScenario(scenario, settings_.scenario, "0x1000000");
            SimServer server(settings_.sim, scenario.string(), (folder_ / "sim.log").string());
            for (int round = 0; round < settings_.rounds; ++round) RunOnce(server, pieces);
            rows.push_back(std::move(pieces));
        }
        fs::remove(image_);
        return rows;
    }

    void set_androidAvailable(bool available) { androidAvailable_ = available; }
    void set_self(std::string self) { self_ = std::move(self); }

private:
    void RunOnce(SimServer& server, Row& row) {
        if (!row.failure.empty()) return;
        server.DropLines();
        const double cpuBefore = server.CpuSeconds();
        const std::string log = (folder_ / "client.log").string();
        fs::remove(log);
        Sample sample;
        switch (row.client) {
            case Client::Null:
            case Client::Null4K: {
                const uint16_t port = server.port();
                const uint32_t bytes = bytes_;
                const uint32_t frame = row.client == Client::Null4K ? 4096 : 0;
                sample.child = RunForked([port, bytes, frame] {
                    const std::string problem = NullFlash(port, "boot", bytes, frame);
                    if (!problem.empty()) std::fprintf(stderr, "null client: %s\n", problem.c_str());
                    return problem.empty() ? 0 : 1;
                });
                break;
            }
            case Client::Firmora:
            case Client::FirmoraFixed: {
                const fs::path config =
                    row.client == Client::Firmora ? folder_ / "Config.ini" : folder_ / "tiny" / "Config.ini";
                sample.child = RunProgram(
                    {settings_.firmora, "flash-plan", "--config", config.string(), "--device", server.address()}, log);
                break;
            }
            case Client::FirmoraImage:
                sample.child = RunProgram({self_, "--flash-image", server.address(), image_.string(),
                                           std::to_string(bytes_)},
                                          log);
                break;
            case Client::AndroidOne:
            case Client::AndroidPieces:
                sample.child = RunProgram({settings_.fastboot, "-s", server.address(), "flash", "boot",
                                           image_.string()},
                                          log);
                break;
        }
        std::string failure;
        if (sample.child.exitCode != 0) failure = "exit status " + std::to_string(sample.child.exitCode);
        if (failure.empty()) failure = CheckFlash(server, row.client);
        sample.serverCpuSeconds = server.CpuSeconds() - cpuBefore;
        if (failure.empty() && (row.client == Client::Firmora || row.client == Client::FirmoraFixed) &&
            !server.WaitForLine("arrival bootloader", seconds(10))) {
            failure = "the device did not come back after the reboot";
        }
        if (!failure.empty()) {
            std::ifstream text(log);
            std::string last, line;
            while (std::getline(text, line)) {
                if (!line.empty()) last = line;
            }
            row.failure = failure + (last.empty() ? "" : " (" + last + ")");
            std::cerr << ClientName(row.client) << ": " << row.failure << '\n';
            return;
        }
        row.samples.push_back(sample);
        std::fprintf(stderr, "  %-32s %7.3f s  %7.1f MiB RSS\n", ClientName(row.client), sample.child.wallSeconds,
                     sample.child.peakRssMiB);
    }

    // What the device received: the whole image, unless the client cut it
    // into sparse pieces (then the partition holds the last piece).
    std::string CheckFlash(SimServer& server, Client client) {
        if (client == Client::AndroidPieces) {
            if (!server.WaitForLine("flash boot ", seconds(10))) return "no flash reached the device";
            // Let the lines of the remaining pieces arrive before the next round.
            while (server.WaitForLine("flash boot ", std::chrono::milliseconds(300))) {
            }
            return {};
        }
        if (client == Client::FirmoraFixed) {
            const std::string expected = "flash boot size " + std::to_string(kTinyBytes) + " xxh3 " + tinyDigest_;
            const std::optional<std::string> line = server.WaitForLine("flash boot ", seconds(10));
            if (!line) return "no flash reached the device";
            return *line == expected ? "" : "the device received something else: " + *line;
        }
        // The null client streams a pattern of its own, not the image.
        const std::string size = "flash boot size " + std::to_string(bytes_) + " xxh3 ";
        const std::string expected = client == Client::Null || client == Client::Null4K ? size : size + digest_;
        const std::optional<std::string> line = server.WaitForLine("flash boot ", seconds(10));
        if (!line) return "no flash reached the device";
        if (!line->starts_with(expected)) return "the device received something else: " + *line;
        return {};
    }

    Settings settings_;
    fs::path folder_;
    fs::path image_;
    std::string digest_;
    std::string tinyDigest_;
    uint32_t bytes_ = 0;
    bool androidAvailable_ = true;
    std::string self_;  // this program, for the child mode
};

void PrintTable(uint64_t sizeMiB, const std::vector<Row>& rows, int rounds) {
    std::printf("\nimage %llu MiB, %d rounds (best and median of the rounds)\n",
                static_cast<unsigned long long>(sizeMiB), rounds);
    std::printf("| %-32s | %8s | %8s | %9s | %9s | %9s | %9s |\n", "client", "best s", "median s", "MiB/s", "peak RSS",
                "client CPU", "server CPU");
    std::printf("|%s|%s|%s|%s|%s|%s|%s|\n", std::string(34, '-').c_str(), std::string(10, '-').c_str(),
                std::string(10, '-').c_str(), std::string(11, '-').c_str(), std::string(11, '-').c_str(),
                std::string(11, '-').c_str(), std::string(11, '-').c_str());
    for (const Row& row : rows) {
        if (row.samples.empty()) {
            std::printf("| %-32s | failed: %s\n", ClientName(row.client), row.failure.c_str());
            continue;
        }
        const Summary s = Summarise(row);
        char throughput[16] = "-";
        if (row.client != Client::FirmoraFixed) {
            std::snprintf(throughput, sizeof throughput, "%.0f", static_cast<double>(sizeMiB) / s.bestWall);
        }
        std::printf("| %-32s | %8.3f | %8.3f | %9s | %5.1f MiB | %8.2f s | %8.2f s |\n", ClientName(row.client),
                    s.bestWall, s.medianWall, throughput, s.peakRss, s.clientCpu, s.serverCpu);
    }
}

const Row* FindRow(const std::vector<Row>& rows, Client client) {
    for (const Row& row : rows) {
        if (row.client == client && !row.samples.empty()) return &row;
    }
    return nullptr;
}

void PrintGoals(const Settings& settings, const std::vector<Row>& big, const std::vector<Row>& small) {
    std::printf("\ngoals\n");
    const Row* ours = FindRow(big, Client::Firmora);
    if (ours == nullptr) {
        std::printf("- firmora flash-plan failed; no figures to compare\n");
        return;
    }
    const Summary us = Summarise(*ours);
    double androidBest = 0;
    for (Client client : {Client::AndroidOne, Client::AndroidPieces}) {
        if (const Row* row = FindRow(big, client)) {
            const double best = Summarise(*row).bestWall;
            androidBest = androidBest == 0 ? best : std::min(androidBest, best);
        }
    }
    if (androidBest > 0) {
        std::printf("- wall time at %llu MiB: ours %.3f s, the Android client's best %.3f s: %s\n",
                    static_cast<unsigned long long>(settings.sizeMiB), us.bestWall, androidBest,
                    us.bestWall <= androidBest ? "met" : "MISSED");
    }
    if (const Row* fixed = FindRow(big, Client::FirmoraFixed)) {
        const double streaming = us.bestWall - Summarise(*fixed).bestWall;
        std::printf("- of which streaming (ours minus the 4 KiB run): %.3f s, %.0f MiB/s\n", streaming,
                    static_cast<double>(settings.sizeMiB) / streaming);
    }
    if (const Row* image = FindRow(big, Client::FirmoraImage); image != nullptr && androidBest > 0) {
        const Summary alone = Summarise(*image);
        std::printf("- our client without the plan's pauses: %.3f s against %.3f s: %s; peak RSS %.1f MiB\n",
                    alone.bestWall, androidBest, alone.bestWall <= androidBest ? "met" : "MISSED", alone.peakRss);
    }
    std::printf("- peak RSS at %llu MiB: %.1f MiB (goal: under 32 MiB): %s\n",
                static_cast<unsigned long long>(settings.sizeMiB), us.peakRss, us.peakRss < 32 ? "met" : "MISSED");
    if (const Row* smallOurs = FindRow(small, Client::Firmora)) {
        const double smallRss = Summarise(*smallOurs).peakRss;
        std::printf("- peak RSS at %llu MiB: %.1f MiB; growth from the small to the large image: %+.1f MiB\n",
                    static_cast<unsigned long long>(settings.smallSizeMiB), smallRss, us.peakRss - smallRss);
    }
}

bool AndroidClientWorks(const std::string& fastboot, const fs::path& folder) {
    try {
        return RunProgram({fastboot, "--version"}, (folder / "fastboot-version.log").string()).exitCode == 0;
    } catch (const std::exception&) {
        return false;
    }
}

std::string FirstLine(const fs::path& path) {
    std::ifstream file(path);
    std::string line;
    std::getline(file, line);
    return line;
}

constexpr const char* kUsage =
    "usage: fastboot_stream [--size MIB] [--small-size MIB (0: none)] [--rounds N]\n"
    "                       [--firmora PATH] [--sim PATH] [--fastboot PATH] [--scenario FILE]\n"
    "       fastboot_stream --flash-image DEVICE IMAGE BYTES\n";

int Usage(const std::string& problem) {
    std::cerr << "fastboot_stream: " << problem << '\n' << kUsage;
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::setvbuf(stdout, nullptr, _IOLBF, 0);
    // The child mode: our client flashes one image and exits with its outcome.
    if (argc == 5 && std::string(argv[1]) == "--flash-image") {
        try {
            const uint64_t bytes = std::stoull(argv[4]);
            if (bytes > 0xffffffffull) return Usage("a fastboot download holds at most 4 GiB - 1");
            return FirmoraFlashImage(argv[2], argv[3], static_cast<uint32_t>(bytes), "boot") == 0 ? 0 : 1;
        } catch (const std::exception&) {
            return Usage("BYTES must be a number");
        }
    }
    Settings settings;
    settings.firmora = ProgramBeside("firmora");
    settings.sim = ProgramBeside("firmora-sim");
    try {
        for (int i = 1; i < argc; ++i) {
            const std::string arg = argv[i];
            if (arg == "--help" || arg == "-h") {
                std::cout << kUsage;
                return 0;
            }
            if (i + 1 >= argc) return Usage("option " + arg + " needs a value");
            const std::string value = argv[++i];
            if (arg == "--size") settings.sizeMiB = std::stoull(value);
            else if (arg == "--small-size") settings.smallSizeMiB = std::stoull(value);
            else if (arg == "--rounds") settings.rounds = std::stoi(value);
            else if (arg == "--firmora") settings.firmora = value;
            else if (arg == "--sim") settings.sim = value;
            else if (arg == "--fastboot") settings.fastboot = value;
            else if (arg == "--scenario") settings.scenario = fs::absolute(value).string();
            else return Usage("unknown option: " + arg);
        }
    } catch (const std::exception&) {
        return Usage("a size or count must be a number");
    }
    if (settings.sizeMiB == 0 || settings.rounds < 1) return Usage("size and rounds must be at least 1");

    try {
        TempFolder folder;
        Bench bench(settings, folder.path());
        const bool android = AndroidClientWorks(settings.fastboot, folder.path());
        bench.set_androidAvailable(android);
        bench.set_self(ProgramBeside("fastboot_stream"));

        std::printf("fastboot_stream: %d cores, %s; firmora-sim on 127.0.0.1\n",
                    static_cast<int>(::sysconf(_SC_NPROCESSORS_ONLN)),
                    android ? FirstLine(folder.path() / "fastboot-version.log").c_str()
                            : "no Android fastboot client found");
        const std::vector<Row> big = bench.Run(settings.sizeMiB);
        PrintTable(settings.sizeMiB, big, settings.rounds);
        std::vector<Row> small;
        if (settings.smallSizeMiB > 0) {
            small = bench.Run(settings.smallSizeMiB);
            PrintTable(settings.smallSizeMiB, small, settings.rounds);
        }
        PrintGoals(settings, big, small);
        std::printf("\npeak RSS floor: a child starts from this program's own resident set, %.1f MiB\n",
                    OwnPeakRssMiB());
        bool failed = false;
        for (const std::vector<Row>* rows : {&big, static_cast<const std::vector<Row>*>(&small)}) {
            for (const Row& row : *rows) failed = failed || !row.failure.empty();
        }
        return failed ? 1 : 0;
    } catch (const std::exception& e) {
        std::cerr << "fastboot_stream: " << e.what() << '\n';
        return 1;
    }
}
