// The desktop window over the whole application and the virtual modem, on
// Qt's offscreen platform: what it draws from the form, the wizard to the
// PASS and failure pages with the workers' lines drained on the GUI thread,
// the ways out, minimising, dragging, the right-click menu, the Japanese and
// compact layouts, the pictures at the screen's scale, and the picture
// buttons' four pictures.

#include <QApplication>
#include <QLabel>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QProgressBar>
#include <QSignalSpy>
#include <QTest>

#include "../app/application_fixture.h"
#include "ui/main_window.h"
#include "ui/picture_button.h"
#include "ui/window_fonts.h"
#include "app/startup_texts.h"

namespace firmora::ui {
namespace {

class Window : public app::ApplicationFixture {
protected:
    void TearDown() override {
        window.reset();  // destroys the application first
        app::ApplicationFixture::TearDown();
    }

    // The window over a created application (Make or Carry first for
    // another package or scenario).
    void Open() {
        if (!app) Make();
        ASSERT_TRUE(app->Create());
        window = std::make_unique<MainWindow>(*app);
        window->show();
    }
    void OpenReady() {
        Open();
        ASSERT_TRUE(Until([this] { return app->LastReadiness() && app->LastReadiness()->ready; }));
    }

    // Lets the GUI thread run its queued drains until `done` holds.
    template <class Done>
    bool Until(Done done, int seconds = 120) {
        return QTest::qWaitFor(done, seconds * 1000);
    }
    bool RunEnds() {
        const bool ended = Until([this] { return !app->form().AnySlotOccupied(); });
        QTest::qWait(50);  // the last queued drain
        return ended;
    }

    // Next, by a click on the button.
    void Next() { QTest::mouseClick(&window->nextButton(), Qt::LeftButton); }
    // Precautions, device check, (nothing visible), updating: the run starts.
    void NextToTheUpdate() {
        Next();
        EXPECT_EQ(window->heading().text(), "Device Check");
        Next();
        EXPECT_EQ(window->heading().text(), "Device Check") << "a fitting device changes nothing visible";
        Next();
    }
    app::WindowControls& controls() { return app->form().controls(); }

    std::unique_ptr<MainWindow> window;
};

TEST_F(Window, DrawsTheFormsPageWhereTheFormPlacesIt) {
    Open();
    EXPECT_EQ(window->size(), QSize(513, 343));
    EXPECT_TRUE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_EQ(window->title().text(), QString::fromUtf8("KQ302TR-Mソフトウェアアップデートツール "));
    EXPECT_EQ(window->heading().text(), QString::fromUtf8("注意事項"));
    EXPECT_EQ(window->heading().geometry(), QRect(72, 40, 369, 25));
    EXPECT_TRUE(window->memo().isVisible());
    EXPECT_EQ(window->memo().toPlainText().count('\n'), 8) << "nine lines of precautions";
    EXPECT_FALSE(window->line1().isVisible());
    EXPECT_FALSE(window->progress().isVisible()) << "the gauge shows only on the updating page";
    EXPECT_EQ(window->cancelButton().text(), QString::fromUtf8("キャンセル"));
    EXPECT_EQ(window->nextButton().text(), QString::fromUtf8("次へ"));
    EXPECT_EQ(window->nextButton().geometry(), QRect(352, 296, 89, 25));
    EXPECT_FALSE(window->finishButton().isVisible());
    EXPECT_TRUE(window->minimise().isVisible());
    EXPECT_TRUE(window->closePicture().isVisible());
    EXPECT_FALSE(window->rect().intersects(window->startPictures().geometry()))
        << "the other styles' pictures lie outside the window";
    // The readiness loop's decision reaches the status line through the queue.
    ASSERT_TRUE(Until([this] { return window->status().text() == "Ready"; }));
    EXPECT_GT(window->drains(), 0);
}

TEST_F(Window, TheWizardRunsFromThePrecautionsToThePassPageOnTheGuiThread) {
    OpenReady();
    NextToTheUpdate();
    EXPECT_EQ(window->heading().text(), "Update");
    EXPECT_EQ(window->line1().text(), QString::fromUtf8("アップデートしています"));
    EXPECT_EQ(window->line2().text(), QString::fromUtf8("しばらくお待ちください"));
    EXPECT_TRUE(window->progress().isVisible());
    EXPECT_FALSE(window->nextButton().isVisible());
    EXPECT_FALSE(window->cancelButton().isVisible());
    ASSERT_TRUE(app->form().SlotOccupied(0)) << "the run did not start";
    ASSERT_TRUE(RunEnds());
    EXPECT_EQ(window->heading().text(), "Update Completed");
    EXPECT_EQ(window->line1().text(), QString::fromStdString(app->Options().Version));
    EXPECT_EQ(window->line2().text(), QString::fromUtf8("アップデートが正常に完了しました"));
    EXPECT_TRUE(window->finishButton().isVisible());
    EXPECT_FALSE(window->nextButton().isVisible());
    EXPECT_EQ(window->progress().value(), window->progress().maximum());
    EXPECT_FALSE(window->drainedOffThread()) << "a drain ran on a worker's thread";

    // Finish leaves the program.
    QTest::mouseClick(&window->finishButton(), Qt::LeftButton);
    EXPECT_TRUE(Until([this] { return !window->isVisible(); }));
}

TEST_F(Window, AFailedRunEndsOnTheFailurePage) {
    Make(nlohmann::json::object(), "no-return");
    OpenReady();
    NextToTheUpdate();
    ASSERT_TRUE(app->form().SlotOccupied(0)) << "the run did not start";
    ASSERT_TRUE(RunEnds());
    EXPECT_EQ(window->heading().text(), "Update Failure");
    EXPECT_FALSE(window->line1().isVisible());
    EXPECT_EQ(window->line2().text(), QString::fromUtf8("アップデートに失敗しました"));
    EXPECT_TRUE(window->finishButton().isVisible());
}

// Cancel asks; No keeps the window, Yes leaves.
TEST_F(Window, CancelAsksBeforeLeaving) {
    Open();
    dialogs.QueueAnswer(platform::DialogAnswer::No);
    QTest::mouseClick(&window->cancelButton(), Qt::LeftButton);
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown().back().caption, "Exit");
    EXPECT_EQ(dialogs.shown().back().text, "アップデートツールを終了しますか？");
    QTest::qWait(20);
    EXPECT_TRUE(window->isVisible());
    dialogs.QueueAnswer(platform::DialogAnswer::Yes);
    QTest::mouseClick(&window->cancelButton(), Qt::LeftButton);
    EXPECT_TRUE(Until([this] { return !window->isVisible(); }));
}

// Closing during a run asks; declined, the window and the run go on; once
// the run has ended the window closes without a question.
TEST_F(Window, ClosingDuringARunAsksAndCanBeDeclined) {
    OpenReady();
    NextToTheUpdate();
    ASSERT_TRUE(app->form().AnySlotOccupied());  // its end is handled only by a drain on this thread
    dialogs.QueueAnswer(platform::DialogAnswer::Cancel);
    const size_t boxesBefore = dialogs.shown().size();
    QTest::mouseClick(&window->closePicture(), Qt::LeftButton, {}, QPoint(4, 8));
    ASSERT_EQ(dialogs.shown().size(), boxesBefore + 1);
    EXPECT_EQ(dialogs.shown().back().caption, "警告");
    QTest::qWait(20);
    EXPECT_TRUE(window->isVisible());

    ASSERT_TRUE(RunEnds());
    EXPECT_EQ(window->heading().text(), "Update Completed");
    EXPECT_TRUE(window->close());
    EXPECT_EQ(dialogs.shown().size(), boxesBefore + 1);
    EXPECT_FALSE(window->isVisible());
}

TEST_F(Window, AConfirmedCloseDuringARunWaitsForTheWorker) {
    OpenReady();
    NextToTheUpdate();
    ASSERT_TRUE(app->form().AnySlotOccupied());
    dialogs.QueueAnswer(platform::DialogAnswer::Ok);
    EXPECT_TRUE(window->close());
    EXPECT_EQ(app->form().Worker(0), nullptr) << "the worker outlived the window's close";
    QTest::qWait(50);  // drains queued before the close find the application put away
}

// The click area over the close picture is Finish: it leaves at once.
TEST_F(Window, TheCloseAreaLeavesWithoutAQuestion) {
    Open();
    const size_t boxesBefore = dialogs.shown().size();
    QTest::mouseClick(&window->closeArea(), Qt::LeftButton);
    EXPECT_TRUE(Until([this] { return !window->isVisible(); }));
    EXPECT_EQ(dialogs.shown().size(), boxesBefore);
}

TEST_F(Window, TheMinimiseControlShowsItsPressedPictureAndMinimises) {
    Open();
    QTest::mousePress(&window->minimise(), Qt::LeftButton);
    EXPECT_EQ(window->minimise().picture(), &window->pictures().minimise[1]);
    EXPECT_FALSE(window->isMinimized());
    QTest::mouseRelease(&window->minimise(), Qt::LeftButton);
    EXPECT_EQ(window->minimise().picture(), &window->pictures().minimise[0]);
    EXPECT_TRUE(window->isMinimized());
}

TEST_F(Window, DraggingMovesTheWindowByTheMousesWay) {
    Open();
    window->move(100, 100);
    ASSERT_TRUE(Until([this] { return controls().Frame.position == app::Position{100, 100}; }))
        << "the form does not know where the window stands";
    const QPoint start = window->pos();
    const QPoint grip(300, 60);  // on the background, clear of every control
    QTest::mousePress(window.get(), Qt::LeftButton, {}, grip);
    // A move event in screen terms: the widget moves under the cursor.
    QMouseEvent move(QEvent::MouseMove, QPointF(grip + QPoint(10, 5)), QPointF(window->mapToGlobal(grip) + QPoint(10, 5)),
                     Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &move);
    EXPECT_EQ(window->pos(), start + QPoint(10, 5));
    EXPECT_EQ(controls().Frame.position, (app::Position{110, 105}));
    QTest::mouseRelease(window.get(), Qt::LeftButton, {}, grip + QPoint(10, 5));
    QMouseEvent after(QEvent::MouseMove, QPointF(grip), QPointF(window->mapToGlobal(grip) + QPoint(40, 40)),
                      Qt::NoButton, Qt::NoButton, Qt::NoModifier);
    QApplication::sendEvent(window.get(), &after);
    EXPECT_EQ(window->pos(), start + QPoint(10, 5)) << "the window followed the mouse after the release";
}

// The background's right-click menu: its item as the form says, and Re-update runs.
TEST_F(Window, TheRightClickMenuRunsReupdate) {
    OpenReady();
    const QPoint grip(300, 60);
    QTest::mouseClick(window.get(), Qt::RightButton, {}, grip);
    EXPECT_FALSE(window->popupMenu().isVisible()) << "a menu without a visible item";

    controls().Reupdate1.visible = true;
    window->Render();
    QTest::mouseClick(window.get(), Qt::RightButton, {}, grip);
    ASSERT_TRUE(window->popupMenu().isVisible());
    EXPECT_EQ(window->reupdateItem().text(), "Re_update");
    EXPECT_TRUE(window->reupdateItem().isEnabled());
    window->reupdateItem().trigger();
    EXPECT_TRUE(app->form().ReupdateMode());
    EXPECT_TRUE(app->form().AnySlotOccupied()) << "Re-update started no run";
    ASSERT_TRUE(RunEnds());
}

// A Japanese product: its texts in a Japanese face that has every character,
// its warning and its Start and Finish pictures in view.
TEST_F(Window, TheJapaneseVariantWritesItsTextsWithAJapaneseFont) {
    ASSERT_TRUE(UseWindowFonts()) << "no Japanese font installed (fonts-noto-cjk)";
    Carry(DefaultWith("Project = MDM9x15", "Project = DO78_21"));
    Open();
    for (QLabel* label : {&window->title(), &window->heading(), &window->warning7921()}) {
        SCOPED_TRACE(label->text().toStdString());
        EXPECT_TRUE(label->isVisible());
        EXPECT_TRUE(QFontInfo(label->font()).family().contains("CJK")) << QFontInfo(label->font()).family().toStdString();
        const QFontMetrics metrics(label->font());
        for (const char32_t character : label->text().toUcs4()) {
            EXPECT_TRUE(metrics.inFontUcs4(character)) << "U+" << std::hex << uint32_t(character);
        }
    }
    PictureArea& start = window->startAlternatePictures();
    EXPECT_TRUE(start.isVisible());
    EXPECT_EQ(start.y(), 212);
    EXPECT_EQ(window->finishPictures().y(), 212);

    // The Start picture hands the mouse to the form and shows its choice:
    // hovered once Start is enabled, pressed, and Start asks its question.
    ASSERT_TRUE(Until([this] { return controls().StartButton.enabled; }));
    EXPECT_EQ(start.picture(), &window->pictures().startAlternate[0]);
    QTest::mouseMove(&start, QPoint(10, 10));
    EXPECT_EQ(start.picture(), &window->pictures().startAlternate[2]);
    QTest::mousePress(&start, Qt::LeftButton, {}, QPoint(10, 10));
    EXPECT_EQ(start.picture(), &window->pictures().startAlternate[1]);
    dialogs.QueueAnswer(platform::DialogAnswer::Cancel);
    QTest::mouseRelease(&start, Qt::LeftButton, {}, QPoint(10, 10));
    ASSERT_FALSE(dialogs.shown().empty());
    EXPECT_EQ(dialogs.shown().back().text, app::kJapaneseStartQuestion);
    EXPECT_FALSE(app->form().AnySlotOccupied());
}

// The compact product: a small dialog with its running panel; after a
// failure its failure panel, after success its success panel, the window
// resized about its centre each time.
TEST_F(Window, TheCompactProductResizesAboutItsCentreForItsResultPanels) {
    Carry(DefaultWith("Project = MDM9x15", "Project = ZQ65_Custom"));
    Make(nlohmann::json::object(), "no-return");
    Open();
    EXPECT_FALSE(window->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    // The run's end may have been drained already, when the window was built.
    const QPoint first = window->pos();
    const bool runningAtFirst = controls().GroupBox1.visible;
    if (runningAtFirst) {
        EXPECT_EQ(window->size(), QSize(480, 185));
        EXPECT_TRUE(window->runningPanel().isVisible());
        EXPECT_TRUE(window->smallGauge().isVisible());
    }
    ASSERT_TRUE(RunEnds());
    EXPECT_EQ(window->size(), QSize(300, 165));
    const QPoint failed = window->pos();
    if (runningAtFirst) {
        EXPECT_EQ(failed, first - QPoint((300 - 480) / 2, (165 - 185) / 2));
    }
    EXPECT_FALSE(window->runningPanel().isVisible());
    EXPECT_TRUE(window->failurePanel().isVisible());
    EXPECT_EQ(window->windowTitle(), QString::fromUtf8("上网卡固件升级失败"));

    // A success line (as after a run that passed).
    app->form().ReportLine("PASS", core::kReportSuccess);
    window->Render();
    EXPECT_EQ(window->size(), QSize(510, 395));
    EXPECT_EQ(window->pos(), failed - QPoint((510 - 300) / 2, (395 - 165) / 2));
    EXPECT_TRUE(window->successPanel().isVisible());
    QWidget* under = window->childAt(150, 100);  // where both panels lie
    EXPECT_TRUE(under == &window->successPanel() || window->successPanel().isAncestorOf(under))
        << "the panel shown last is not on top";
    EXPECT_EQ(window->windowTitle().toStdString(), controls().Frame.caption);
    QTest::mouseClick(&window->successButton(), Qt::LeftButton);
    EXPECT_TRUE(app->Ending());
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
    EXPECT_EQ(window->pictures().background.deviceIndependentSize().toSize(), QSize(513, 345));
}

TEST(PictureButton, ShowsItsFourPicturesAndClicksOnlyWhenReleasedInside) {
    QWidget parent;
    const WindowPictures pictures(1.0, app::WindowControls{});
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
