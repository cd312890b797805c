#pragma once
// firmora-sim as the benchmark's device: started on a scenario with a free
// fastboot TCP port, its event lines ("fastboot tcp:...", "flash P size N
// xxh3 D", "arrival bootloader") read as they come, its CPU time read from
// /proc. Stopped with SIGTERM when the object goes away.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace firmora::bench {

class SimServer {
public:
    // How the device is started beyond its scenario.
    struct Options {
        // The fastboot TCP port; 0: a free one, which the device prints once
        // it is in its boot loader (so the scenario must start there).
        uint16_t port = 0;
        std::vector<std::string> extraArgs;  // e.g. "--time-scale", "10", "--link-dir", DIR
    };
    // Starts `program` on `scenarioFile`, its stderr appended to `logFile`,
    // and waits for its port (with a port given: for its "ready" line);
    // throws std::runtime_error when it does not come up.
    SimServer(const std::string& program, const std::string& scenarioFile, const std::string& logFile);
    SimServer(const std::string& program, const std::string& scenarioFile, const std::string& logFile,
              const Options& options);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    uint16_t port() const { return port_; }
    std::string address() const { return "tcp:127.0.0.1:" + std::to_string(port_); }

    // The next event line starting with `prefix`; earlier lines are dropped.
    // Nullopt when none came within `timeout` or the program ended.
    std::optional<std::string> WaitForLine(std::string_view prefix, std::chrono::milliseconds timeout);
    // Forgets the lines read so far.
    void DropLines();

    // User plus system CPU seconds the program has used so far (all threads).
    double CpuSeconds() const;

private:
    void ReadLines();

    pid_t pid_ = -1;
    int outFd_ = -1;
    uint16_t port_ = 0;
    std::thread reader_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<std::string> lines_;
    bool ended_ = false;
};

}  // namespace firmora::bench
