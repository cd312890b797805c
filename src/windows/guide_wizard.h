#pragma once
// The guide wizards a product may show before the main window: the page
// wizards TFormGuide, TFormGuide1 and TFormGuide2 (welcome, licence, notes,
// confirmation) and TFormGuide3 (welcome, licence, steps, device missing).
// Pure models: a front end draws the controls after each handler and closes
// the window once result() is not None.

#include <functional>
#include <string>

#include "package/download_options.h"
#include "platform/dialogs.h"
#include "windows/controls.h"
#include "windows/modal_result.h"

namespace firmora::windows {

// Which product the wizard is shown for: its project index and version variant.
struct GuideProduct {
    int projectIndex = 0;
    package::VersionVariantKind versionVariant = package::VersionVariantKind::None;
};

// The product a request is made for.
GuideProduct ProductOf(const platform::GuideRequest& request);

// A window's frame: caption, size, position (left and top on the screen) and
// whether it has a dialog border.
struct GuideFrame {
    std::string caption;
    int width = 0;
    int height = 0;
    Position position;
    bool bordered = true;
};

// TFormGuide, TFormGuide1 and TFormGuide2. The page texts are the request's
// pages in order (welcome, licence, notes, confirmation); TFormGuide2's
// second licence page and its notice page show the licence and welcome texts.
class PageGuide {
public:
    // `dialogs` asks the exit question; it must outlive the wizard.
    PageGuide(const platform::GuideRequest& request, GuideProduct product, platform::Dialogs& dialogs);

    void NextClick();
    void BackClick();
    void FinishClick();
    // Ticking or clearing CheckBox1, the licence agreement.
    void AgreementClick(bool ticked);
    // Cancel and the close box both try to close the window: true when it
    // closes (result() then says how it ended), false when the user kept it.
    bool CancelClick() { return CloseQuery(); }
    bool CloseQuery();

    int pageIndex() const { return pageIndex_; }
    bool ending() const { return ending_; }
    ModalResult result() const { return result_; }

    GuideFrame Frame;
    Control GroupBox1;   // welcome
    Control GroupBox3;   // licence
    Control GroupBox4;   // notes
    Control GroupBox6;   // confirmation
    Control GroupBox8;   // TFormGuide2: the licence page of VersionVariant C
    Control GroupBox10;  // TFormGuide2: the single notice page
    Control CheckBox1;
    Control ButtonBack;
    Control ButtonNext;
    Control ButtonCancel;
    Control ButtonFinish;

private:
    Control& LicencePage();
    void ShowOnly(Control& page);
    void End(ModalResult result);

    platform::GuideWizard wizard_;
    GuideProduct product_;
    platform::Dialogs& dialogs_;
    bool japanese_;
    int pageIndex_ = 0;
    bool ending_ = false;
    ModalResult result_ = ModalResult::None;
};

// TFormGuide3: its own flow of four pages on one window that changes size.
class SetupGuide {
public:
    enum class Page { Welcome, Licence, Steps, DeviceMissing };

    // `centre` is where the welcome window is centred (the screen's centre).
    SetupGuide(const platform::GuideRequest& request, Position centre);

    // Asked by Start on the steps page: whether the main window sees a
    // device. Taken from the request; unset counts as no device.
    std::function<bool()> devicePresent;

    void InstallClick();
    void ExitClick();
    void AgreeClick();
    void DisagreeClick();
    void NextClick();
    void StartClick();
    void CancelClick();
    void DeviceMissingClick();
    // The close box ends the wizard with Cancel unless a button decided.
    void Close();

    Page page() const { return page_; }
    ModalResult result() const { return result_; }

    GuideFrame Frame;
    Control Label_welcome;
    Control ButtonInstall;
    Control ButtonExit;
    Control Memo_licence;
    Control RadioAgree;
    Control RadioDisagree;
    Control ButtonNext;
    Control Image_next_inactive;  // the picture in Next's place until agree is chosen
    Control Label_steps;
    Control ButtonStart;
    Control ButtonCancel;
    Control Label_device_missing;
    Control ButtonDeviceMissing;

private:
    void ShowPage(Page page, int width, int height);
    // The licence page's radio buttons; Next replaces its inactive picture
    // only while "agree" is chosen.
    void Choose(bool agree);
    void End(ModalResult result);

    std::string title_;
    std::string licenceCaption_;
    std::string stepsCaption_;
    Page page_ = Page::Welcome;
    ModalResult result_ = ModalResult::None;
};

}  // namespace firmora::windows
