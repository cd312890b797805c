#pragma once
// The main window on the desktop: a frameless 513 x 343 widget (the compact
// product's small dialog, 480 x 185) that draws the form's controls
// (app::WindowControls) where the form places them and hands the user's
// clicks, presses and drags to the form's handlers. Nothing of the run lives
// here: after every handler and every drained batch of the workers' lines the
// widgets, the window's place and its size are set from the controls again.
//
// Threads: the workers post to the form's ReportQueue; its wake-up schedules
// a drain on this widget's thread with a queued invocation, so lines and the
// gauge are handled in order on the GUI thread. The application is destroyed
// (which waits for every worker) before the widget goes.
//
// Every state of the window is reached through the application and its form
// (a scenario of the virtual modem, the form's handlers, or its controls set
// directly) followed by Render(); the accessors below let tests and the
// screenshot writer find the widgets.

#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "app/flash_application.h"
#include "ui/window_pictures.h"

class QLabel;
class QMenu;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace firmora::ui {

class PictureArea;
class PictureButton;
class QtDialogs;

class MainWindow final : public QWidget {
    Q_OBJECT
public:
    // The application must have been created (FlashApplication::Create) and
    // have its form; it outlives this widget, which destroys it when closed.
    // `dialogs`, when the application shows its boxes through them, are
    // closed before that, so that no thread waits for a box meanwhile.
    explicit MainWindow(app::FlashApplication& application, QtDialogs* dialogs = nullptr, QWidget* parent = nullptr);
    ~MainWindow() override;

    // Without a question: stops every run and thread and destroys the
    // application, waiting for each to wind down (Ctrl-C in the terminal).
    // The widget shows nothing more afterwards. Safe to call more than once.
    void PutAway();
    // The controls drawn again from the form.
    void Render();
    // Runs what the workers posted, then draws (the GUI thread).
    void Drain();

    // The wizard.
    PictureButton& cancelButton() { return *cancel_; }
    PictureButton& finishButton() { return *finish_; }
    PictureButton& nextButton() { return *next_; }
    QLabel& title() { return *title_; }
    QLabel& heading() { return *heading_; }
    QLabel& line1() { return *line1_; }
    QLabel& line2() { return *line2_; }
    QPlainTextEdit& memo() { return *memo_; }
    QLabel& status() { return *status_; }
    QProgressBar& progress() { return *progress_; }
    // The frame's controls: minimise, close picture, the click area over it.
    PictureArea& minimise() { return *minimise_; }
    PictureArea& closePicture() { return *close_; }
    PictureArea& closeArea() { return *closeArea_; }
    // The Japanese products' Start and Finish pictures and warning.
    PictureArea& startPictures() { return *start_; }
    PictureArea& startAlternatePictures() { return *startAlternate_; }
    PictureArea& finishPictures() { return *finishPictures_; }
    QLabel& warning7921() { return *warning7921_; }
    // The compact product's panels, its small gauge and its two buttons.
    QWidget& runningPanel() { return *groupBox1_; }
    QWidget& successPanel() { return *groupBox2_; }
    QWidget& failurePanel() { return *groupBox4_; }
    QProgressBar& smallGauge() { return *smallGauge_; }
    QPushButton& successButton() { return *speedButton1_; }
    QPushButton& failureButton() { return *speedButton2_; }
    // The background's right-click menu and its one item.
    QMenu& popupMenu() { return *popup_; }
    QAction& reupdateItem() { return *reupdate_; }
    const WindowPictures& pictures() const { return *pictures_; }
    // How many drains ran, and whether each ran on the widget's thread.
    int drains() const { return drains_; }
    bool drainedOffThread() const { return drainedOffThread_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void moveEvent(QMoveEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Build();
    void BuildCompactPanels();
    // Runs a handler of the form, then draws.
    template <class Handler>
    void Handle(Handler handler);
    // The same for a handler that may wait for the readiness loop or a run.
    class Waits;
    template <class Handler>
    void HandleWaiting(Handler handler);
    void RenderFrame();

    app::FlashApplication& application_;
    QtDialogs* dialogs_;
    std::unique_ptr<WindowPictures> pictures_;
    QLabel* title_;
    PictureArea* minimise_;
    PictureArea* close_;
    PictureArea* closeArea_;
    QLabel* heading_;
    QPlainTextEdit* memo_;
    QLabel* line1_;
    QLabel* line2_;
    QProgressBar* progress_;
    QLabel* status_;
    PictureButton* cancel_;
    PictureButton* finish_;
    PictureButton* next_;
    PictureArea* start_;
    PictureArea* startAlternate_;
    PictureArea* finishPictures_;
    QLabel* warning7921_;
    QWidget* groupBox1_;
    QWidget* groupBox2_;
    QWidget* groupBox4_;
    QLabel* runningPicture_;
    QLabel* successPicture_;
    QLabel* failurePicture_;
    QLabel* customRunning_;
    QLabel* customWarning_;
    QLabel* customOperator_;
    QLabel* customClient_;
    QLabel* customNew_;
    QLabel* customVersion_;
    QLabel* customExit_;
    QProgressBar* smallGauge_;
    QPushButton* speedButton1_;
    QPushButton* speedButton2_;
    QMenu* popup_;
    QAction* reupdate_;
    QTimer timer1_;  // the 20-second start timer, running while Timer1 is enabled
    bool putAway_ = false;
    QPoint placed_;  // the form's window position last followed
    int drains_ = 0;
    bool drainedOffThread_ = false;
};

// The start timer's period.
inline constexpr int kStartTimerMs = 20'000;

}  // namespace firmora::ui
