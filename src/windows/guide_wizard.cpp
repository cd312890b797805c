#include "windows/guide_wizard.h"

#include <string>

#include "package/project_table.h"

namespace firmora::windows {
namespace {

using platform::GuideWizard;

// The request's text of page `index`, empty when it has fewer pages.
std::string PageText(const platform::GuideRequest& request, size_t index) {
    return index < request.pages.size() ? request.pages[index] : std::string();
}

// Resizes the frame around its centre.
void ResizeKeepingCentre(GuideFrame& frame, int width, int height) {
    const Position centre{frame.position.left + frame.width / 2, frame.position.top + frame.height / 2};
    frame.width = width;
    frame.height = height;
    frame.position = Position{centre.left - width / 2, centre.top - height / 2};
}

}  // namespace

GuideProduct ProductOf(const platform::GuideRequest& request) {
    using package::VersionVariantKind;
    GuideProduct product{.projectIndex = request.projectIndex};
    switch (request.versionVariant) {
        case 'A': product.versionVariant = VersionVariantKind::A; break;
        case 'B': product.versionVariant = VersionVariantKind::B; break;
        case 'C': product.versionVariant = VersionVariantKind::C; break;
        default: break;
    }
    return product;
}

PageGuide::PageGuide(const platform::GuideRequest& request, GuideProduct product, platform::Dialogs& dialogs)
    : wizard_(request.wizard), product_(product), dialogs_(dialogs), japanese_(request.japanese) {
    Frame.caption = request.title;
    Frame.width = wizard_ == GuideWizard::TFormGuide2 ? 445 : 443;
    Frame.height = 326;

    GroupBox1 = Texted(PageText(request, 0), true);
    GroupBox3 = Texted(PageText(request, 1), false);
    GroupBox4 = Texted(PageText(request, 2), false);
    GroupBox6 = Texted(PageText(request, 3), false);
    GroupBox8 = Texted(PageText(request, 1), false);
    GroupBox10 = Texted(PageText(request, 0), false);
    CheckBox1 = Texted(japanese_ ? "使用許諾契約に同意する" : "I accept the licence agreement");
    ButtonBack = Texted(japanese_ ? "< 戻る" : "< Back", false);
    ButtonNext = Texted(japanese_ ? "次へ >" : "Next >");
    ButtonCancel = Texted(japanese_ ? "キャンセル" : "Cancel");
    ButtonFinish = Texted(japanese_ ? "完了" : "Finish", false);
    if (japanese_) {
        for (Control* c : {&GroupBox1, &GroupBox3, &GroupBox4, &GroupBox6, &GroupBox8, &GroupBox10, &CheckBox1,
                           &ButtonBack, &ButtonNext, &ButtonCancel, &ButtonFinish}) {
            c->font = JapaneseFont();
        }
    }

    // The compact Japanese product shows a single notice that ends with OK.
    if (wizard_ == GuideWizard::TFormGuide2 && product_.projectIndex == package::kProjectDI79_21) {
        ShowOnly(GroupBox10);
        ButtonNext.visible = false;
        ButtonFinish.visible = true;
        ButtonFinish.text = "OK";
    }
}

Control& PageGuide::LicencePage() {
    const bool secondLicence = wizard_ == GuideWizard::TFormGuide2 &&
                               product_.versionVariant == package::VersionVariantKind::C;
    return secondLicence ? GroupBox8 : GroupBox3;
}

void PageGuide::ShowOnly(Control& page) {
    for (Control* c : {&GroupBox1, &GroupBox3, &GroupBox4, &GroupBox6, &GroupBox8, &GroupBox10}) {
        c->visible = c == &page;
    }
}

void PageGuide::NextClick() {
    if (!ButtonNext.visible || !ButtonNext.enabled || pageIndex_ >= 3) return;
    switch (pageIndex_) {
        case 0:
            ShowOnly(LicencePage());
            ButtonNext.enabled = CheckBox1.checked;
            break;
        case 1:
            ShowOnly(GroupBox4);
            ButtonNext.enabled = true;
            break;
        default:
            ShowOnly(GroupBox6);
            ButtonFinish.visible = true;
            ButtonNext.visible = false;
            break;
    }
    ButtonBack.visible = true;
    ++pageIndex_;
}

void PageGuide::BackClick() {
    if (!ButtonBack.visible || pageIndex_ <= 0) return;
    switch (pageIndex_) {
        case 3:
            ShowOnly(GroupBox4);
            ButtonNext.enabled = true;
            break;
        case 2:
            ShowOnly(LicencePage());
            ButtonNext.enabled = CheckBox1.checked;
            break;
        default:
            ShowOnly(GroupBox1);
            ButtonBack.visible = false;
            ButtonNext.enabled = true;
            break;
    }
    ButtonFinish.visible = false;
    ButtonNext.visible = true;
    --pageIndex_;
}

void PageGuide::AgreementClick(bool ticked) {
    CheckBox1.checked = ticked;
    if (pageIndex_ == 1) ButtonNext.enabled = ticked;
}

void PageGuide::FinishClick() {
    if (ButtonFinish.visible) End(ModalResult::Ok);
}

bool PageGuide::CloseQuery() {
    if (ending_) return true;
    if (wizard_ == GuideWizard::TFormGuide2 && product_.projectIndex == package::kProjectDI79_21) {
        End(ModalResult::Cancel);
        return true;
    }
    const bool japaneseQuestion = wizard_ == GuideWizard::TFormGuide2 &&
                                  product_.projectIndex == package::kProjectRE78_51 &&
                                  product_.versionVariant != package::VersionVariantKind::None;
    const platform::DialogAnswer answer =
        japaneseQuestion ? dialogs_.ShowMessage(Frame.caption, "終了してもよろしいでしょうか？",
                                                platform::DialogButtons::YesNo, platform::DialogIcon::Question)
                         : dialogs_.ShowMessage("Exit", "Are you sure you want to exit?",
                                                platform::DialogButtons::YesNo, platform::DialogIcon::Question);
    if (answer != platform::DialogAnswer::Yes) return false;
    End(ModalResult::Cancel);
    return true;
}

void PageGuide::End(ModalResult result) {
    ending_ = true;
    result_ = result;
}

SetupGuide::SetupGuide(const platform::GuideRequest& request, Position centre)
    : devicePresent(request.devicePresent), title_(request.title) {
    Frame.caption = title_;
    Frame.width = 480;
    Frame.height = 250;
    Frame.position = Position{centre.left - Frame.width / 2, centre.top - Frame.height / 2};
    Frame.bordered = false;

    const bool ja = request.japanese;
    licenceCaption_ = title_ + (ja ? " - 使用許諾契約" : " - Licence Agreement");
    stepsCaption_ = title_ + (ja ? " - アップデート" : " - Update");
    Label_welcome = Texted(PageText(request, 0));
    ButtonInstall = Texted(ja ? "インストール" : "Install");
    ButtonExit = Texted(ja ? "終了" : "Exit");
    Memo_licence = Texted(PageText(request, 1), false);
    RadioAgree = Texted(ja ? "使用許諾契約に同意する" : "I accept the agreement", false);
    RadioDisagree = Texted(ja ? "使用許諾契約に同意しない" : "I do not accept the agreement", false);
    RadioDisagree.checked = true;
    ButtonNext = Texted(ja ? "次へ >" : "Next >", false);
    Image_next_inactive = Hidden();
    Label_steps = Texted(PageText(request, 2), false);
    ButtonStart = Texted(ja ? "開始" : "Start", false);
    ButtonCancel = Texted(ja ? "キャンセル" : "Cancel", false);
    const std::string missing = ja ? "デバイスが見つかりません。デバイスを接続してから、もう一度ツールを起動してください。"
                                   : "No device was found. Connect the device and start the tool again.";
    Label_device_missing = Texted(request.pages.size() > 3 ? request.pages[3] : missing, false);
    ButtonDeviceMissing = Texted("OK", false);
    if (ja) {
        for (Control* c : {&Label_welcome, &ButtonInstall, &ButtonExit, &Memo_licence, &RadioAgree, &RadioDisagree,
                           &ButtonNext, &Label_steps, &ButtonStart, &ButtonCancel, &Label_device_missing,
                           &ButtonDeviceMissing}) {
            c->font = JapaneseFont();
        }
    }
}

void SetupGuide::ShowPage(Page page, int width, int height) {
    page_ = page;
    const bool welcome = page == Page::Welcome;
    const bool licence = page == Page::Licence;
    const bool steps = page == Page::Steps;
    const bool missing = page == Page::DeviceMissing;
    for (Control* c : {&Label_welcome, &ButtonInstall, &ButtonExit}) c->visible = welcome;
    for (Control* c : {&Memo_licence, &RadioAgree, &RadioDisagree}) c->visible = licence;
    ButtonNext.visible = licence && RadioAgree.checked;
    Image_next_inactive.visible = licence && !RadioAgree.checked;
    for (Control* c : {&Label_steps, &ButtonStart}) c->visible = steps;
    ButtonCancel.visible = licence || steps;
    for (Control* c : {&Label_device_missing, &ButtonDeviceMissing}) c->visible = missing;
    ResizeKeepingCentre(Frame, width, height);
}

void SetupGuide::InstallClick() {
    if (page_ != Page::Welcome || result_ != ModalResult::None) return;
    Frame.bordered = true;
    Frame.caption = licenceCaption_;
    ShowPage(Page::Licence, 510, 395);
}

void SetupGuide::ExitClick() {
    if (page_ == Page::Welcome) End(ModalResult::Cancel);
}

void SetupGuide::AgreeClick() { Choose(true); }

void SetupGuide::DisagreeClick() { Choose(false); }

void SetupGuide::Choose(bool agree) {
    if (page_ != Page::Licence) return;
    RadioAgree.checked = agree;
    RadioDisagree.checked = !agree;
    ButtonNext.visible = agree;
    Image_next_inactive.visible = !agree;
}

void SetupGuide::NextClick() {
    if (page_ != Page::Licence || !RadioAgree.checked || result_ != ModalResult::None) return;
    Frame.caption = stepsCaption_;
    ShowPage(Page::Steps, Frame.width, Frame.height);
}

void SetupGuide::StartClick() {
    if (page_ != Page::Steps || result_ != ModalResult::None) return;
    if (devicePresent && devicePresent()) {
        End(ModalResult::Ok);
        return;
    }
    Frame.caption = title_;
    ShowPage(Page::DeviceMissing, 300, 165);
}

void SetupGuide::CancelClick() {
    if (page_ == Page::Licence || page_ == Page::Steps) End(ModalResult::Cancel);
}

void SetupGuide::DeviceMissingClick() {
    if (page_ == Page::DeviceMissing) End(ModalResult::Cancel);
}

void SetupGuide::Close() {
    if (result_ == ModalResult::None) End(ModalResult::Cancel);
}

void SetupGuide::End(ModalResult result) {
    if (result_ == ModalResult::None) result_ = result;
}

}  // namespace firmora::windows
