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

TEST(PictureButton, ShowsItsFourPicturesAndClicksOnlyWhenReleasedInside) {
    QWidget parent;
    PictureButton button("Start", &parent);
    button.setGeometry(0, 0, 89, 25);
    parent.show();
    QSignalSpy clicks(&button, &PictureButton::clicked);
    EXPECT_EQ(button.picture(), PictureButton::Normal);

    QEnterEvent enter(QPointF(5, 5), QPointF(5, 5), QPointF(5, 5));
    QApplication::sendEvent(&button, &enter);
    EXPECT_EQ(button.picture(), PictureButton::Hovered);
    QTest::mousePress(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(button.picture(), PictureButton::Pressed);
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
    QApplication::sendEvent(&button, &enter);
    QTest::mouseClick(&button, Qt::LeftButton, {}, QPoint(5, 5));
    EXPECT_EQ(button.picture(), PictureButton::Unavailable);
    EXPECT_EQ(clicks.count(), 1);
    button.setEnabled(true);
    EXPECT_EQ(button.picture(), PictureButton::Normal);
}

}  // namespace
}  // namespace firmora::ui
