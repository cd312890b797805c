// The desktop window over the whole application and the virtual modem, on
// Qt's offscreen platform: what it draws from the form, a run to PASS with
// the workers' lines drained on the GUI thread, dragging, and the picture
// buttons' four pictures.

#include <QApplication>
#include <QLabel>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include "../app/application_fixture.h"
#include "ui/main_window.h"
#include "ui/picture_button.h"

namespace firmora::ui {
namespace {

class Window : public app::ApplicationFixture {
protected:
    void TearDown() override {
        window.reset();  // destroys the application first
        app::ApplicationFixture::TearDown();
    }

    void Open() {
        ASSERT_TRUE(Start());
        window = std::make_unique<MainWindow>(*app);
        window->show();
    }

    // Lets the GUI thread run its queued drains until `done` holds.
    template <class Done>
    bool Until(Done done, int seconds = 120) {
        return QTest::qWaitFor(done, seconds * 1000);
    }

    std::unique_ptr<MainWindow> window;
};

TEST_F(Window, DrawsTheFormsTextsAndFollowsReadiness) {
    Open();
    EXPECT_EQ(window->size(), QSize(513, 343));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->heading().text(), QString::fromUtf8("注意事項"));
    EXPECT_EQ(window->cancelButton().text(), QString::fromUtf8("キャンセル"));
    EXPECT_EQ(window->nextButton().text(), QString::fromUtf8("次へ"));
    EXPECT_FALSE(window->finishButton().isVisible());
    // The readiness loop's decision reaches the status line through the queue.
    ASSERT_TRUE(Until([this] { return window->status().text() == "Ready"; }));
    EXPECT_GT(window->drains(), 0);
}

TEST_F(Window, NextRunsTheUpdateToThePassPageOnTheGuiThread) {
    Open();
    ASSERT_TRUE(Until([this] { return app->LastReadiness() && app->LastReadiness()->ready; }));
    QTest::mouseClick(&window->nextButton(), Qt::LeftButton);
    ASSERT_TRUE(app->form().SlotOccupied(0)) << "the run did not start";
    ASSERT_TRUE(Until([this] { return !app->form().AnySlotOccupied(); }));
    QTest::qWait(50);  // the last queued drain
    EXPECT_EQ(window->heading().text(), "Update Completed");
    EXPECT_EQ(window->line1().text(), QString::fromStdString(app->Options().Version));
    EXPECT_EQ(window->line2().text(), QString::fromUtf8("アップデートが正常に完了しました"));
    EXPECT_TRUE(window->finishButton().isVisible());
    EXPECT_FALSE(window->nextButton().isVisible());
    EXPECT_EQ(window->progress().value(), window->progress().maximum());
    EXPECT_FALSE(window->drainedOffThread()) << "a drain ran on a worker's thread";
}

TEST_F(Window, AFailedRunEndsOnTheFailurePage) {
    Make(nlohmann::json::object(), "no-return");
    ASSERT_TRUE(app->Create());
    window = std::make_unique<MainWindow>(*app);
    window->show();
    ASSERT_TRUE(Until([this] { return app->LastReadiness() && app->LastReadiness()->ready; }));
    QTest::mouseClick(&window->nextButton(), Qt::LeftButton);
    ASSERT_TRUE(app->form().SlotOccupied(0)) << "the run did not start";
    ASSERT_TRUE(Until([this] { return !app->form().AnySlotOccupied(); }));
    EXPECT_EQ(window->heading().text(), "Update Failure");
    EXPECT_FALSE(window->line1().isVisible());
    EXPECT_EQ(window->line2().text(), QString::fromUtf8("アップデートに失敗しました"));
    EXPECT_TRUE(window->finishButton().isVisible());
}

// Closing during a run asks; declined, the window and the run go on; once
// the run has ended the window closes without a question.
TEST_F(Window, ClosingDuringARunAsksAndCanBeDeclined) {
    Open();
    ASSERT_TRUE(Until([this] { return app->LastReadiness() && app->LastReadiness()->ready; }));
    QTest::mouseClick(&window->nextButton(), Qt::LeftButton);
    ASSERT_TRUE(app->form().AnySlotOccupied());  // its end is handled only by a drain on this thread
    dialogs.QueueAnswer(platform::DialogAnswer::Cancel);
    const size_t boxesBefore = dialogs.shown().size();
    EXPECT_FALSE(window->close());
    ASSERT_EQ(dialogs.shown().size(), boxesBefore + 1);
    EXPECT_EQ(dialogs.shown().back().caption, "警告");
    EXPECT_TRUE(window->isVisible());

    ASSERT_TRUE(Until([this] { return !app->form().AnySlotOccupied(); }));
    EXPECT_EQ(window->heading().text(), "Update Completed");
    EXPECT_TRUE(window->close());
    EXPECT_EQ(dialogs.shown().size(), boxesBefore + 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(Window, AConfirmedCloseDuringARunWaitsForTheWorker) {
    Open();
    ASSERT_TRUE(Until([this] { return app->LastReadiness() && app->LastReadiness()->ready; }));
    QTest::mouseClick(&window->nextButton(), Qt::LeftButton);
    ASSERT_TRUE(app->form().AnySlotOccupied());
    dialogs.QueueAnswer(platform::DialogAnswer::Ok);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(app->form().Worker(0), nullptr) << "the worker outlived the window's close";
    QTest::qWait(50);  // drains queued before the close find the application put away
}

// Finish during a run (the compact products show it) asks once; declined,
// nothing closes.
TEST_F(Window, FinishDuringARunAsksOnceAndDeclinedKeepsTheWindow) {
    Open();
    ASSERT_TRUE(Until([this] { return app->LastReadiness() && app->LastReadiness()->ready; }));
    QTest::mouseClick(&window->nextButton(), Qt::LeftButton);
    ASSERT_TRUE(app->form().AnySlotOccupied());
    app->form().controls().Label16.visible = true;
    window->Render();
    dialogs.QueueAnswer(platform::DialogAnswer::Cancel);
    const size_t boxesBefore = dialogs.shown().size();
    QTest::mouseClick(&window->finishButton(), Qt::LeftButton);
    QTest::qWait(20);
    EXPECT_EQ(dialogs.shown().size(), boxesBefore + 1);
    EXPECT_TRUE(window->isVisible());
}

TEST_F(Window, DraggingMovesTheWindowByTheMousesWay) {
    Open();
    window->move(100, 100);
    const QPoint start = window->pos();
    const QPoint grip(300, 60);  // on the background, clear of every control
    QTest::mousePress(window.get(), Qt::LeftButton, {}, grip);
    // A move event in screen terms: the widget moves under the cursor.
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(10, 5)), QPointF(window->mapToGlobal(grip) + QPoint(10, 5)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &move);
    EXPECT_EQ(window->pos(), start + QPoint(10, 5));
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, grip + QPoint(10, 5));
    QMouseEvent after(QEvent::MouseMove, QPointF(grip), QPointF(window->mapToGlobal(grip) + QPoint(40, 40)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &after);
    EXPECT_EQ(window->pos(), start + QPoint(10, 5)) << "the window followed the mouse after the release";
}

// Run at the screen's scale (CTest runs it once more under QT_SCALE_FACTOR=2):
// the fixed layout scales as a whole and the pictures have the screen's pixels.
TEST_F(Window, DrawsItsPicturesAtTheScreensPixelRatio) {
    Open();
    const qreal ratio = window->devicePixelRatioF();
    if (qEnvironmentVariable("QT_SCALE_FACTOR") == "2") {
        EXPECT_EQ(ratio, 2.0);
    }
    EXPECT_EQ(window->size(), QSize(513, 343));
    const QPixmap shot = window->grab();
    EXPECT_EQ(shot.size(), QSize(513, 343) * ratio) << "the window is not drawn with the screen's pixels";
    for (const QPixmap* picture : {&window->pictures().background, &window->pictures().button[0],
                                   &window->pictures().close, &window->pictures().success}) {
        EXPECT_EQ(picture->devicePixelRatio(), ratio);
        EXPECT_EQ(picture->size(), picture->deviceIndependentSize().toSize() * ratio) << "a picture drawn at 1x";
    }
    EXPECT_EQ(window->pictures().background.deviceIndependentSize().toSize(), kBackgroundSize);
}

TEST(PictureButton, ShowsItsFourPicturesAndClicksOnlyWhenReleasedInside) {
    QWidget parent;
    const WindowPictures pictures(1.0);
    PictureButton button(pictures.button, &parent, "Start");
    // The middle of the button, left of its text: what each picture shows there.
    const QPoint face(6, 12);
    const auto shows = [&](int picture) {
        return button.grab().toImage().pixelColor(face) == pictures.button[picture].toImage().pixelColor(face);
    };
    button.setGeometry(0, 0, 89, 25);
    parent.show();
    QSignalSpy clicks(&button, &PictureButton::clicked);
    EXPECT_EQ(button.picture(), PictureButton::Normal);
    EXPECT_TRUE(shows(PictureButton::Normal));

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.picture(), PictureButton::Hovered);
    EXPECT_TRUE(shows(PictureButton::Hovered));
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(button.picture(), PictureButton::Pressed);
    EXPECT_TRUE(shows(PictureButton::Pressed));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(button.picture(), PictureButton::Hovered);
    EXPECT_EQ(clicks.count(), 1);

    // Pressed, then released outside: no click.
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseRelease(&button, Qt::LeftButton, {}, QPoint(200, 5));
    EXPECT_EQ(button.picture(), PictureButton::Normal);
    EXPECT_EQ(clicks.count(), 1);

    button.setEnabled(false);
    EXPECT_EQ(button.picture(), PictureButton::Unavailable);
    EXPECT_TRUE(shows(PictureButton::Unavailable));
    QApplication::sendEvent(&button, &enter);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(button.picture(), PictureButton::Unavailable);
    EXPECT_EQ(clicks.count(), 1);
    button.setEnabled(true);
    EXPECT_EQ(button.picture(), PictureButton::Normal);
}

}  // namespace
}  // namespace firmora::ui
