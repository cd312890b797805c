// The window's own face: the wizard of Next, the ways out of the program,
// the minimise control, dragging the window by its picture, the compact
// product's result panels, and the picture buttons of the other window
// styles.

#include <set>

#include "app/flash_form.h"
#include "package/project_table.h"

namespace firmora::app {
namespace {

constexpr const char* kExitQuestion = "アップデートツールを終了しますか？";
constexpr uint32_t kPauseBeforeCloseMs = 200;
// What the closing sequence ends: the maker's helper programs and earlier
// instances of the tool.
constexpr const char* kLeftoverPrograms[] = {"8024", "KQ302TRM"};
// The compact product's captions after its run: the operator's data card
// software was upgraded; the data card firmware upgrade failed.
constexpr const char* kCompactSuccessCaption = "运营商上网卡软件升级已完成";
constexpr const char* kCompactFailureCaption = "上网卡固件升级失败";

void Show(Control& picture, Control& label, bool shown) {
    picture.visible = shown;
    label.visible = shown;
}

}  // namespace

// --- The wizard ---

void TFlashSrcUiForm::nextButtonClick() {
    // The label takes the click: a disabled Next is not pressed at all.
    if (!controls_.Label21.enabled) return;
    const int step = wizardStep_++;
    if (step == 0) {
        ShowPage("Device Check", "USBポートにKQ302TR-Mを接続し、", "「次へ」を選択してください");
        ShowButtons(true, false, true);
        const PortSelectors selectors = Selectors();
        if (selectors.PortCBox.Text().empty() || selectors.SerialPortCBox.Text().empty()) {
            controls_.Label21.enabled = false;
        }
    } else if (step == 1) {
        // A device that fits shows nothing new: the next press starts the update.
        if (!checks_.revisionFamilyMismatch || !checks_.revisionFamilyMismatch()) return;
        ShowPage("Update", "本アップデートツールは適用できません。", "メーカーへお問い合わせください。");
        ShowButtons(false, true, false);
        ProcessMessages();
    } else if (step == 2) {
        ShowPage("Update", "アップデートしています", "しばらくお待ちください");
        ShowButtons(false, false, false);
        controls_.ProgressBar.visible = true;
        ProcessMessages();
        StartClick();
    }
}

void TFlashSrcUiForm::ShowPage(const std::string& heading, const std::string& line1, const std::string& line2) {
    WindowControls& c = controls_;
    c.Memo1.visible = false;
    c.Label13.text = heading;
    c.Label14.text = line1;
    c.Label15.text = line2;
    c.Label14.visible = true;
    c.Label15.visible = true;
}

void TFlashSrcUiForm::ShowButtons(bool cancel, bool finish, bool next) {
    Show(controls_.Image16, controls_.Label20, cancel);
    Show(controls_.Image4, controls_.Label16, finish);
    Show(controls_.Image17, controls_.Label21, next);
}

void TFlashSrcUiForm::ProcessMessages() {
    if (onProcessMessages) onProcessMessages();
}

void TFlashSrcUiForm::ShowResultPage(int kind) {
    WindowControls& c = controls_;
    c.Memo1.visible = false;
    c.Label15.visible = true;
    ShowButtons(false, true, false);
    if (kind == core::kReportError) {
        c.Label13.text = "Update Failure";
        c.Label14.visible = false;
        c.Label15.text = "アップデートに失敗しました";
    } else {
        c.Label13.text = "Update Completed";
        c.Label14.text = options_.Version;
        c.Label14.visible = true;
        c.Label15.text = "アップデートが正常に完了しました";
    }
    if (options_.ProjectIndex == package::kProjectZQ65_Custom) ShowCompactResult(kind);
    if (kind == core::kReportSuccess) ProcessMessages();
}

// --- The compact product's result panels ---

void TFlashSrcUiForm::ShowCompactResult(int kind) {
    WindowControls& c = controls_;
    c.GroupBox1.visible = false;
    if (kind == core::kReportSuccess) {
        c.Frame.caption = kCompactSuccessCaption;
        c.Label_CustomVersion.text = options_.MatchVersion;
        c.Label_CustomVersion.visible = true;
        ResizeAboutCentre(c.GroupBox2.width, c.GroupBox2.height);
        c.GroupBox2.position = {0, 0};
        c.GroupBox2.visible = true;
    } else {
        c.GroupBox2.visible = false;
        c.Frame.caption = kCompactFailureCaption;
        ResizeAboutCentre(c.GroupBox4.width, c.GroupBox4.height);
        c.GroupBox4.position = {0, 0};
        c.GroupBox4.visible = true;
    }
}

void TFlashSrcUiForm::ResizeAboutCentre(int width, int height) {
    WindowFrame& frame = controls_.Frame;
    // Integer division halves toward zero, as the window has always moved.
    frame.position.left -= (width - frame.width) / 2;
    frame.position.top -= (height - frame.height) / 2;
    frame.width = width;
    frame.height = height;
}

void TFlashSrcUiForm::SpeedButton1Click() { EndApplication(); }

void TFlashSrcUiForm::SpeedButton2Click() { EndApplication(); }

// --- Leaving the program ---

void TFlashSrcUiForm::Label20Click() {
    if (services_.dialogs.ShowMessage("Exit", kExitQuestion, platform::DialogButtons::YesNo,
                                      platform::DialogIcon::Question) == platform::DialogAnswer::Yes) {
        ClosingSequence();
    }
}

void TFlashSrcUiForm::Label16Click() { ClosingSequence(); }

void TFlashSrcUiForm::Image7Click() {
    ClosingSequence();
    // The close picture's own press and release follow the click; once the
    // window has decided to close there is nothing left for them to do.
    if (!closeRequested_) CloseButtonClick();
}

void TFlashSrcUiForm::ClosingSequence() {
    if (readiness_ != nullptr) readiness_->Stop();
    services_.clock.Sleep(kPauseBeforeCloseMs);
    // During a run the window asks and may stay open; the leftover programs
    // are ended either way.
    RequestClose();
    for (const char* name : kLeftoverPrograms) EndProcessesContaining(name);
}

void TFlashSrcUiForm::EndProcessesContaining(const std::string& text) {
    platform::Processes& processes = services_.processes;
    const std::vector<platform::ProcessInfo> list = processes.List();
    // Never this program (a product executable's name may well hold the
    // text, and ending it could leave a modem half-written) nor what it
    // started and may be waiting for: its descendants, found by their parents.
    std::set<uint32_t> ours{processes.OwnId()};
    for (bool grew = true; grew;) {
        grew = false;
        for (const platform::ProcessInfo& process : list) {
            if (process.parentId != 0 && ours.contains(process.parentId) && ours.insert(process.id).second) grew = true;
        }
    }
    for (const platform::ProcessInfo& process : list) {
        if (process.executableName.find(text) == std::string::npos || ours.contains(process.id)) continue;
        processes.Terminate(process.id);  // one that cannot be ended stays, without a message
    }
}

// --- Minimise and dragging ---

void TFlashSrcUiForm::Image_min0MouseDown() {
    controls_.Image_min0.visible = false;
    controls_.Image_min1.visible = true;
}

void TFlashSrcUiForm::Image_min0MouseUp() {
    controls_.Image_min0.visible = true;
    controls_.Image_min1.visible = false;
    if (onMinimise) onMinimise();
}

void TFlashSrcUiForm::Image_BigMouseDown(Position cursorOnScreen) {
    drag_ = {true, cursorOnScreen, controls_.Frame.position};
}

void TFlashSrcUiForm::Image_BigMouseMove(Position cursorOnScreen) {
    RefreshStartImages();
    if (!drag_.active) return;
    controls_.Frame.position = {drag_.window.left + cursorOnScreen.left - drag_.cursor.left,
                                drag_.window.top + cursorOnScreen.top - drag_.cursor.top};
}

void TFlashSrcUiForm::Image_BigMouseUp() { drag_.active = false; }

// --- The picture buttons of the other window styles ---
// A set shows one of its pictures: 0 idle, 1 pressed, 2 hovered, 3 disabled.
// A front end calls the handler of the picture the set shows.

void TFlashSrcUiForm::StartPictureMove(Control& set) {
    if (set.pictureIndex == 0 && controls_.StartButton.enabled) set.pictureIndex = 2;
}

void TFlashSrcUiForm::StartPictureDown(Control& set) {
    if (set.pictureIndex == 2 && controls_.StartButton.enabled) set.pictureIndex = 1;
}

void TFlashSrcUiForm::StartPictureUp(Control& set) {
    // The release belongs to the hovered picture that took the press; Start
    // itself decides whether a run can begin.
    if (set.pictureIndex != 1 && set.pictureIndex != 2) return;
    StartClick();
    set.pictureIndex = controls_.StartButton.enabled ? 0 : 3;
}

void TFlashSrcUiForm::StartPictureIdleUp(Control& set) {
    // Released where it was not pressed: the idle or the disabled picture, by Start's state.
    if (set.pictureIndex == 0 && !controls_.StartButton.enabled) set.pictureIndex = 3;
}

void TFlashSrcUiForm::Image_start0MouseMove() { StartPictureMove(controls_.Image_start0); }

void TFlashSrcUiForm::Image_start0MouseUp() { StartPictureIdleUp(controls_.Image_start0); }

void TFlashSrcUiForm::Image_start2MouseDown() { StartPictureDown(controls_.Image_start0); }

void TFlashSrcUiForm::Image_start2MouseUp() { StartPictureUp(controls_.Image_start0); }

void TFlashSrcUiForm::Image_start0_0MouseMove() { StartPictureMove(controls_.Image_start0_0); }

void TFlashSrcUiForm::Image_start0_0MouseUp() { StartPictureIdleUp(controls_.Image_start0_0); }

void TFlashSrcUiForm::Image_start2_2MouseDown() { StartPictureDown(controls_.Image_start0_0); }

void TFlashSrcUiForm::Image_start2_2MouseUp() { StartPictureUp(controls_.Image_start0_0); }

void TFlashSrcUiForm::Image_finish0MouseMove() {
    Control& finish = controls_.Image_finish0;
    if (finish.pictureIndex == 0 && controls_.CloseButton.enabled) finish.pictureIndex = 2;
}

// Released where it was not pressed: Finish stays idle.
void TFlashSrcUiForm::Image_finish0MouseUp() {}

void TFlashSrcUiForm::Image_finish2MouseDown() {
    if (controls_.Image_finish0.pictureIndex == 2) controls_.Image_finish0.pictureIndex = 1;
}

void TFlashSrcUiForm::Image_finish2MouseUp() {
    Control& finish = controls_.Image_finish0;
    if (finish.pictureIndex != 1 && finish.pictureIndex != 2) return;
    finish.pictureIndex = 0;
    FinishButtonClick();
}

}  // namespace firmora::app
