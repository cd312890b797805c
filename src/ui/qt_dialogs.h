#pragma once
// The message boxes and secondary windows on the desktop: system message
// boxes, the guide wizards (PageGuideWindow, SetupGuideWindow) and the
// Japanese products' picture box before an update (MessageBoxWindow). A box
// or wizard asked for on another thread (the readiness loop shows some) is
// shown on the GUI thread while the asking thread waits for the answer.

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
    // The picture box for the Japanese products, centred on the active
    // window; the system box for any other.
    bool ConfirmStart(int projectIndex, const std::string& caption, const std::string& text) override;

private:
    QObject& gui_;
};

}  // namespace firmora::ui
