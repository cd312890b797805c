// The window's own wizard and ways out, on the window model: Next's pages,
// the result pages, Cancel, Finish and the close picture with the processes
// they end, minimise, dragging, the compact product's panels and the
// picture buttons of the other window styles.

#include <gtest/gtest.h>

#include <set>
#include <utility>
#include <vector>

#include "app/flash_form.h"
#include "form_fixture.h"
#include "package/project_table.h"
#include "sim/sim_processes.h"

namespace firmora::app {
namespace {

using Wizard = FormFixture;

// The virtual modem's processes with more listed beside them: this
// program's own, its children, and the helper programs the closing
// sequence looks for. Ending one of those is recorded; one may refuse.
class ProcessTable final : public platform::Processes {
public:
    // Over the simulation the fixture makes when it opens the window.
    explicit ProcessTable(const std::unique_ptr<sim::SimPlatform>& simulation) : simulation_(simulation) {}
    bool StartHidden(const std::filesystem::path& program) override { return programs().StartHidden(program); }
    std::vector<platform::ProcessInfo> List() override {
        std::vector<platform::ProcessInfo> list = programs().List();
        for (const platform::ProcessInfo& extra : extras) {
            if (!ended.contains(extra.id)) list.push_back(extra);
        }
        return list;
    }
    uint32_t OwnId() override { return sim::SimProcesses::kToolId; }
    bool Terminate(uint32_t id) override {
        if (id == refusing) return false;
        ended.insert(id);
        return true;
    }
    std::unique_ptr<platform::NamedLock> CreateNamedLock(const std::string& name, bool& existed) override {
        return programs().CreateNamedLock(name, existed);
    }

    std::vector<platform::ProcessInfo> extras;
    std::set<uint32_t> ended;
    uint32_t refusing = 0;

private:
    platform::Processes& programs() { return simulation_->processes(); }
    const std::unique_ptr<sim::SimPlatform>& simulation_;
};

// The page's texts and buttons, to see that a press changed nothing.
std::vector<std::pair<std::string, bool>> Page(const WindowControls& c) {
    return {{c.Label13.text, c.Label13.visible}, {c.Label14.text, c.Label14.visible},
            {c.Label15.text, c.Label15.visible}, {c.Memo1.text, c.Memo1.visible},
            {c.Label20.text, c.Label20.visible}, {c.Label16.text, c.Label16.visible},
            {c.Label21.text, c.Label21.visible}, {"gauge", c.ProgressBar.visible}};
}

// Precautions, device check, no change for a fitting device, the updating
// page (shown before Start runs), then the success page with the package's
// version as written; further presses change nothing.
TEST_F(Wizard, NextWalksFromThePrecautionsToTheSuccessPage) {
    checks.revisionFamilyMismatch = [] { return false; };
    Open();
    const WindowControls& c = form->controls();
    EXPECT_EQ(c.Label13.text, "注意事項");
    EXPECT_TRUE(c.Memo1.visible);
    EXPECT_FALSE(c.ProgressBar.visible);
    EXPECT_FALSE(c.Label16.visible);

    form->nextButtonClick();
    EXPECT_EQ(form->WizardStep(), 1);
    EXPECT_EQ(c.Label13.text, "Device Check");
    EXPECT_EQ(c.Label14.text, "USBポートにKQ302TR-Mを接続し、");
    EXPECT_EQ(c.Label15.text, "「次へ」を選択してください");
    EXPECT_FALSE(c.Memo1.visible);
    EXPECT_TRUE(c.Label14.visible && c.Label15.visible);
    EXPECT_TRUE(c.Label20.visible && c.Label21.visible && c.Label21.enabled);
    EXPECT_TRUE(c.Image16.visible && c.Image17.visible && !c.Image4.visible);

    const auto deviceCheck = Page(c);
    form->nextButtonClick();
    EXPECT_EQ(form->WizardStep(), 2);
    EXPECT_EQ(Page(c), deviceCheck);
    EXPECT_FALSE(form->SlotOccupied(0));

    bool pageShownBeforeStart = false;
    form->onProcessMessages = [&] {
        pageShownBeforeStart = !form->SlotOccupied(0) && c.Label14.text == "アップデートしています";
    };
    form->nextButtonClick();
    EXPECT_TRUE(pageShownBeforeStart);
    EXPECT_EQ(c.Label13.text, "Update");
    EXPECT_EQ(c.Label15.text, "しばらくお待ちください");
    EXPECT_TRUE(c.ProgressBar.visible);
    EXPECT_FALSE(c.Label20.visible || c.Label16.visible || c.Label21.visible);
    EXPECT_TRUE(form->SlotOccupied(0));
    // The readiness loop's last pass may arrive after the run began.
    const std::string upgrading = c.Label_status.text;
    EXPECT_EQ(upgrading, " Upgrading...");
    package::ReadinessDecision late;
    late.ready = true;
    late.status = "Ready";
    form->ShowReadiness(late);
    EXPECT_EQ(c.Label_status.text, upgrading);
    EXPECT_FALSE(c.StartButton.enabled);

    RunToEnd();
    EXPECT_EQ(c.Label13.text, "Update Completed");
    EXPECT_EQ(c.Label14.text, "v2.0.2");
    EXPECT_EQ(c.Label15.text, "アップデートが正常に完了しました");
    EXPECT_TRUE(c.Label16.visible && c.Image4.visible);
    EXPECT_FALSE(c.Label20.visible || c.Label21.visible);
    const auto success = Page(c);
    form->nextButtonClick();
    EXPECT_EQ(form->WizardStep(), 4);
    EXPECT_EQ(Page(c), success);
}

// With no Diag or AT port listed when the device check shows, Next is off
// and a press on it counts for nothing; the readiness pass turns it on.
TEST_F(Wizard, NextIsOffOnTheDeviceCheckWithoutPortsUntilTheReadinessPassFindsThem) {
    Open({{"usb", {{"personality", "cdrom"}}}});
    ASSERT_TRUE(form->Selectors().PortCBox.Text().empty());
    form->nextButtonClick();
    EXPECT_FALSE(form->controls().Label21.enabled);
    form->nextButtonClick();
    EXPECT_EQ(form->WizardStep(), 1);

    package::ReadinessDecision found;
    found.nextEnabled = true;
    form->ShowReadiness(found);
    form->nextButtonClick();
    EXPECT_EQ(form->WizardStep(), 2);
}

// A device of another revision family: the refusal page with Finish only;
// Finish ends the program without a question.
TEST_F(Wizard, ADeviceOfAnotherRevisionFamilyIsRefusedAndFinishEnds) {
    checks.revisionFamilyMismatch = [] { return true; };
    Open();
    int closes = 0;
    form->onCloseRequested = [&] { ++closes; };
    form->nextButtonClick();
    form->nextButtonClick();
    const WindowControls& c = form->controls();
    EXPECT_EQ(c.Label13.text, "Update");
    EXPECT_EQ(c.Label14.text, "本アップデートツールは適用できません。");
    EXPECT_EQ(c.Label15.text, "メーカーへお問い合わせください。");
    EXPECT_TRUE(c.Label16.visible);
    EXPECT_FALSE(c.Label20.visible || c.Label21.visible);

    const uint64_t before = simulation->clock().TickCount();
    form->Label16Click();
    EXPECT_TRUE(dialogs.shown().empty());
    EXPECT_EQ(closes, 1);
    EXPECT_TRUE(form->CloseRequested());
    EXPECT_GE(readiness.stops, 1);
    EXPECT_GE(simulation->clock().TickCount() - before, 200U);
}

// Every error line sets the failure page again, with the same texts.
TEST_F(Wizard, ASecondErrorLineKeepsTheFailurePage) {
    Open();
    form->ReportLine("ERROR, Open port fail, Error code: 2", core::kReportError);
    const auto failure = Page(form->controls());
    EXPECT_EQ(form->controls().Label15.text, "アップデートに失敗しました");
    EXPECT_TRUE(form->controls().Label16.visible);
    form->ReportLine("COMM Closed", core::kReportError);
    EXPECT_EQ(Page(form->controls()), failure);
}

// Cancel asks; No leaves everything as it was, Yes closes and ends the
// leftover helper programs.
TEST_F(Wizard, CancelAsksAndOnlyYesCloses) {
    ProcessTable table(simulation);
    table.extras = {{900, "KQ302TRM.exe", 1}};
    formProcesses = &table;
    Open();
    dialogs.QueueAnswer(platform::DialogAnswer::No);
    form->Label20Click();
    ASSERT_EQ(dialogs.shown().size(), 1U);
    EXPECT_EQ(dialogs.shown()[0].caption, "Exit");
    EXPECT_EQ(dialogs.shown()[0].text, "アップデートツールを終了しますか？");
    EXPECT_EQ(dialogs.shown()[0].buttons, platform::DialogButtons::YesNo);
    EXPECT_FALSE(form->CloseRequested());
    EXPECT_EQ(readiness.stops, 0);
    EXPECT_TRUE(table.ended.empty());

    dialogs.QueueAnswer(platform::DialogAnswer::Yes);
    form->Label20Click();
    EXPECT_TRUE(form->CloseRequested());
    EXPECT_EQ(table.ended, std::set<uint32_t>{900});
}

// The close picture during a run: declining keeps the window and the run,
// but the helper programs are ended all the same; never this program nor
// what it started, and one that refuses does not stop the others.
TEST_F(Wizard, TheClosePictureDuringARunEndsTheHelpersEvenWhenTheWindowStays) {
    ProcessTable table(simulation);
    const uint32_t self = table.OwnId();
    table.extras = {{900, "KQ302TRM.exe", 1},   {901, "Port8024Svc", 1},       {902, "kq302trm.exe", 1},
                    {self, "KQ302TRM_Update", 1}, {903, "KQ302TRM_child", self}, {904, "8024-grandchild", 903},
                    {905, "8024-stuck", 1},       {906, "after-8024", 1}};
    table.refusing = 905;
    formProcesses = &table;
    Open();
    testing::LineGate& gate = StartHeldAt("Backup OK");
    dialogs.QueueAnswer(platform::DialogAnswer::Cancel);
    form->Image7Click();
    ASSERT_EQ(dialogs.shown().size(), 1U);
    EXPECT_EQ(dialogs.shown()[0].text, "アップデート中は終了することはできません。");
    EXPECT_FALSE(form->CloseRequested());
    EXPECT_TRUE(form->SlotOccupied(0));
    EXPECT_EQ(table.ended, (std::set<uint32_t>{900, 901, 906}));
    gate.Open();
    RunToEnd();
}

// The minimise control swaps its pictures while pressed and minimises on release.
TEST_F(Wizard, MinimiseSwapsItsPicturesAndMinimisesOnRelease) {
    Open();
    int minimised = 0;
    form->onMinimise = [&] { ++minimised; };
    const WindowControls& c = form->controls();
    form->Image_min0MouseDown();
    EXPECT_FALSE(c.Image_min0.visible);
    EXPECT_TRUE(c.Image_min1.visible);
    EXPECT_EQ(minimised, 0);
    form->Image_min0MouseUp();
    EXPECT_TRUE(c.Image_min0.visible);
    EXPECT_FALSE(c.Image_min1.visible);
    EXPECT_EQ(minimised, 1);
}

// Dragging the picture 10 right and 5 down moves the window by exactly
// that; every move refreshes the Start picture, a move after the release
// leaves the window where it is.
TEST_F(Wizard, DraggingMovesTheWindowByTheCursorsTravel) {
    Open();
    WindowControls& c = form->controls();
    c.Frame.position = {300, 200};
    c.Image_start0.pictureIndex = 2;  // hovered while Start was on
    form->Image_BigMouseDown({50, 60});
    form->Image_BigMouseMove({55, 61});
    form->Image_BigMouseMove({60, 65});
    EXPECT_EQ(c.Frame.position, (Position{310, 205}));
    EXPECT_EQ(c.Image_start0.pictureIndex, 3);
    form->Image_BigMouseUp();
    form->Image_BigMouseMove({90, 90});
    EXPECT_EQ(c.Frame.position, (Position{310, 205}));
}

// The compact product: success grows the window about its old centre
// (halves rounded toward zero) with the success panel; failure shrinks it
// to the failure panel; its buttons end the application.
TEST_F(Wizard, TheCompactProductsResultPanelsResizeTheWindowAboutItsCentre) {
    options.ProjectIndex = package::kProjectZQ65_Custom;
    options.MatchVersion = "v2.0.2";
    Open();
    WindowControls& c = form->controls();
    const auto compact = [&c] {
        c.Frame.width = 480;
        c.Frame.height = 185;
        c.Frame.position = {100, 100};
    };
    compact();
    c.GroupBox1.visible = true;
    form->ReportLine("PASS", core::kReportSuccess);
    EXPECT_EQ(std::pair(c.Frame.width, c.Frame.height), std::pair(510, 395));
    EXPECT_EQ(c.Frame.position, (Position{85, -5}));
    EXPECT_FALSE(c.GroupBox1.visible);
    EXPECT_TRUE(c.GroupBox2.visible);
    EXPECT_EQ(c.GroupBox2.position, (Position{0, 0}));
    EXPECT_EQ(c.Label_CustomVersion.text, "v2.0.2");
    EXPECT_FALSE(c.Frame.caption.empty());

    compact();
    form->ReportLine("ERROR", core::kReportError);
    EXPECT_EQ(std::pair(c.Frame.width, c.Frame.height), std::pair(300, 165));
    EXPECT_EQ(c.Frame.position, (Position{190, 110}));
    EXPECT_EQ(c.Frame.caption, "上网卡固件升级失败");
    EXPECT_FALSE(c.GroupBox2.visible);
    EXPECT_TRUE(c.GroupBox4.visible);

    form->SpeedButton2Click();
    EXPECT_TRUE(form->ApplicationEnding());
}

// The Start pictures of the other window styles: hover and press show while
// Start is on; the release presses Start, and the set shows disabled while
// the run holds Start off. Finish hovers only while Close is on, and its
// release closes.
TEST_F(Wizard, TheStartPictureHoversPressesAndStartsTheRun) {
    Open();
    WindowControls& c = form->controls();
    c.StartButton.enabled = false;
    c.Image_start0.pictureIndex = 0;  // Start went off while the picture stood idle
    form->Image_start0MouseMove();
    EXPECT_EQ(c.Image_start0.pictureIndex, 0);
    form->Image_start0MouseUp();
    EXPECT_EQ(c.Image_start0.pictureIndex, 3);

    c.StartButton.enabled = true;
    c.Image_start0.pictureIndex = 0;
    form->Image_start0MouseMove();
    EXPECT_EQ(c.Image_start0.pictureIndex, 2);
    form->Image_start2MouseDown();
    EXPECT_EQ(c.Image_start0.pictureIndex, 1);
    form->Image_start2MouseUp();
    EXPECT_TRUE(form->SlotOccupied(0));
    EXPECT_EQ(c.Image_start0.pictureIndex, 3);

    form->Image_finish0MouseMove();
    EXPECT_EQ(c.Image_finish0.pictureIndex, 0);
    RunToEnd();

    // Finish, enabled at the end of a run: hovered, pressed, and its release
    // closes through the close confirmation (no run: nothing to ask).
    int closes = 0;
    form->onCloseRequested = [&] { ++closes; };
    c.CloseButton.enabled = true;
    c.Image_finish0.pictureIndex = 0;
    form->Image_finish0MouseMove();
    form->Image_finish2MouseDown();
    EXPECT_EQ(c.Image_finish0.pictureIndex, 1);
    form->Image_finish2MouseUp();
    EXPECT_EQ(c.Image_finish0.pictureIndex, 0);
    EXPECT_EQ(closes, 1);
}

}  // namespace
}  // namespace firmora::app
