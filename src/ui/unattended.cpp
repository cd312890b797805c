#include "ui/unattended.h"

#include <QLabel>

#include "core/reporter.h"
#include "package/options_json.h"
#include "ui/main_window.h"
#include "ui/picture_button.h"

namespace firmora::ui {
namespace {

constexpr int kPollMs = 100;
// Next on each wizard page before the run: more presses than pages means
// the run was refused.
constexpr int kMostPresses = 5;

}  // namespace

Unattended::Unattended(MainWindow& window, app::FlashApplication& application, Settings settings, std::ostream& out,
                       std::ostream& err)
    : window_(window), application_(application), settings_(std::move(settings)), out_(out), err_(err) {
    // The lines as the window has handled them, after whoever listened before.
    auto before = application_.form().onReportLine;
    application_.form().onReportLine = [this, before](const std::string& text, int kind) {
        if (before) before(text, kind);
        if (kind == core::kReportSuccess) succeeded_ = true;
        if (kind == core::kReportError) failed_ = true;
    };
    connect(&poll_, &QTimer::timeout, this, &Unattended::Look);
    poll_.start(kPollMs);
    sinceStart_.start();
}

void Unattended::Look() {
    if (ended_) return;
    if (application_.Ending()) {
        // Start-up's timer or a device check ended the program; the window closes itself.
        ended_ = true;
        poll_.stop();
        err_ << "firmora-gui: the program ended: " << package::EscapeVisible(application_.EndMessage()) << '\n';
        return;
    }
    app::TFlashSrcUiForm& form = application_.form();
    if (started_) {
        if (!form.AnySlotOccupied()) End();
        return;
    }
    if (form.AnySlotOccupied()) {
        started_ = true;
        return;
    }
    const bool ready = application_.LastReadiness() && application_.LastReadiness()->ready;
    if (!ready) {
        if (sinceStart_.elapsed() > settings_.readyLimitMs) {
            Fail("the modem stayed Not Ready for " + std::to_string(settings_.readyLimitMs / 1000) +
                 " s: " + window_.status().text().toStdString());
        }
        return;
    }
    PictureButton& next = window_.nextButton();
    if (!next.isVisible() || !next.isEnabled()) return;
    if (presses_ == kMostPresses) {
        Fail("the update did not start after " + std::to_string(kMostPresses) + " presses of Next");
        return;
    }
    ++presses_;
    Q_EMIT next.clicked();
}

void Unattended::End() {
    ended_ = true;
    poll_.stop();
    window_.Render();
    passed_ = succeeded_ && !failed_;
    // The result page as drawn.
    for (const QLabel* label : {&window_.heading(), &window_.line1(), &window_.line2()}) {
        if (label->isVisible() && !label->text().isEmpty()) out_ << label->text().toStdString() << '\n';
    }
    out_ << (passed_ ? "PASS" : "FAIL") << '\n';
    if (!settings_.picture.isEmpty() && !window_.grab().save(settings_.picture, "PNG")) {
        err_ << "firmora-gui: cannot write the picture " << settings_.picture.toStdString() << '\n';
        passed_ = false;
    }
    window_.close();
}

void Unattended::Fail(const std::string& why) {
    ended_ = true;
    poll_.stop();
    err_ << "firmora-gui: " << why << '\n';
    window_.close();
}

}  // namespace firmora::ui
