#pragma once
// Built programs run as child processes by the tools tests: firmora-sim,
// firmora itself and the Android fastboot client. A child's output is read
// line by line with a time bound, and a child still running when its object
// goes away is killed, so that a hang cannot block CI.

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

extern char** environ;

namespace firmora::simtool {

// A program built into the same folder as the running test program.
inline std::filesystem::path ProgramBeside(const std::string& name) {
    return std::filesystem::read_symlink("/proc/self/exe").parent_path() / name;
}

// A child process whose output (stdout and stderr) is read line by line;
// killed if still running when the object is destroyed.
class Child {
public:
    using SteadyClock = std::chrono::steady_clock;

    explicit Child(std::vector<std::string> args) {
        int out[2];
        if (::pipe2(out, O_CLOEXEC) != 0) return;
        std::vector<char*> argv;
        for (std::string& arg : args) argv.push_back(arg.data());
        argv.push_back(nullptr);
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, out[1], 2);
        if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        output_ = out[0];
    }
    ~Child() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        if (output_ >= 0) ::close(output_);
    }
    Child(const Child&) = delete;
    Child& operator=(const Child&) = delete;

    bool running() const { return pid_ > 0; }

    // The next line matching `pattern` (earlier lines are kept in seen()).
    std::optional<std::smatch> WaitLine(const std::string& pattern,
                                        std::chrono::milliseconds limit = std::chrono::seconds(30)) {
        const std::regex re(pattern);
        const auto until = SteadyClock::now() + limit;
        for (;;) {
            while (next_ < lines_.size()) {
                std::smatch m;
                if (std::regex_match(lines_[next_++], m, re)) return m;
            }
            if (!ReadMore(until)) return std::nullopt;
        }
    }
    // Everything up to the end of the output (or the limit).
    std::string ReadToEnd(std::chrono::milliseconds limit) {
        const auto until = SteadyClock::now() + limit;
        while (ReadMore(until)) {
        }
        return seen() + partial_;
    }
    std::string seen() const {
        std::string all;
        for (const auto& line : lines_) all += line + "\n";
        return all;
    }

    // Exit status, or -1 when it did not end in time (it is then killed).
    int WaitExit(std::chrono::milliseconds limit) {
        const auto until = SteadyClock::now() + limit;
        int status = 0;
        while (::waitpid(pid_, &status, WNOHANG) == 0) {
            if (SteadyClock::now() > until) return -1;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    void Signal(int signal) { ::kill(pid_, signal); }

private:
    bool ReadMore(SteadyClock::time_point until) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - SteadyClock::now());
        pollfd p{output_, POLLIN, 0};
        if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) != 1) return false;
        char buffer[4096];
        const ssize_t n = ::read(output_, buffer, sizeof buffer);
        if (n <= 0) return false;
        partial_.append(buffer, static_cast<size_t>(n));
        for (size_t end; (end = partial_.find('\n')) != std::string::npos;) {
            lines_.push_back(partial_.substr(0, end));
            partial_.erase(0, end + 1);
        }
        return true;
    }

    pid_t pid_ = -1;
    int output_ = -1;
    std::string partial_;
    std::vector<std::string> lines_;
    size_t next_ = 0;
};

// The Android fastboot client, given 30 s: exit code (-1 when it hung) and output.
inline std::pair<int, std::string> RunFastboot(std::vector<std::string> args) {
    args.insert(args.begin(), "/usr/bin/fastboot");
    Child client(std::move(args));
    std::string output = client.ReadToEnd(std::chrono::seconds(30));
    return {client.WaitExit(std::chrono::seconds(1)), std::move(output)};
}

}  // namespace firmora::simtool
