#pragma once
// The message boxes and secondary windows on the desktop: system message
// boxes, the guide wizards (PageGuideWindow, SetupGuideWindow) and the
// Japanese products' picture box before an update (MessageBoxWindow). A box
// or wizard asked for on another thread (the readiness loop shows some) is
// shown on the GUI thread while the asking thread waits for the answer.

#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

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

    // Called on the GUI thread before it waits for the other threads (the
    // application's Destroy): a box one of them waits for, and every box
    // asked for later on another thread, is answered at once as its Cancel
    // (or No) would be. The GUI thread runs no box while it waits, so a
    // thread waiting for one would otherwise never end.
    void Close();
    // The same for the time between Hold and Release: the GUI thread runs a
    // handler that may wait for those threads (one that stops the readiness
    // loop or a run). Holds nest.
    void Hold();
    void Release();

private:
    struct Waiting;
    template <class Answer, class Show>
    Answer Ask(Show show, Answer dismissed);

    QObject& gui_;
    std::mutex mutex_;
    bool closed_ = false;
    int holds_ = 0;
    std::vector<std::shared_ptr<Waiting>> waiting_;
};

}  // namespace firmora::ui
