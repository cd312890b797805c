#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

#include <limits>

#include "package/project_table.h"
#include "ui/guide_window.h"
#include "ui/message_box_window.h"

namespace firmora::ui {
namespace {

using platform::DialogAnswer;
using platform::DialogButtons;

QMessageBox::StandardButtons ButtonsOf(DialogButtons buttons) {
    switch (buttons) {
    case DialogButtons::Ok: return QMessageBox::Ok;
    case DialogButtons::OkCancel: return QMessageBox::Ok | QMessageBox::Cancel;
    case DialogButtons::YesNo: return QMessageBox::Yes | QMessageBox::No;
    case DialogButtons::YesNoCancel: return QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel;
    case DialogButtons::RetryCancel: return QMessageBox::Retry | QMessageBox::Cancel;
    case DialogButtons::AbortRetryIgnore: return QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore;
    }
    return QMessageBox::Ok;
}

QMessageBox::Icon IconOf(platform::DialogIcon icon) {
    switch (icon) {
    case platform::DialogIcon::Information: return QMessageBox::Information;
    case platform::DialogIcon::Warning: return QMessageBox::Warning;
    case platform::DialogIcon::Error: return QMessageBox::Critical;
    case platform::DialogIcon::Question: return QMessageBox::Question;
    case platform::DialogIcon::None: break;
    }
    return QMessageBox::NoIcon;
}

// A box closed without a button (Escape, the window's close) answers as its
// Cancel or No would, and a box with neither as its first button.
DialogAnswer AnswerOf(int button, DialogButtons buttons) {
    switch (button) {
    case QMessageBox::Ok: return DialogAnswer::Ok;
    case QMessageBox::Cancel: return DialogAnswer::Cancel;
    case QMessageBox::Yes: return DialogAnswer::Yes;
    case QMessageBox::No: return DialogAnswer::No;
    case QMessageBox::Retry: return DialogAnswer::Retry;
    case QMessageBox::Abort: return DialogAnswer::Abort;
    case QMessageBox::Ignore: return DialogAnswer::Ignore;
    default: break;
    }
    switch (buttons) {
    case DialogButtons::OkCancel:
    case DialogButtons::YesNoCancel:
    case DialogButtons::RetryCancel: return DialogAnswer::Cancel;
    case DialogButtons::YesNo: return DialogAnswer::No;
    default: return platform::DefaultAnswer(buttons);
    }
}

}  // namespace

// The answer Close gives: no box answers with it.
constexpr int kDismissed = std::numeric_limits<int>::min();

// A box asked for on another thread: the asking thread waits here for the
// answer, given by the GUI thread once it has shown the box, or by Close.
struct QtDialogs::Waiting {
    std::mutex mutex;
    std::condition_variable given;
    bool answered = false;
    int answer = 0;

    // The first answer counts; false when there was one already.
    bool Give(int value) {
        const std::lock_guard lock(mutex);
        if (answered) return false;
        answered = true;
        answer = value;
        given.notify_all();
        return true;
    }
    bool Answered() {
        const std::lock_guard lock(mutex);
        return answered;
    }
    int Wait() {
        std::unique_lock lock(mutex);
        given.wait(lock, [this] { return answered; });
        return answer;
    }
};

// `show` runs on the GUI thread; it must own what it shows (the asking
// thread may have gone on, dismissed, by the time it runs).
template <class Answer, class Show>
Answer QtDialogs::Ask(Show show, Answer dismissed) {
    if (QThread::currentThread() == gui_.thread()) return show();
    auto waiting = std::make_shared<Waiting>();
    {
        const std::lock_guard lock(mutex_);
        if (closed_ || holds_ > 0) return dismissed;
        waiting_.push_back(waiting);
    }
    QMetaObject::invokeMethod(
        &gui_,
        [waiting, show] {
            if (!waiting->Answered()) waiting->Give(static_cast<int>(show()));
        },
        Qt::QueuedConnection);
    const int answer = waiting->Wait();
    {
        const std::lock_guard lock(mutex_);
        std::erase(waiting_, waiting);
    }
    return answer == kDismissed ? dismissed : static_cast<Answer>(answer);
}

void QtDialogs::Close() {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    for (const std::shared_ptr<Waiting>& waiting : waiting_) waiting->Give(kDismissed);
}

void QtDialogs::Hold() {
    const std::lock_guard lock(mutex_);
    ++holds_;
    for (const std::shared_ptr<Waiting>& waiting : waiting_) waiting->Give(kDismissed);
}

void QtDialogs::Release() {
    const std::lock_guard lock(mutex_);
    --holds_;
}

DialogAnswer QtDialogs::ShowMessage(const std::string& caption, const std::string& text, DialogButtons buttons,
                                    platform::DialogIcon icon) {
    const QString title = QString::fromStdString(caption);
    const QString message = QString::fromStdString(text);
    return Ask(
        [=] {
            QMessageBox box(IconOf(icon), title, message, ButtonsOf(buttons));
            return AnswerOf(box.exec(), buttons);
        },
        AnswerOf(QMessageBox::NoButton, buttons));
}

bool QtDialogs::ShowGuide(const platform::GuideRequest& request) {
    constexpr int kOk = static_cast<int>(windows::ModalResult::Ok);
    return Ask(
        [this, request] {
            if (request.wizard == platform::GuideWizard::TFormGuide3) return SetupGuideWindow(request).exec() == kOk;
            return PageGuideWindow(request, *this).exec() == kOk;
        },
        false);
}

bool QtDialogs::ConfirmStart(int projectIndex, const std::string& caption, const std::string& text) {
    if (!package::IsJapaneseProduct(projectIndex)) return Dialogs::ConfirmStart(projectIndex, caption, text);
    return Ask(
        [projectIndex] {
            MessageBoxWindow box(projectIndex, QApplication::activeWindow());
            return box.exec() == static_cast<int>(windows::ModalResult::Ok);
        },
        false);
}

}  // namespace firmora::ui
