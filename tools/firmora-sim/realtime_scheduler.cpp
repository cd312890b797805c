#include "firmora-sim/realtime_scheduler.h"

#include <algorithm>
#include <cmath>
#include <exception>
#include <iostream>
#include <limits>

namespace firmora::simtool {
namespace {

using Clock = std::chrono::steady_clock;

// Far-off deadlines are waited for in slices of this, so that no time point
// arithmetic can overflow.
constexpr auto kLongestWait = std::chrono::hours(1);
// Device times beyond this many nanoseconds (about 30 years) count as "never".
constexpr double kFarNs = 1e18;

}  // namespace

RealtimeScheduler::RealtimeScheduler(std::mutex& modemLock, double timeScale)
    : modemLock_(modemLock),
      scale_(std::isfinite(timeScale) && timeScale > 0 ? timeScale : 1.0),
      start_(Clock::now()) {}

RealtimeScheduler::~RealtimeScheduler() { Stop(); }

uint64_t RealtimeScheduler::NowMs() const {
    const double elapsedNs = static_cast<double>((Clock::now() - start_).count());
    return static_cast<uint64_t>(elapsedNs * scale_ / 1e6);
}

Clock::time_point RealtimeScheduler::RealTimeOf(uint64_t dueMs) const {
    const double ns = std::min(static_cast<double>(dueMs) * 1e6 / scale_, kFarNs);
    return start_ + std::chrono::nanoseconds(static_cast<int64_t>(ns));
}

void RealtimeScheduler::After(uint64_t delayMs, std::function<void()> fn) {
    if (!fn) return;
    const uint64_t now = NowMs();
    const uint64_t due = delayMs > std::numeric_limits<uint64_t>::max() - now
                             ? std::numeric_limits<uint64_t>::max()
                             : now + delayMs;
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        if (stopping_) return;
        queue_.emplace(Key{due, nextSequence_++}, std::move(fn));
    }
    wake_.notify_one();
}

void RealtimeScheduler::Start() {
    std::lock_guard<std::mutex> lock(queueLock_);
    if (thread_.joinable() || stopping_) return;
    thread_ = std::thread([this] { Run(); });
}

void RealtimeScheduler::Stop() {
    {
        std::lock_guard<std::mutex> lock(queueLock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
    std::lock_guard<std::mutex> lock(queueLock_);
    queue_.clear();
}

size_t RealtimeScheduler::Pending() const {
    std::lock_guard<std::mutex> lock(queueLock_);
    return queue_.size();
}

void RealtimeScheduler::SetAfterEach(std::function<void()> hook) {
    std::lock_guard<std::mutex> lock(queueLock_);
    afterEach_ = std::move(hook);
}

void RealtimeScheduler::Run() {
    std::unique_lock<std::mutex> lock(queueLock_);
    while (!stopping_) {
        if (queue_.empty()) {
            wake_.wait(lock);
            continue;
        }
        const auto first = queue_.begin();
        const auto now = Clock::now();
        const auto due = RealTimeOf(first->first.first);
        if (now < due) {
            wake_.wait_until(lock, std::min(due, now + kLongestWait));
            continue;
        }
        std::function<void()> fn = std::move(first->second);
        queue_.erase(first);
        const std::function<void()> afterEach = afterEach_;
        lock.unlock();
        {
            // Lock order everywhere: the modem lock before the queue lock
            // (After is called under the modem lock).
            std::lock_guard<std::mutex> modem(modemLock_);
            bool stopped;
            {
                std::lock_guard<std::mutex> queue(queueLock_);
                stopped = stopping_;
            }
            if (!stopped) {
                try {
                    fn();
                    if (afterEach) afterEach();
                } catch (const std::exception& e) {
                    // One failing device event must not take the whole device down.
                    std::cerr << "firmora-sim: device event failed: " << e.what() << std::endl;
                }
            }
        }
        lock.lock();
    }
}

}  // namespace firmora::simtool
