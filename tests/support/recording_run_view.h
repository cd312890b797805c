#pragma once
// A RunView for tests: keeps every line and gauge call in order, from any
// thread. Header-only: only suites that link the engine use it.

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "engine/run_view.h"

namespace firmora::testing {

class RecordingRunView final : public engine::RunView {
public:
    struct Line {
        std::string text;
        int kind;         // core::ReportKind
        uint64_t ms = 0;  // the clock's ticks when it came, when `now` is set
    };

    // Optional: the clock the lines are stamped with, and a hook called on
    // the reporting thread after each line is kept (outside the lock).
    std::function<uint64_t()> now;
    std::function<void(const Line&)> onLine;

    void StatusCallback(int, const std::string& text, int kind) override { Add({text, kind}); }
    void ErrorCallback(int, const std::string& text) override { Add({text, 2}); }
    void SetGaugeMax(int, int maximum) override {
        std::lock_guard lock(mutex_);
        gaugeMax = maximum;
    }
    void SetGaugePosition(int, int position) override {
        std::lock_guard lock(mutex_);
        gauge.push_back(position);
    }

    std::vector<Line> Lines() const {
        std::lock_guard lock(mutex_);
        return lines_;
    }
    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const Line& line : Lines()) texts.push_back(line.text);
        return texts;
    }
    // The lines of the run's failure ("ERROR, ...").
    std::vector<std::string> Failures() const {
        std::vector<std::string> found;
        for (const Line& line : Lines()) {
            if (line.text.rfind("ERROR, ", 0) == 0) found.push_back(line.text);
        }
        return found;
    }
    // The first line holding `text`, if any.
    std::optional<Line> First(const std::string& text) const {
        for (const Line& line : Lines()) {
            if (line.text.find(text) != std::string::npos) return line;
        }
        return std::nullopt;
    }
    bool Has(const std::string& text) const {
        for (const Line& line : Lines()) {
            if (line.text == text) return true;
        }
        return false;
    }
    size_t Count(const std::string& text) const {
        size_t n = 0;
        for (const Line& line : Lines()) n += line.text == text ? 1 : 0;
        return n;
    }

    int gaugeMax = 0;
    std::vector<int> gauge;

private:
    void Add(Line line) {
        if (now) line.ms = now();
        {
            std::lock_guard lock(mutex_);
            lines_.push_back(line);
        }
        if (onLine) onLine(line);
    }

    mutable std::mutex mutex_;
    std::vector<Line> lines_;
};

}  // namespace firmora::testing
