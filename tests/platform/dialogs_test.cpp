#include "platform/dialogs.h"

#include <gtest/gtest.h>

namespace firmora::platform {
namespace {

TEST(Dialogs, ScriptedDialogsRecordBoxesAndAnswerInOrderThenByDefault) {
    ScriptedDialogs dialogs;
    dialogs.QueueAnswer(DialogAnswer::No);
    EXPECT_EQ(dialogs.ShowMessage("Warning", "Continue?", DialogButtons::YesNo,
                                  DialogIcon::Question),
              DialogAnswer::No);
    EXPECT_EQ(dialogs.ShowMessage("Warning", "again", DialogButtons::RetryCancel,
                                  DialogIcon::Warning),
              DialogAnswer::Retry);
    ASSERT_EQ(dialogs.shown().size(), 2u);
    EXPECT_EQ(dialogs.shown()[0].text, "Continue?");
    EXPECT_EQ(dialogs.shown()[1].buttons, DialogButtons::RetryCancel);
    EXPECT_EQ(dialogs.shown()[1].icon, DialogIcon::Warning);
}

}  // namespace
}  // namespace firmora::platform
