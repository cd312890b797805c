#pragma once
// Message boxes for the command line: the box is printed as
// "<caption>: <text>" (further lines of the text indented) and answered at
// once, never waiting for input: with a fixed answer chosen on the command
// line when the box offers it, else with the box's default button. A guide
// wizard prints its title and pages the same way and is confirmed, unless
// the fixed answer is Cancel or No.

#include <iostream>
#include <mutex>
#include <optional>
#include <ostream>

#include "platform/dialogs.h"

namespace firmora::platform {

// True when a box with these buttons can give this answer.
bool ButtonsOffer(DialogButtons buttons, DialogAnswer answer);

class ConsoleDialogs final : public Dialogs {
public:
    explicit ConsoleDialogs(std::ostream& out = std::cerr,
                            std::optional<DialogAnswer> fixedAnswer = std::nullopt);

    DialogAnswer ShowMessage(const std::string& caption, const std::string& text,
                             DialogButtons buttons, DialogIcon icon) override;
    bool ShowGuide(const GuideRequest& request) override;

private:
    void PrintBox(const std::string& caption, const std::string& text);

    std::mutex mutex_;  // boxes from several threads print whole
    std::ostream& out_;
    std::optional<DialogAnswer> fixedAnswer_;
};

}  // namespace firmora::platform
