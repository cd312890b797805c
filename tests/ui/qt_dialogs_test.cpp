// The message boxes on the desktop: a box asked for on a worker's thread is
// shown on the GUI thread and its answer reaches the asking thread.

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>

#include "app/startup_texts.h"
#include "package/project_table.h"
#include "ui/guide_window.h"
#include "ui/message_box_window.h"
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

// Records every box shown while it lives and closes it with `button`, or
// without one as Escape would.
class BoxWatch {
public:
    explicit BoxWatch(std::optional<QMessageBox::StandardButton> button = std::nullopt) {
        QObject::connect(&timer_, &QTimer::timeout, [this, button] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (box == nullptr) return;
            shown = true;
            if (button) {
                box->button(*button)->click();
            } else {
                box->reject();
            }
        });
        timer_.start(10);
    }
    bool shown = false;

private:
    QTimer timer_;
};

// Waits for `asked` as the application's Destroy waits for its threads,
// running no events; true when it ended in time. Otherwise the box it asked
// for is shown and closed, so that the thread ends all the same.
template <class Answer>
bool EndsWithoutTheGuiThread(std::future<Answer>& asked, bool& shown) {
    const bool ended = asked.wait_for(std::chrono::seconds(30)) == std::future_status::ready;
    if (!ended) {
        EXPECT_TRUE(QTest::qWaitFor([&] { return shown; }, 10'000));
    }
    return ended;
}

// The GUI thread about to wait for the readiness loop (the application's
// Destroy) runs no box; a box that loop waits for must not hold it forever.
TEST(QtDialogs, CloseAnswersTheBoxesOtherThreadsWaitForAsTheirCancel) {
    QtDialogs dialogs(*qApp);
    BoxWatch watch;  // any box shown is closed without a button
    bool& shown = watch.shown;
    const auto ask = [&](DialogButtons buttons) {
        return std::async(std::launch::async, [&dialogs, buttons] {
            return dialogs.ShowMessage("Exit", "Quit?", buttons, platform::DialogIcon::Question);
        });
    };

    std::future<DialogAnswer> waiting = ask(DialogButtons::YesNo);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));  // most likely waiting by now; either way is sound
    dialogs.Close();
    EXPECT_TRUE(EndsWithoutTheGuiThread(waiting, shown)) << "the asking thread still waits for a box";
    EXPECT_EQ(waiting.get(), DialogAnswer::No);
    QTest::qWait(50);  // the box's queued request runs and shows nothing
    EXPECT_FALSE(shown);

    // Closed: a box asked for later is answered at once, an OK-only box by OK.
    for (const auto& [buttons, answer] : {std::pair{DialogButtons::OkCancel, DialogAnswer::Cancel},
                                          std::pair{DialogButtons::Ok, DialogAnswer::Ok}}) {
        shown = false;
        std::future<DialogAnswer> later = ask(buttons);
        EXPECT_TRUE(EndsWithoutTheGuiThread(later, shown));
        EXPECT_EQ(later.get(), answer);
    }
}

// A handler that may stop the readiness loop holds the boxes the same way,
// only while it runs.
TEST(QtDialogs, BoxesAreAnsweredAsCancelOnlyWhileHeld) {
    QtDialogs dialogs(*qApp);
    BoxWatch watch(QMessageBox::Yes);
    bool& shown = watch.shown;
    const auto ask = [&dialogs] {
        return std::async(std::launch::async, [&dialogs] {
            return dialogs.ShowMessage("Exit", "Quit?", DialogButtons::YesNo, platform::DialogIcon::Question);
        });
    };
    dialogs.Hold();
    dialogs.Hold();
    dialogs.Release();
    std::future<DialogAnswer> held = ask();
    EXPECT_TRUE(EndsWithoutTheGuiThread(held, shown));
    EXPECT_EQ(held.get(), DialogAnswer::No);
    EXPECT_FALSE(shown);

    dialogs.Release();
    std::future<DialogAnswer> released = ask();
    EXPECT_TRUE(QTest::qWaitFor([&] { return released.wait_for(std::chrono::seconds(0)) == std::future_status::ready; },
                                10'000));
    EXPECT_TRUE(shown) << "a box asked for after the release was not shown";
    EXPECT_EQ(released.get(), DialogAnswer::Yes);
}

// Once a window of type Window is the modal one, checks it runs on the GUI
// thread and plays `play` on it.
template <class Window, class Play>
void PlayWhenShown(Play play) {
    auto* poll = new QTimer(qApp);
    QObject::connect(poll, &QTimer::timeout, [poll, play] {
        auto* window = qobject_cast<Window*>(QApplication::activeModalWidget());
        if (window == nullptr) return;
        poll->stop();
        poll->deleteLater();
        EXPECT_EQ(window->thread(), qApp->thread());
        play(*window);
    });
    poll->start(10);
}

// Asks on a worker's thread and waits, running the GUI thread meanwhile.
template <class Ask>
auto AskOnAnotherThread(Ask ask) {
    decltype(ask()) answer{};
    std::atomic<bool> answered{false};
    std::thread worker([&] {
        answer = ask();
        answered = true;
    });
    EXPECT_TRUE(QTest::qWaitFor([&] { return answered.load(); }, 10'000));
    worker.join();
    return answer;
}

platform::GuideRequest Guide(platform::GuideWizard wizard) {
    platform::GuideRequest request;
    request.wizard = wizard;
    request.title = "Guide";
    request.pages = {"Welcome"};
    return request;
}

void ClickChild(QWidget& window, const char* name) {
    auto* child = window.findChild<QWidget*>(name);
    ASSERT_NE(child, nullptr) << name;
    QTest::mouseClick(child, Qt::LeftButton);
}

TEST(QtDialogs, AGuideIsItsWizardWindowOnTheGuiThreadAndConfirmedOnlyByFinish) {
    QtDialogs dialogs(*qApp);
    platform::GuideRequest notice = Guide(platform::GuideWizard::TFormGuide2);
    notice.projectIndex = package::kProjectDI79_21;
    PlayWhenShown<PageGuideWindow>([](PageGuideWindow& w) { ClickChild(w, "ButtonCancel"); });
    EXPECT_FALSE(AskOnAnotherThread([&] { return dialogs.ShowGuide(notice); }));
    PlayWhenShown<PageGuideWindow>([](PageGuideWindow& w) { ClickChild(w, "ButtonFinish"); });
    EXPECT_TRUE(AskOnAnotherThread([&] { return dialogs.ShowGuide(notice); }));

    const platform::GuideRequest setup = Guide(platform::GuideWizard::TFormGuide3);
    PlayWhenShown<SetupGuideWindow>([](SetupGuideWindow& w) { ClickChild(w, "ButtonExit"); });
    EXPECT_FALSE(dialogs.ShowGuide(setup));
}

// The page wizard asks its exit question through the same dialogs, on the
// GUI thread, in a system box.
TEST(QtDialogs, TheWizardsExitQuestionIsASystemBox) {
    QtDialogs dialogs(*qApp);
    const platform::GuideRequest guide = Guide(platform::GuideWizard::TFormGuide);
    PlayWhenShown<PageGuideWindow>([](PageGuideWindow& w) {
        AnswerWhenShown(QMessageBox::Yes, "Are you sure you want to exit?");
        ClickChild(w, "ButtonCancel");
    });
    EXPECT_FALSE(dialogs.ShowGuide(guide));
}

TEST(QtDialogs, TheJapaneseProductsConfirmTheStartInThePictureBoxOthersInASystemBox) {
    QtDialogs dialogs(*qApp);
    PlayWhenShown<MessageBoxWindow>([](MessageBoxWindow& box) {
        QTest::keyClick(&box, Qt::Key_Tab);
        QTest::keyClick(&box, Qt::Key_Return);
    });
    EXPECT_TRUE(AskOnAnotherThread([&] {
        return dialogs.ConfirmStart(package::kProjectDO78_21, "Tool", app::kJapaneseStartQuestion);
    }));
    PlayWhenShown<MessageBoxWindow>([](MessageBoxWindow& box) { QTest::keyClick(&box, Qt::Key_Escape); });
    EXPECT_FALSE(dialogs.ConfirmStart(package::kProjectDI79_21, "Tool", app::kJapaneseStartQuestion));

    AnswerWhenShown(QMessageBox::Ok, "Start?");
    EXPECT_TRUE(dialogs.ConfirmStart(0, "Tool", "Start?"));
}

}  // namespace
}  // namespace firmora::ui
