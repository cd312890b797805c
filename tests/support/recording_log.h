#pragma once
// A LineLog for tests: keeps every line; safe to write from several threads.

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "core/line_log.h"

namespace firmora::testing {

class RecordingLog final : public core::LineLog {
public:
    void Log(const std::string& text) override {
        std::lock_guard lock(mutex_);
        lines_.push_back(text);
    }
    std::vector<std::string> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    bool Has(const std::string& text) const {
        const std::vector<std::string> lines = Lines();
        return std::find(lines.begin(), lines.end(), text) != lines.end();
    }
    size_t Count(const std::string& text) const {
        const std::vector<std::string> lines = Lines();
        return static_cast<size_t>(std::count(lines.begin(), lines.end(), text));
    }
    void Clear() {
        std::lock_guard lock(mutex_);
        lines_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> lines_;
};

}  // namespace firmora::testing
