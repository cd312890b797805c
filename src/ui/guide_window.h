#pragma once
// The guide wizards on the desktop, drawn over their models: the page wizard
// (TFormGuide, TFormGuide1, TFormGuide2) and TFormGuide3's four-page flow.
// The models decide; after every handler the widgets are set from the
// controls again and the window ends once the model has a result. Every
// widget carries its control's name as its object name.

#include <memory>

#include "platform/dialogs.h"
#include "ui/modal_window.h"
#include "ui/window_pictures.h"
#include "windows/guide_wizard.h"

class QCheckBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QRadioButton;

namespace firmora::ui {

class GuidePanel;
class PictureButton;

class PageGuideWindow final : public ModalWindow {
    Q_OBJECT
public:
    // The page wizard `request` names; `dialogs` asks the exit question and
    // must outlive the window.
    PageGuideWindow(const platform::GuideRequest& request, platform::Dialogs& dialogs, QWidget* parent = nullptr);
    ~PageGuideWindow() override;

    windows::PageGuide& model() { return *model_; }
    void Render() override;

protected:
    windows::ModalResult CloseQuery() override;

private:
    windows::ModalResult ModelResult() const override { return model_->result(); }

    std::unique_ptr<windows::PageGuide> model_;
    GuidePanel* welcome_;
    GuidePanel* licence_;
    GuidePanel* notes_;
    GuidePanel* confirmation_;
    GuidePanel* secondLicence_;
    GuidePanel* notice_;
    QCheckBox* agreement_;
    QPushButton* back_;
    QPushButton* next_;
    QPushButton* cancel_;
    QPushButton* finish_;
};

class SetupGuideWindow final : public ModalWindow {
    Q_OBJECT
public:
    // TFormGuide3 for `request`, its welcome page centred on the screen.
    explicit SetupGuideWindow(const platform::GuideRequest& request, QWidget* parent = nullptr);
    ~SetupGuideWindow() override;

    windows::SetupGuide& model() { return *model_; }
    void Render() override;

protected:
    windows::ModalResult CloseQuery() override;
    void paintEvent(QPaintEvent* event) override;

private:
    windows::ModalResult ModelResult() const override { return model_->result(); }

    std::unique_ptr<windows::SetupGuide> model_;
    PictureSet faces_;  // every button's face: they share one size
    QLabel* welcome_;
    PictureButton* install_;
    PictureButton* exit_;
    QPlainTextEdit* licence_;
    QRadioButton* agree_;
    QRadioButton* disagree_;
    PictureButton* next_;
    PictureButton* nextInactive_;
    QLabel* steps_;
    PictureButton* start_;
    PictureButton* cancel_;
    QLabel* missing_;
    PictureButton* missingOk_;
};

}  // namespace firmora::ui
