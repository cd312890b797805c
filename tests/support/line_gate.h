#pragma once
// Holds a worker's thread at a chosen report line until the test lets it
// go: the test names the line, the worker's report path calls Arrive with
// each line it makes, and the test waits until the worker is there.

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>

namespace firmora::testing {

class LineGate {
public:
    explicit LineGate(std::string line) : line_(std::move(line)) {}

    // The worker's thread: blocks at the chosen line until Open.
    void Arrive(const std::string& line) {
        if (line != line_) return;
        std::unique_lock lock(mutex_);
        reached_ = true;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
    }
    bool WaitReached() {
        std::unique_lock lock(mutex_);
        // A guard against a worker that never gets there, not a timing claim.
        return changed_.wait_for(lock, std::chrono::seconds(60), [this] { return reached_; });
    }
    void Open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }

private:
    const std::string line_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool reached_ = false;
    bool open_ = false;
};

}  // namespace firmora::testing
