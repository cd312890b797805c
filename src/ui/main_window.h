#pragma once
// The main window on the desktop: a frameless 513 x 343 widget that draws
// the form's controls (app::WindowControls) and hands the user's clicks to
// the form's handlers. Nothing of the run lives here: after every handler and
// every drained batch of the workers' lines the widgets are set from the
// controls again.
//
// Threads: the workers post to the form's ReportQueue; its wake-up schedules
// a drain on this widget's thread with a queued invocation, so lines and the
// gauge are handled in order on the GUI thread. The application is destroyed
// (which waits for every worker) before the widget goes.

#include <QPoint>
#include <QTimer>
#include <QWidget>

#include <memory>

#include "app/flash_application.h"
#include "ui/window_pictures.h"

class QLabel;
class QPlainTextEdit;
class QProgressBar;

namespace firmora::ui {

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

    // The controls drawn again from the form.
    void Render();
    // Runs what the workers posted, then draws (the GUI thread).
    void Drain();

    PictureButton& cancelButton() { return *cancel_; }
    PictureButton& finishButton() { return *finish_; }
    PictureButton& nextButton() { return *next_; }
    QLabel& heading() { return *heading_; }
    QLabel& line1() { return *line1_; }
    QLabel& line2() { return *line2_; }
    QLabel& status() { return *status_; }
    QProgressBar& progress() { return *progress_; }
    const WindowPictures& pictures() const { return *pictures_; }
    // How many drains ran, and whether each ran on the widget's thread.
    int drains() const { return drains_; }
    bool drainedOffThread() const { return drainedOffThread_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void Next();
    void Finish();
    void PutAway();

    app::FlashApplication& application_;
    QtDialogs* dialogs_;
    std::unique_ptr<WindowPictures> pictures_;
    QLabel* title_;
    QLabel* heading_;
    QPlainTextEdit* memo_;
    QLabel* line1_;
    QLabel* line2_;
    QProgressBar* progress_;
    QLabel* status_;
    PictureButton* cancel_;
    PictureButton* finish_;
    PictureButton* next_;
    QTimer timer1_;  // the 20-second start timer, running while Timer1 is enabled
    bool dragging_ = false;
    QPoint dragCursor_;  // the cursor's screen position at the press
    QPoint dragWindow_;  // the window's position then
    bool putAway_ = false;
    int drains_ = 0;
    bool drainedOffThread_ = false;
};

// The start timer's period.
inline constexpr int kStartTimerMs = 20'000;

}  // namespace firmora::ui
