#include "cli/console_progress.h"

#include <algorithm>

#include "core/reporter.h"
#include "package/options_json.h"

namespace firmora::cli {
namespace {

constexpr int kBarWidth = 40;
constexpr const char* kClearLine = "\r\x1b[K";
constexpr const char* kRed = "\x1b[31m";
constexpr const char* kGreen = "\x1b[32m";
constexpr const char* kPlain = "\x1b[0m";

}  // namespace

ConsoleProgress::ConsoleProgress(std::ostream& out, Options options, const platform::Clock& clock)
    : out_(out), options_(options), clock_(clock) {}

void ConsoleProgress::StatusCallback(int /*slot*/, const std::string& text, int kind) {
    if (kind == core::kReportTrace && !options_.showTrace) return;
    std::lock_guard lock(mutex_);
    PrintLine(text, kind);
}

void ConsoleProgress::ErrorCallback(int /*slot*/, const std::string& text) {
    std::lock_guard lock(mutex_);
    PrintLine(text, core::kReportError);
}

void ConsoleProgress::SetGaugeMax(int /*slot*/, int maximum) {
    std::lock_guard lock(mutex_);
    maximum_ = std::max(maximum, 1);
    position_ = 0;
    drawnPosition_ = -1;
}

void ConsoleProgress::SetGaugePosition(int /*slot*/, int position) {
    std::lock_guard lock(mutex_);
    position_ = std::clamp(position, 0, maximum_);
    if (!options_.terminal || position_ == drawnPosition_) return;
    const uint64_t now = clock_.TickCount();
    // The first position and the full bar are always shown; in between at
    // most one redraw per interval.
    if (barVisible_ && position_ < maximum_ && now - lastDrawMs_ < options_.redrawIntervalMs) return;
    lastDrawMs_ = now;
    DrawBar();
}

void ConsoleProgress::Finish() {
    std::lock_guard lock(mutex_);
    if (!barVisible_) return;
    if (drawnPosition_ != position_) DrawBar();
    out_ << '\n';
    out_.flush();
    barVisible_ = false;
    drawnPosition_ = -1;
}

void ConsoleProgress::PrintLine(const std::string& text, int kind) {
    const bool wasVisible = barVisible_;
    ClearBar();
    const char* colour = nullptr;
    if (options_.terminal && kind == core::kReportError) colour = kRed;
    if (options_.terminal && kind == core::kReportSuccess) colour = kGreen;
    if (colour != nullptr) out_ << colour;
    // Report lines carry file names from a package and bytes from a device; a
    // control character among them must neither break the line apart nor
    // reach the terminal as an escape sequence.
    out_ << package::EscapeVisible(text);
    if (colour != nullptr) out_ << kPlain;
    out_ << '\n';
    if (wasVisible) DrawBar();
    out_.flush();
}

void ConsoleProgress::DrawBar() {
    const int percent = static_cast<int>(static_cast<int64_t>(position_) * 100 / maximum_);
    const int filled = static_cast<int>(static_cast<int64_t>(position_) * kBarWidth / maximum_);
    out_ << kClearLine << '[' << std::string(static_cast<size_t>(filled), '#')
         << std::string(static_cast<size_t>(kBarWidth - filled), '.') << "] " << percent << '%';
    out_.flush();
    barVisible_ = true;
    drawnPosition_ = position_;
}

void ConsoleProgress::ClearBar() {
    if (!barVisible_) return;
    out_ << kClearLine;
    barVisible_ = false;
}

}  // namespace firmora::cli
