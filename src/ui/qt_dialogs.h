#pragma once
// The message boxes on the desktop. A box asked for on another thread (the
// readiness loop shows some) is shown on the GUI thread while the asking
// thread waits for the answer.
//
// The guide wizards are not drawn yet: ShowGuide shows the wizard's title
// and pages in one confirmation box (OK confirms, Cancel declines).

#include "platform/dialogs.h"

class QObject;

namespace firmora::ui {

class QtDialogs final : public platform::Dialogs {
public:
    // `gui` lives on the GUI thread (the application object).
    explicit QtDialogs(QObject& gui) : gui_(gui) {}
    platform::DialogAnswer ShowMessage(const std::string& caption, const std::string& text,
                                       platform::DialogButtons buttons, platform::DialogIcon icon) override;
    bool ShowGuide(const platform::GuideRequest& request) override;

private:
    QObject& gui_;
};

}  // namespace firmora::ui
