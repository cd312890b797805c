#include "support/sim_server.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

extern char** environ;

namespace firmora::bench {

SimServer::SimServer(const std::string& program, const std::string& scenarioFile, const std::string& logFile)
    : SimServer(program, scenarioFile, logFile, Options{}) {}

SimServer::SimServer(const std::string& program, const std::string& scenarioFile, const std::string& logFile,
                     const Options& options) {
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) throw std::runtime_error(std::string("pipe: ") + std::strerror(errno));
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, logFile.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    std::vector<std::string> argv = {program, "--scenario", scenarioFile, "--fastboot-port",
                                     std::to_string(options.port)};
    argv.insert(argv.end(), options.extraArgs.begin(), options.extraArgs.end());
    std::vector<char*> args;
    for (std::string& arg : argv) args.push_back(arg.data());
    args.push_back(nullptr);
    const int error = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (error != 0) {
        ::close(out[0]);
        throw std::runtime_error("cannot start " + program + ": " + std::strerror(error));
    }
    outFd_ = out[0];
    reader_ = std::thread([this] { ReadLines(); });

    constexpr std::string_view kPortLine = "fastboot tcp:127.0.0.1:";
    const std::optional<std::string> line =
        WaitForLine(options.port == 0 ? kPortLine : "ready", std::chrono::seconds(10));
    if (!line) {
        std::ifstream log(logFile);
        std::stringstream text;
        text << log.rdbuf();
        throw std::runtime_error("firmora-sim did not start on " + scenarioFile + ": " + text.str());
    }
    port_ = options.port != 0 ? options.port : static_cast<uint16_t>(std::stoi(line->substr(kPortLine.size())));
}

SimServer::~SimServer() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    if (reader_.joinable()) reader_.join();
    if (outFd_ >= 0) ::close(outFd_);
}

void SimServer::ReadLines() {
    std::string pending;
    char buffer[4096];
    for (;;) {
        const ssize_t got = ::read(outFd_, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        pending.append(buffer, static_cast<size_t>(got));
        size_t end;
        std::lock_guard lock(mutex_);
        while ((end = pending.find('\n')) != std::string::npos) {
            lines_.push_back(pending.substr(0, end));
            pending.erase(0, end + 1);
        }
        changed_.notify_all();
    }
    std::lock_guard lock(mutex_);
    ended_ = true;
    changed_.notify_all();
}

std::optional<std::string> SimServer::WaitForLine(std::string_view prefix, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex_);
    for (;;) {
        while (!lines_.empty()) {
            std::string line = std::move(lines_.front());
            lines_.pop_front();
            if (line.starts_with(prefix)) return line;
        }
        if (ended_) return std::nullopt;
        if (changed_.wait_until(lock, deadline) == std::cv_status::timeout && lines_.empty()) return std::nullopt;
    }
}

void SimServer::DropLines() {
    std::lock_guard lock(mutex_);
    lines_.clear();
}

double SimServer::CpuSeconds() const {
    std::ifstream stat("/proc/" + std::to_string(pid_) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    // Fields after the command name in parentheses, which may contain blanks.
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return 0;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    unsigned long long utime = 0, stime = 0;
    for (int index = 3; fields >> field; ++index) {
        if (index == 14) utime = std::stoull(field);
        if (index == 15) {
            stime = std::stoull(field);
            break;
        }
    }
    return static_cast<double>(utime + stime) / static_cast<double>(::sysconf(_SC_CLK_TCK));
}

}  // namespace firmora::bench
