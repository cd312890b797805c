// The message boxes on the desktop: a box asked for on a worker's thread is
// shown on the GUI thread and its answer reaches the asking thread.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <thread>

#include "ui/qt_dialogs.h"

namespace firmora::ui {
namespace {

using platform::DialogAnswer;
using platform::DialogButtons;

// Once a box is shown (its own event loop runs the timer), checks it runs
// on the GUI thread and presses `button`.
void AnswerWhenShown(QMessageBox::StandardButton button, const QString& text) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, button, text] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return;
        poll->stop();
        poll->deleteLater();
        EXPECT_EQ(box->thread(), qApp->thread());
        EXPECT_EQ(box->text(), text);
        QAbstractButton* pressed = box->button(button);
        ASSERT_NE(pressed, nullptr);
        pressed->click();
    });
    poll->start(10);
}

TEST(QtDialogs, AnswersABoxAskedOnAnotherThread) {
    QtDialogs dialogs(*qApp);
    DialogAnswer answer = DialogAnswer::Ok;
    std::atomic<bool> answered{false};
    AnswerWhenShown(QMessageBox::No, QString::fromUtf8("アップデートツールを終了しますか？"));
    std::thread worker([&] {
        answer = dialogs.ShowMessage("Exit", "アップデートツールを終了しますか？", DialogButtons::YesNo,
                                     platform::DialogIcon::Question);
        answered = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered.load(); }, 10'000));
    worker.join();
    EXPECT_EQ(answer, DialogAnswer::No);
}

TEST(QtDialogs, AGuideIsConfirmedOnlyByOk) {
    QtDialogs dialogs(*qApp);
    const platform::GuideRequest guide{.title = "Guide", .pages = {"Welcome", "Notes"}};
    bool confirmed = false;
    AnswerWhenShown(QMessageBox::Cancel, "Welcome\n\nNotes");
    confirmed = dialogs.ShowGuide(guide);
    EXPECT_FALSE(confirmed);
    AnswerWhenShown(QMessageBox::Ok, "Welcome\n\nNotes");
    confirmed = dialogs.ShowGuide(guide);
    EXPECT_TRUE(confirmed);
}

}  // namespace
}  // namespace firmora::ui
