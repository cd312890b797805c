// The readiness loop against virtual modems: the real port scan, AT probe
// and package programs on SimPlatform. Single passes run on the test's
// thread; the loop's own thread is the only one that moves the virtual
// clock while it runs, so its passes are the same every time.

#include "package/readiness_loop.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <fstream>
#include <mutex>

#include "modeswitch/d1_switch.h"
#include "modeswitch/package_programs.h"
#include "package/config_parser.h"
#include "package/default_config.h"
#include "package/project_table.h"
#include "platform/dialogs.h"
#include "platform/private_profile.h"
#include "platform/std_files.h"
#include "recording_log.h"
#include "sim/sim_platform.h"
#include "sim/sim_processes.h"
#include "test_folder.h"

namespace firmora::package {
namespace {

// Long enough for any machine; only a loop that never decides reaches it.
constexpr auto kHangGuard = std::chrono::seconds(60);

// The window: records every decision; a test waits for one.
class RecordingView final : public ReadinessView {
public:
    void ShowReadiness(const ReadinessDecision& decision) override {
        std::lock_guard lock(mutex_);
        decisions_.push_back(decision);
        changed_.notify_all();
    }
    bool RunActive() override { return runActive; }

    std::vector<ReadinessDecision> Decisions() {
        std::lock_guard lock(mutex_);
        return decisions_;
    }
    // Waits until a decision satisfies `done`.
    template <typename Done>
    bool WaitFor(Done done) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kHangGuard, [&] {
            return std::any_of(decisions_.begin(), decisions_.end(), done);
        });
    }

    std::atomic<bool> runActive{false};

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<ReadinessDecision> decisions_;
};

// The window's log; it can hold the thread that writes `holdAt` until released.
class HoldingLog final : public core::LineLog {
public:
    void Log(const std::string& text) override {
        lines.Log(text);
        if (text != holdAt) return;
        std::unique_lock lock(mutex_);
        held_ = true;
        changed_.notify_all();
        changed_.wait_for(lock, kHangGuard, [this] { return released_; });
    }
    bool WaitHeld() {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, kHangGuard, [this] { return held_; });
    }
    void Release() {
        std::lock_guard lock(mutex_);
        released_ = true;
        changed_.notify_all();
    }

    testing::RecordingLog lines;
    std::string holdAt;

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool held_ = false;
    bool released_ = false;
};

class ReadinessLoopTest : public ::testing::Test {
protected:
    ReadinessLoopTest() {
        ParseConfigText(DefaultConfigText(), settings.options, dialogs);
        settings.workingFolder = folder.path();
        settings.imageFolder = folder.path();
    }
    ~ReadinessLoopTest() override {
        if (loop) loop->Stop();
    }

    void Use(const std::string& scenario) {
        // What refers to the previous platform goes first.
        loop.reset();
        discovery.reset();
        d1.reset();
        probe.reset();
        sim = sim::SimPlatform::FromScenario(sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, scenario));
        probe = std::make_unique<DeviceInterrogation>(sim->serialPorts(), sim->clock(), log, settings.options.Name);
        d1 = std::make_unique<modeswitch::SerialD1Switch>(sim->serialPorts(), sim->clock());
        discovery = std::make_unique<link::PortDiscovery>(sim->devices(), sim->clock(), dialogs, log, *probe, *d1,
                                                          false);
        loop = std::make_unique<ReadinessLoop>(
            ReadinessServices{*discovery, *probe, sim->processes(), sim->clock(), files, log}, view);
        loop->UseSettings(settings);
    }
    void Provide(const char* program) { std::ofstream(folder.path() / program) << "x"; }
    std::vector<std::string> Started() { return dynamic_cast<sim::SimProcesses&>(sim->processes()).Started(); }
    size_t Probes() { return log.lines.Count("Start Send ATI COM7"); }

    testing::TestFolder folder{"readiness"};
    platform::ScriptedDialogs dialogs;
    platform::StdFiles files;
    HoldingLog log;
    RecordingView view;
    ReadinessSettings settings;
    std::unique_ptr<sim::SimPlatform> sim;
    std::unique_ptr<DeviceInterrogation> probe;
    std::unique_ptr<modeswitch::SerialD1Switch> d1;
    std::unique_ptr<link::PortDiscovery> discovery;
    std::unique_ptr<ReadinessLoop> loop;
};

TEST_F(ReadinessLoopTest, TheDefaultDeviceIsReadyForTheDefaultPackage) {
    Use("default");
    EXPECT_EQ(loop->CheckReadiness(), ReadinessLoop::PassEnd::Continue);
    ASSERT_EQ(view.Decisions().size(), 1u);
    const ReadinessDecision decision = view.Decisions()[0];
    EXPECT_TRUE(decision.ready);
    EXPECT_EQ(decision.status, "Ready");
    EXPECT_EQ(decision.versionLabel, "Version:");
    EXPECT_EQ(decision.refusal, "");
    EXPECT_TRUE(log.lines.Has("Diag Port:COM5"));
    EXPECT_TRUE(log.lines.Has("AT Port:COM7"));
    // Ports were known, so no mode switch was started.
    EXPECT_TRUE(Started().empty());
}

TEST_F(ReadinessLoopTest, ACdromOnlyDeviceIsReadyOnceTheModeSwitchShowedItsPorts) {
    Use("cdrom-first");
    Provide(modeswitch::kSwivletProgram);
    loop->Start(settings);
    ASSERT_TRUE(view.WaitFor([](const ReadinessDecision& d) { return d.ready; }));
    EXPECT_TRUE(loop->Running());
    loop->Stop();
    EXPECT_FALSE(loop->Running());
    const std::vector<ReadinessDecision> decisions = view.Decisions();
    EXPECT_EQ(decisions.front().status, "Not Ready");
    EXPECT_EQ(decisions.front().nextEnabled, false);
    EXPECT_FALSE(decisions.front().endsLoop);
    ASSERT_FALSE(Started().empty());
    EXPECT_EQ(Started().front(), "Swivlet.exe");
}

TEST_F(ReadinessLoopTest, AMismatchingPackageIsNotReadyWithItsReasonAndTheLoopEnds) {
    settings.options.bCheckProjectCode = true;
    settings.options.MatchVersion = "XB20_11.LTE.VQA0012.v2.0.2";
    Use("default");
    loop->Start(settings);
    ASSERT_TRUE(view.WaitFor([](const ReadinessDecision& d) { return !d.refusal.empty(); }));
    loop->Stop();
    const std::vector<ReadinessDecision> decisions = view.Decisions();
    ASSERT_EQ(decisions.size(), 1u);
    EXPECT_EQ(decisions[0].refusal, "Could not update other irrelevant model device!");
    EXPECT_EQ(decisions[0].status, "Not Ready");
    EXPECT_FALSE(decisions[0].ready);
    // The loop ended itself after the refusal: one scan, and none later.
    EXPECT_EQ(Probes(), 1u);
}

TEST_F(ReadinessLoopTest, TwoDevicesAreRefusedForADataCardProject) {
    settings.options.ProjectIndex = kProjectRA66_51;
    settings.options.MatchVersion = "MDM9x15.LTE.VQA0012.v2.0.3";
    Use("two-devices");
    EXPECT_EQ(loop->CheckReadiness(), ReadinessLoop::PassEnd::End);
    ASSERT_EQ(view.Decisions().size(), 1u);
    EXPECT_EQ(view.Decisions()[0].refusal, "Two or more devices were found");
    EXPECT_EQ(view.Decisions()[0].versionLabel, "Version:");
}

TEST_F(ReadinessLoopTest, AStopDuringAScanShowsNothingAndProbesNoMore) {
    Use("default");
    log.holdAt = "Start Send ATI COM7";
    loop->Start(settings);
    ASSERT_TRUE(log.WaitHeld());
    loop->RequestStop();
    EXPECT_FALSE(loop->Running());
    log.Release();
    loop->Stop();
    EXPECT_TRUE(view.Decisions().empty());
    EXPECT_FALSE(log.lines.Has("Diag Port:COM5"));
    sim->clock().Sleep(10000);
    EXPECT_EQ(Probes(), 1u);
}

TEST_F(ReadinessLoopTest, LeavesThePortsAloneWhileARunHoldsThem) {
    Use("default");
    view.runActive = true;
    EXPECT_EQ(loop->CheckReadiness(), ReadinessLoop::PassEnd::Continue);
    EXPECT_TRUE(log.lines.Lines().empty());
    EXPECT_TRUE(view.Decisions().empty());
    std::lock_guard lock(sim->lock());
    EXPECT_TRUE(sim->Modem(0).CommandLog().empty());
}

TEST_F(ReadinessLoopTest, TheDriverInstallerMustHaveDoneItsWorkBeforeTheDecision) {
    settings.options.ProjectIndex = kProjectZP200_EA;
    const std::filesystem::path config = folder.path() / "Config.ini";
    // No device: the installer's flag is reset.
    Use("cdrom-first");
    std::ofstream(config) << "[Uninstall]\r\nUninstallUDisk=1\r\n";
    EXPECT_EQ(loop->CheckReadiness(), ReadinessLoop::PassEnd::Continue);
    EXPECT_EQ(platform::IniDocument::Load(files, config).GetString("Uninstall", "UninstallUDisk", ""), "0");

    // A device, but no installer that could set the flag: nothing changes.
    Use("default");
    EXPECT_EQ(loop->CheckReadiness(), ReadinessLoop::PassEnd::Continue);
    EXPECT_EQ(view.Decisions().size(), 1u);

    Provide(modeswitch::kDrivletProgram);
    EXPECT_EQ(loop->CheckReadiness(), ReadinessLoop::PassEnd::Continue);
    ASSERT_EQ(view.Decisions().size(), 2u);
    EXPECT_TRUE(view.Decisions()[1].ready);
    EXPECT_TRUE(view.Decisions()[1].stopStartTimer);
}

}  // namespace
}  // namespace firmora::package
