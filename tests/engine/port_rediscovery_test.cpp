#include "engine/port_rediscovery.h"

#include <gtest/gtest.h>

#include <map>

#include "platform/last_error.h"

#include "worker_fixture.h"

namespace firmora::engine {
namespace {

using nlohmann::json;

// The simulated ports, refusing the first opens of chosen port names, as a
// driver still busy with a returning device does.
class LatePorts final : public platform::SerialPorts {
public:
    explicit LatePorts(platform::SerialPorts& inner) : inner_(inner) {}
    void Refuse(const std::string& name, int times) { refusals_[name] = times; }
    int Opens(const std::string& name) const {
        const auto it = opens_.find(name);
        return it == opens_.end() ? 0 : it->second;
    }
    std::unique_ptr<platform::SerialPort> Open(const std::string& name) override {
        ++opens_[name];
        if (int& left = refusals_[name]; left > 0) {
            --left;
            platform::SetLastError(EBUSY);
            return nullptr;
        }
        return inner_.Open(name);
    }

private:
    platform::SerialPorts& inner_;
    std::map<std::string, int> refusals_;
    std::map<std::string, int> opens_;
};

// ResetAndWait and FindComPort on a device whose channels the test opened,
// as the workflow has them open when it resets a device.
class Rediscovery : public WorkerFixture {
protected:
    void Start(const json& overrides = json::object(), const std::string& base = "default") {
        Plug(overrides, base);
        ports = std::make_unique<LatePorts>(simulation->serialPorts());
        window->ScanPorts();
        settings.options = options;
        settings.diagPort = PortNumberOfSelector(window->DiagPortSelector());
        settings.atPort = PortNumberOfSelector(window->AtPortSelector());
        view.now = [this] { return simulation->clock().TickCount(); };
        services = std::make_unique<WorkerServices>(WorkerServices{
            simulation->clock(), *ports, simulation->devices(), simulation->usbBulk(), simulation->processes(),
            dialogs, simulation->settings(), files, tables, *window, view});
        reporter = std::make_unique<RunReporter>(view, 0);
        links = std::make_unique<WorkerLinks>(*services, settings, *reporter);
        run = std::make_unique<RunContext>(RunContext{*services, settings, *reporter, *links});
        ASSERT_TRUE(links->diag.OpenDiagChannel(settings.diagPort));
        ASSERT_TRUE(links->at.ReopenAtChannel(settings.atPort));
    }
    uint64_t Ms(const std::string& text) {
        const auto line = view.First(text);
        EXPECT_TRUE(line) << text;
        return line ? line->ms : 0;
    }

    WorkerSettings settings;
    std::unique_ptr<LatePorts> ports;
    std::unique_ptr<WorkerServices> services;
    std::unique_ptr<RunReporter> reporter;
    std::unique_ptr<WorkerLinks> links;
    std::unique_ptr<RunContext> run;
};

TEST(PortNumberOfSelector, TakesTheNumberAfterComAndNothingElse) {
    EXPECT_EQ(PortNumberOfSelector("COM7"), 7);
    EXPECT_EQ(PortNumberOfSelector("COM123"), 123);
    EXPECT_EQ(PortNumberOfSelector(""), 0);
    EXPECT_EQ(PortNumberOfSelector("COM"), 0);
    EXPECT_EQ(PortNumberOfSelector("COM7x"), 0);
    EXPECT_EQ(PortNumberOfSelector("COM-3"), 0);
    EXPECT_EQ(PortNumberOfSelector("COM99999999999"), 0);
}

TEST_F(Rediscovery, DeviceBackUnderTheSamePortsNeedsNoRescan) {
    Start();
    const int scansBefore = window->scans;
    EXPECT_TRUE(ResetAndWait(*run, false));
    EXPECT_TRUE(InOrder(view.Texts(), {"Reset or power off command......", "Receive device change after reset",
                                       "Receive device Arrival after reset", "Port has not changed",
                                       "COM5 Diagnostic ready", "COM7 Modem ready", "Reset or poweroff successfully!"}));
    EXPECT_EQ(window->scans, scansBefore);
    EXPECT_TRUE(links->diag.IsOpen());
    EXPECT_TRUE(links->at.IsOpen());
    EXPECT_EQ(reporter->RunStatus(), core::kRunHealthy);
}

TEST_F(Rediscovery, DeviceBackUnderNewPortsIsScannedForAndReopenedThere) {
    Start(json::object(), "new-com-ports");
    EXPECT_TRUE(ResetAndWait(*run, false));
    EXPECT_TRUE(InOrder(view.Texts(), {"Port has changed", "FindComPort", "COM15 Diagnostic ready",
                                       "COM17 Modem ready", "Reset or poweroff successfully!"}));
    EXPECT_EQ(settings.diagPort, 15);
    EXPECT_EQ(settings.atPort, 17);
}

// Both waits run out (10 and 60 s), the ten scans find nothing, and after
// five re-open attempts 3 s apart the run fails.
TEST_F(Rediscovery, DeviceThatNeverReturnsFailsAfterFiveReopenAttempts) {
    Start(json::object(), "no-return");
    const uint64_t start = simulation->clock().TickCount();
    EXPECT_FALSE(ResetAndWait(*run, false));
    EXPECT_TRUE(view.Has("Receive device change after reset"));
    EXPECT_FALSE(view.Has("Receive device Arrival after reset"));
    EXPECT_EQ(view.Count("FindComPort"), 10u);
    EXPECT_TRUE(view.Has("Diagnostic commport0......empty"));
    EXPECT_EQ(view.Count("Reset or poweroff......wait"), 5u);
    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_NE(view.Failures()[0].find("Fail to initial port after rest"), std::string::npos);
    // 60 s for the return and five 3-second attempts at least.
    EXPECT_GE(simulation->clock().TickCount() - start, 75000u);
}

// The Diag port opens on the first attempt, the AT port only on the third:
// the Diag channel is opened once, success follows the third attempt.
TEST_F(Rediscovery, AtPortOpeningOnlyOnTheThirdAttemptKeepsTheDiagChannelOpenedOnce) {
    Start();
    ports->Refuse("COM7", 2);
    const int diagOpens = ports->Opens("COM5");
    EXPECT_TRUE(ResetAndWait(*run, false));
    EXPECT_EQ(ports->Opens("COM5") - diagOpens, 1);
    EXPECT_EQ(view.Count("Reset or poweroff......wait"), 2u);
    EXPECT_TRUE(InOrder(view.Texts(), {"Reset or poweroff......wait", "Reset or poweroff......wait",
                                       "Reset or poweroff successfully!"}));
}

// The diagnostic re-open loop of the workflow: a stopped run ends it with
// "COMM Closed" at the next failed attempt, not after twenty.
TEST_F(Rediscovery, StopEndsTheDiagReopenLoopWithCommClosed) {
    Start(json::object(), "no-return");
    links->diag.CloseOnce();
    ports->Refuse("COM5", 100);
    view.onLine = [this](const testing::RecordingRunView::Line& line) {
        if (line.text.find("Initial Diagnostic0......wait") != std::string::npos) reporter->Stop();
    };
    EXPECT_FALSE(ReopenDiagLoop(*run, 10000));
    EXPECT_EQ(view.Count("COM5 Initial Diagnostic0......wait"), 1u);
    EXPECT_TRUE(view.Has("COMM Closed"));
    EXPECT_TRUE(view.Failures().empty());
}

// Without a Stop the loop fails the run at its 10th attempt and still tries
// until the 20th.
TEST_F(Rediscovery, DiagReopenLoopFailsAtTheTenthAttemptAndGoesOnToTheTwentieth) {
    Start(json::object(), "no-return");
    links->diag.CloseOnce();
    ports->Refuse("COM5", 100);
    EXPECT_FALSE(ReopenDiagLoop(*run, 3000));
    EXPECT_EQ(view.Count("COM5 Initial Diagnostic0......wait"), 20u);
    ASSERT_EQ(view.Failures().size(), 1u);
    EXPECT_NE(view.Failures()[0].find("ComPort0 timeout"), std::string::npos);
}

// Stop ends the waits at once rather than after their full minute.
TEST_F(Rediscovery, StopEndsTheWaitsForTheDevice) {
    Start();
    reporter->Stop();
    const uint64_t start = simulation->clock().TickCount();
    WaitForDeviceChange(*run, 15, "change");
    WaitForDeviceArrival(*run, 60, "arrival");
    EXPECT_EQ(simulation->clock().TickCount(), start);
}

}  // namespace
}  // namespace firmora::engine
