#include "platform/posix/console_dialogs.h"

#include <string_view>

namespace firmora::platform {
namespace {

constexpr std::string_view kContinuationIndent = "  ";

// Message texts may carry device replies; control characters other than
// tabs would drive the terminal (escape sequences), so they print as '?'.
void PrintLine(std::ostream& out, std::string_view line) {
    for (char c : line) {
        const auto byte = static_cast<unsigned char>(c);
        out << ((byte < 0x20 && c != '\t') || byte == 0x7F ? '?' : c);
    }
}

}  // namespace

bool ButtonsOffer(DialogButtons buttons, DialogAnswer answer) {
    switch (buttons) {
        case DialogButtons::Ok: return answer == DialogAnswer::Ok;
        case DialogButtons::OkCancel:
            return answer == DialogAnswer::Ok || answer == DialogAnswer::Cancel;
        case DialogButtons::YesNo: return answer == DialogAnswer::Yes || answer == DialogAnswer::No;
        case DialogButtons::YesNoCancel:
            return answer == DialogAnswer::Yes || answer == DialogAnswer::No ||
                   answer == DialogAnswer::Cancel;
        case DialogButtons::RetryCancel:
            return answer == DialogAnswer::Retry || answer == DialogAnswer::Cancel;
        case DialogButtons::AbortRetryIgnore:
            return answer == DialogAnswer::Abort || answer == DialogAnswer::Retry ||
                   answer == DialogAnswer::Ignore;
    }
    return false;
}

ConsoleDialogs::ConsoleDialogs(std::ostream& out, std::optional<DialogAnswer> fixedAnswer)
    : out_(out), fixedAnswer_(fixedAnswer) {}

void ConsoleDialogs::PrintBox(const std::string& caption, const std::string& text) {
    std::lock_guard lock(mutex_);
    PrintLine(out_, caption);
    out_ << ": ";
    std::string_view rest = text;
    bool first = true;
    for (;;) {
        const size_t end = rest.find_first_of("\r\n");
        if (!first) out_ << kContinuationIndent;
        PrintLine(out_, rest.substr(0, end));
        out_ << '\n';
        if (end == std::string_view::npos) break;
        // "\r\n" is one line break.
        const size_t next = rest.compare(end, 2, "\r\n") == 0 ? end + 2 : end + 1;
        rest.remove_prefix(next);
        if (rest.empty()) break;
        first = false;
    }
    out_.flush();
}

DialogAnswer ConsoleDialogs::ShowMessage(const std::string& caption, const std::string& text,
                                         DialogButtons buttons, DialogIcon /*icon*/) {
    PrintBox(caption, text);
    if (fixedAnswer_ && ButtonsOffer(buttons, *fixedAnswer_)) return *fixedAnswer_;
    return DefaultAnswer(buttons);
}

bool ConsoleDialogs::ShowGuide(const GuideRequest& request) {
    std::string text;
    for (const std::string& page : request.pages) {
        if (!text.empty()) text += '\n';
        text += page;
    }
    PrintBox(request.title, text);
    return !(fixedAnswer_ && (*fixedAnswer_ == DialogAnswer::Cancel || *fixedAnswer_ == DialogAnswer::No));
}

}  // namespace firmora::platform
