#pragma once
// Message box seam: caption, text, buttons and icon in, the user's answer out.
// The Qt front end shows a real box, the CLI prints and takes a default, tests
// script the answers. The guide wizards some products show at start-up come
// through the same seam.

#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace firmora::platform {

enum class DialogButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel, AbortRetryIgnore };
enum class DialogIcon { None, Information, Warning, Error, Question };
enum class DialogAnswer { Ok, Cancel, Yes, No, Retry, Abort, Ignore };

// The four guide wizards: three page wizards (welcome, licence, notes,
// confirmation) and the compact product's single page.
enum class GuideWizard { TFormGuide, TFormGuide1, TFormGuide2, TFormGuide3 };

// One wizard as start-up asks for it: which window, its title, the texts of
// its pages in order, and whether they are Japanese (the Japanese font).
// The product (project index, version variant 'A', 'B', 'C' or 0 for none)
// picks a page wizard's licence page and exit question. TFormGuide3's Start
// asks devicePresent whether the main window sees a device (unset: none).
struct GuideRequest {
    GuideWizard wizard = GuideWizard::TFormGuide;
    std::string title;
    std::vector<std::string> pages;
    bool japanese = false;
    int projectIndex = 0;
    char versionVariant = 0;
    std::function<bool()> devicePresent = nullptr;
};

// The wizard's name as the window calls it ("TFormGuide2").
const char* GuideWizardName(GuideWizard wizard);

class Dialogs {
public:
    virtual ~Dialogs() = default;
    virtual DialogAnswer ShowMessage(const std::string& caption, const std::string& text,
                                     DialogButtons buttons, DialogIcon icon) = 0;
    // Shows a guide wizard until it ends: true when it was confirmed
    // (Finish), false when it was cancelled or closed.
    virtual bool ShowGuide(const GuideRequest& request) = 0;
    // The question the Japanese products ask before every update: true
    // when the user chose OK. A front end may draw its own box for it; this
    // one asks ShowMessage with OK and Cancel.
    virtual bool ConfirmStart(int projectIndex, const std::string& caption, const std::string& text);
};

// The answer a box gives when nobody can answer it: the first button
// (OK, Yes, Retry or Abort).
DialogAnswer DefaultAnswer(DialogButtons buttons);

// Records every box and wizard and answers from a script; an empty script
// gives DefaultAnswer, and a wizard is confirmed unless told otherwise.
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

    // Every wizard shown, and whether the wizards are confirmed.
    const std::vector<GuideRequest>& guides() const { return guides_; }
    bool confirmGuides = true;
    bool ShowGuide(const GuideRequest& request) override;

private:
    std::deque<DialogAnswer> answers_;
    std::vector<Shown> shown_;
    std::vector<GuideRequest> guides_;
};

}  // namespace firmora::platform
