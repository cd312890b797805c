#include "ui/qt_dialogs.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

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

template <class Show>
auto OnGuiThread(QObject& gui, Show show) {
    decltype(show()) result{};
    if (QThread::currentThread() == gui.thread()) return show();
    QMetaObject::invokeMethod(&gui, [&] { result = show(); }, Qt::BlockingQueuedConnection);
    return result;
}

}  // namespace

DialogAnswer QtDialogs::ShowMessage(const std::string& caption, const std::string& text, DialogButtons buttons,
                                    platform::DialogIcon icon) {
    return OnGuiThread(gui_, [&] {
        QMessageBox box(IconOf(icon), QString::fromStdString(caption), QString::fromStdString(text),
                        ButtonsOf(buttons));
        return AnswerOf(box.exec(), buttons);
    });
}

bool QtDialogs::ShowGuide(const platform::GuideRequest& request) {
    constexpr int kOk = static_cast<int>(windows::ModalResult::Ok);
    return OnGuiThread(gui_, [&] {
        if (request.wizard == platform::GuideWizard::TFormGuide3) return SetupGuideWindow(request).exec() == kOk;
        return PageGuideWindow(request, *this).exec() == kOk;
    });
}

bool QtDialogs::ConfirmStart(int projectIndex, const std::string& caption, const std::string& text) {
    if (!package::IsJapaneseProduct(projectIndex)) return Dialogs::ConfirmStart(projectIndex, caption, text);
    return OnGuiThread(gui_, [&] {
        MessageBoxWindow box(projectIndex, QApplication::activeWindow());
        return box.exec() == static_cast<int>(windows::ModalResult::Ok);
    });
}

}  // namespace firmora::ui
