#include "platform/posix/console_dialogs.h"

#include <gtest/gtest.h>

#include <sstream>

namespace firmora::platform {
namespace {

TEST(ConsoleDialogs, PrintsCaptionAndTextWithFurtherLinesIndented) {
    std::ostringstream out;
    ConsoleDialogs dialogs(out);
    dialogs.ShowMessage("Warning", "Please insert the device", DialogButtons::Ok,
                        DialogIcon::Warning);
    dialogs.ShowMessage("Warning", "first\r\nsecond\nthird\n", DialogButtons::Ok,
                        DialogIcon::Warning);
    dialogs.ShowMessage("Info", "bell\a and \x1b[2Jescape\tkept", DialogButtons::Ok,
                        DialogIcon::Information);
    EXPECT_EQ(out.str(),
              "Warning: Please insert the device\n"
              "Warning: first\n  second\n  third\n"
              "Info: bell? and ?[2Jescape\tkept\n");
}

TEST(ConsoleDialogs, AnswersWithTheFixedAnswerWhenOfferedElseTheDefault) {
    std::ostringstream out;
    ConsoleDialogs defaults(out);
    EXPECT_EQ(defaults.ShowMessage("c", "t", DialogButtons::YesNo, DialogIcon::Question),
              DialogAnswer::Yes);
    EXPECT_EQ(defaults.ShowMessage("c", "t", DialogButtons::AbortRetryIgnore, DialogIcon::Error),
              DialogAnswer::Abort);

    ConsoleDialogs saysNo(out, DialogAnswer::No);
    EXPECT_EQ(saysNo.ShowMessage("c", "t", DialogButtons::YesNoCancel, DialogIcon::Question),
              DialogAnswer::No);
    EXPECT_EQ(saysNo.ShowMessage("c", "t", DialogButtons::OkCancel, DialogIcon::Question),
              DialogAnswer::Ok);
    ConsoleDialogs cancels(out, DialogAnswer::Cancel);
    EXPECT_EQ(cancels.ShowMessage("c", "t", DialogButtons::RetryCancel, DialogIcon::Error),
              DialogAnswer::Cancel);
    EXPECT_EQ(cancels.ShowMessage("c", "t", DialogButtons::Ok, DialogIcon::None),
              DialogAnswer::Ok);
}

// A wizard prints its title and pages as one box and is confirmed, unless
// the command line answers Cancel or No.
TEST(ConsoleDialogs, PrintsAWizardsPagesAndConfirmsItUnlessToldToCancel) {
    std::ostringstream out;
    const GuideRequest guide{GuideWizard::TFormGuide2, "Update", {"Welcome", "Keep the cable in"}, false};
    EXPECT_TRUE(ConsoleDialogs(out).ShowGuide(guide));
    EXPECT_EQ(out.str(), "Update: Welcome\n  Keep the cable in\n");
    EXPECT_TRUE(ConsoleDialogs(out, DialogAnswer::Yes).ShowGuide(guide));
    EXPECT_FALSE(ConsoleDialogs(out, DialogAnswer::Cancel).ShowGuide(guide));
    EXPECT_FALSE(ConsoleDialogs(out, DialogAnswer::No).ShowGuide(guide));
}

}  // namespace
}  // namespace firmora::platform
