#pragma once
// Collects the device-change events an enumerator raises on its own thread.

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>

#include "platform/device_enumerator.h"

namespace firmora::testing {

class ChangeEvents {
public:
    platform::DeviceEnumerator::ChangeHandler Handler() {
        return [this](const platform::DeviceChangeEvent& event) {
            std::lock_guard lock(mutex_);
            events_.push_back(event);
            changed_.notify_all();
        };
    }
    // The next event, or nullopt after a generous wait (a failure, not a timing).
    std::optional<platform::DeviceChangeEvent> Next() {
        std::unique_lock lock(mutex_);
        if (!changed_.wait_for(lock, std::chrono::seconds(10), [this] { return !events_.empty(); })) {
            return std::nullopt;
        }
        platform::DeviceChangeEvent event = events_.front();
        events_.pop_front();
        return event;
    }

    static std::string Describe(const std::optional<platform::DeviceChangeEvent>& event) {
        if (!event) return "no event";
        return std::string(event->change == platform::DeviceChange::Arrival ? "arrival " : "removal ") +
               (event->isPort ? "port " : "device ") + event->name;
    }
    // Whether `event` is the arrival or removal of port `com`.
    static bool IsPort(const std::optional<platform::DeviceChangeEvent>& event, platform::DeviceChange change,
                       const std::string& com) {
        return event && event->change == change && event->isPort && event->name == com;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::deque<platform::DeviceChangeEvent> events_;
};

}  // namespace firmora::testing
