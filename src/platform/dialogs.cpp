#include "platform/dialogs.h"

namespace firmora::platform {

DialogAnswer DefaultAnswer(DialogButtons buttons) {
    switch (buttons) {
        case DialogButtons::YesNo:
        case DialogButtons::YesNoCancel: return DialogAnswer::Yes;
        case DialogButtons::RetryCancel: return DialogAnswer::Retry;
        case DialogButtons::AbortRetryIgnore: return DialogAnswer::Abort;
        case DialogButtons::Ok:
        case DialogButtons::OkCancel: break;
    }
    return DialogAnswer::Ok;
}

DialogAnswer ScriptedDialogs::ShowMessage(const std::string& caption, const std::string& text,
                                          DialogButtons buttons, DialogIcon icon) {
    shown_.push_back({caption, text, buttons, icon});
    if (answers_.empty()) return DefaultAnswer(buttons);
    const DialogAnswer answer = answers_.front();
    answers_.pop_front();
    return answer;
}

bool Dialogs::ConfirmStart(int /*projectIndex*/, const std::string& caption, const std::string& text) {
    return ShowMessage(caption, text, DialogButtons::OkCancel, DialogIcon::Question) == DialogAnswer::Ok;
}

const char* GuideWizardName(GuideWizard wizard) {
    switch (wizard) {
        case GuideWizard::TFormGuide: return "TFormGuide";
        case GuideWizard::TFormGuide1: return "TFormGuide1";
        case GuideWizard::TFormGuide2: return "TFormGuide2";
        case GuideWizard::TFormGuide3: return "TFormGuide3";
    }
    return "TFormGuide";
}

bool ScriptedDialogs::ShowGuide(const GuideRequest& request) {
    guides_.push_back(request);
    return confirmGuides;
}

}  // namespace firmora::platform
