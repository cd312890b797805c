#include "modeswitch/package_programs.h"

#include <gtest/gtest.h>

#include <fstream>

#include "platform/private_profile.h"
#include "platform/std_files.h"
#include "recording_reporter.h"
#include "sim/sim_platform.h"
#include "sim/sim_processes.h"
#include "test_folder.h"

namespace firmora::modeswitch {
namespace {

class PackageProgramsTest : public ::testing::Test {
protected:
    // A platform with one modem of the shipped scenario `name`, `programs` merged into its "programs".
    void Use(const std::string& name, const nlohmann::json& programs = nlohmann::json::object()) {
        nlohmann::json scenario = sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, name).json;
        scenario["programs"].update(programs);
        sim = sim::SimPlatform::FromScenario(sim::Scenario::FromJson(scenario, name));
    }
    // The package's programs in the working folder, and its Config.ini.
    void Install(const std::string& executeRebootle = "1") {
        for (const char* program : {kSwivletProgram, kRebootleProgram}) std::ofstream(folder.path() / program) << "x";
        platform::WriteProfileString(files, folder.path() / "Config.ini", "Project", "ExecuteRebootle",
                                     executeRebootle);
    }
    const std::vector<std::string>& Started() { return dynamic_cast<sim::SimProcesses&>(sim->processes()).Started(); }
    bool Rebootle() { return RunRebootle(sim->processes(), sim->clock(), files, reporter, folder.path()); }

    testing::TestFolder folder{"programs"};
    platform::StdFiles files;
    testing::RecordingReporter reporter;
    std::unique_ptr<sim::SimPlatform> sim;
};

TEST_F(PackageProgramsTest, TheResetProgramPassesWhenItLeaves100) {
    Use("default");
    Install();
    EXPECT_TRUE(Rebootle());
    EXPECT_EQ(Started(), (std::vector<std::string>{kRebootleProgram}));
    EXPECT_EQ(sim->clock().TickCount(), 3000u + 7000u);
    EXPECT_TRUE(reporter.Errors().empty());
}

TEST_F(PackageProgramsTest, AResetProgramLeavingMinusTwoRunsThreeTimesAndFails) {
    Use("default", {{"rebootleResult", "-2"}});
    Install();
    EXPECT_FALSE(Rebootle());
    EXPECT_EQ(Started().size(), 3u);
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Fail to execute reset modem."), std::string::npos);
}

TEST_F(PackageProgramsTest, EachResultCodeHasItsText) {
    const std::pair<const char*, const char*> cases[] = {{"-1", "Could not find modem port."},
                                                         {"0", "Could not Execute reset Modem."},
                                                         {"7", "Unknown error[ExecuteRebootle]."}};
    for (const auto& [code, text] : cases) {
        Use("default", {{"rebootleResult", code}});
        Install();
        reporter.Clear();
        EXPECT_FALSE(Rebootle()) << code;
        ASSERT_EQ(reporter.Errors().size(), 1u);
        EXPECT_NE(reporter.Errors()[0].find(text), std::string::npos) << reporter.Errors()[0];
    }
}

TEST_F(PackageProgramsTest, AResetProgramThatNeverStartsIsNotPassedByAnEarlierRunsResult) {
    Use("default");
    Install("100");
    std::filesystem::remove(folder.path() / kRebootleProgram);
    EXPECT_FALSE(Rebootle());
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Could not Execute reset Modem."), std::string::npos);
}

TEST_F(PackageProgramsTest, WithoutAWorkingFolderTheResetFailsAtOnce) {
    Use("default");
    EXPECT_FALSE(RunRebootle(sim->processes(), sim->clock(), files, reporter, {}));
    ASSERT_EQ(reporter.Errors().size(), 1u);
    EXPECT_NE(reporter.Errors()[0].find("Could not get temp dir path"), std::string::npos);
    EXPECT_EQ(sim->clock().TickCount(), 0u);
}

TEST_F(PackageProgramsTest, TheModeSwitchBringsACdromOnlyDeviceToItsModemPorts) {
    Use("cdrom-first");
    Install();
    EXPECT_TRUE(sim->devices().SerialPortNames().empty());
    RunSwivlet(sim->processes(), folder.path());
    EXPECT_EQ(sim->clock().TickCount(), 0u);  // not waited for
    sim->clock().Sleep(5000);
    EXPECT_EQ(sim->devices().SerialPortNames(), (std::vector<std::string>{"COM5", "COM6", "COM7"}));
}

}  // namespace
}  // namespace firmora::modeswitch
