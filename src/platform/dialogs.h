#pragma once
// Message box seam: caption, text, buttons and icon in, the user's answer out.
// The Qt front end shows a real box, the CLI prints and takes a default, tests
// script the answers.

#include <deque>
#include <string>
#include <vector>

namespace firmora::platform {

enum class DialogButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class DialogIcon { None, Information, Warning, Error, Question };
enum class DialogAnswer { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual DialogAnswer ShowMessage(const std::string& caption, const std::string& text,
                                     DialogButtons buttons, DialogIcon icon) = 0;
};

// The answer a box gives when nobody can answer it: the first button
// (OK, Yes, Retry or Abort).
DialogAnswer DefaultAnswer(DialogButtons buttons);

// Records every box and answers from a script; an empty script gives DefaultAnswer.
class ScriptedDialogs final : public Dialogs {
public:
    struct Shown {
        std::string caption;
        std::string text;
        DialogButtons buttons;
        DialogIcon icon;
    };

    void QueueAnswer(DialogAnswer answer) { answers_.push_back(answer); }
    const std::vector<Shown>& shown() const { return shown_; }

    DialogAnswer ShowMessage(const std::string& caption, const std::string& text,
                             DialogButtons buttons, DialogIcon icon) override;

private:
    std::deque<DialogAnswer> answers_;
    std::vector<Shown> shown_;
};

}  // namespace firmora::platform
