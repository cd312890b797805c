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

}  // namespace firmora::platform
