#pragma once
// firmora-gui --unattended: the window with nobody at it, for scripts and
// checks. Next is pressed as a user would press it, once the status line
// says Ready (and again on each page that shows it enabled, until the run
// starts); when the run has ended the result page is written out, a picture
// of the window saved when asked, and the window closed. A message box that
// asks a question still waits for its answer.

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <QTimer>

#include <ostream>
#include <string>

#include "app/flash_application.h"

namespace firmora::ui {

class MainWindow;

class Unattended final : public QObject {
    Q_OBJECT
public:
    struct Settings {
        int readyLimitMs = 60'000;  // how long the modem may stay Not Ready
        QString picture;            // a PNG of the window as the run ends; none when empty
    };
    // Starts watching at once; `window` and `application` outlive it.
    Unattended(MainWindow& window, app::FlashApplication& application, Settings settings, std::ostream& out,
               std::ostream& err);

    bool Passed() const { return passed_; }

private:
    void Look();
    void End();
    void Fail(const std::string& why);

    MainWindow& window_;
    app::FlashApplication& application_;
    Settings settings_;
    std::ostream& out_;
    std::ostream& err_;
    QTimer poll_;
    QElapsedTimer sinceStart_;
    int presses_ = 0;
    bool started_ = false;
    bool ended_ = false;
    bool succeeded_ = false;  // a success line came
    bool failed_ = false;     // an error line came
    bool passed_ = false;
};

}  // namespace firmora::ui
