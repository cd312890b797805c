// The update run against every fault the virtual modem can show, at every
// step it can hit. Whatever the fault, a run ends; it either passes with the
// device's data intact or reports exactly one failure and no "PASS"; once
// the download began the backup folder still holds at.bak; and nothing is
// written outside the backup root.

#include <gtest/gtest.h>

#include <map>

#include "worker_fixture.h"

namespace firmora::engine {
namespace {

using nlohmann::json;

using AtField = std::string sim::AtDeviceState::*;

struct FaultCase {
    std::string name;
    std::string base;  // the shipped scenario
    json overrides;
    // Whether the run can still pass (a fault the tool may ride out).
    bool mayPass = false;
    // A value the device refuses to give is one it does not have: a run
    // that passes does not keep it (the contexts when `contextsNotKept`).
    std::vector<AtField> notKept;
    bool contextsNotKept = false;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

json AtFault(const std::string& command, const std::string& reply) {
    return {{"at", {{"faults", {{{"command", command}, {"reply", reply}}}}}}};
}

// The AT commands an update of the default device sends, by the forms the
// faults match: the start set, the identity and parameter reads, the radio
// off, the reboot, then the restores and the end set.
const std::vector<std::string>& RunAtCommands() {
    static const std::vector<std::string> commands = {
        "AT+CFUN=5", "AT+MVTSN=0,5", "AT+MVTSN=0,7", "AT+MVTSN=0,6", "AT+MVTSN=0,8", "AT+MVTSN=0,9",
        "AT+MVTSN=0,10", "AT+MVTSN=0,11", "AT+MVTSN=0,12", "AT+TESTINF2", "at!autoins", "AT+CGDCONT?",
        "AT+WIFICAL", "AT+CUIT87", "AT+CUIT89", "AT+CLLEN", "AT+MVREQ", "AT+GMI", "AT+CFUN=1", "AT+MVTSN=1,5,",
        "AT+MVTSN=1,7,", "AT+MVTSN=1,10,", "AT+MVTSN=1,11,", "AT+MVTSN=1,12,", "AT+WIFICAL=", "AT+TESTINF2=",
        "AT+CUIT87=", "AT+CUIT89=", "at!autoins=", "AT+CGDCONT="};
    return commands;
}

// The values a device may not have: refused, they are not kept.
const std::map<std::string, AtField>& OptionalReads() {
    static const std::map<std::string, AtField> reads = {
        {"AT+MVTSN=0,10", &sim::AtDeviceState::bluetoothAddress}, {"AT+MVTSN=0,11", &sim::AtDeviceState::salesCount},
        {"AT+MVTSN=0,12", &sim::AtDeviceState::salesInfo},        {"AT+WIFICAL", &sim::AtDeviceState::wifiCal},
        {"AT+CUIT87", &sim::AtDeviceState::uit87},                {"AT+CUIT89", &sim::AtDeviceState::uit89}};
    return reads;
}

std::vector<FaultCase> Cases() {
    std::vector<FaultCase> cases;
    auto add = [&](std::string name, std::string base, json overrides, bool mayPass = false) {
        std::string id;
        for (char c : name) {
            if (std::isalnum(static_cast<unsigned char>(c)) || c == '_') {
                id += c;
            } else if (c == '?') {
                id += "Query";
            } else if (c == '=') {
                id += "Set";
            } else if (c == ',') {
                id += '_';
            }
        }
        cases.push_back({std::move(id), std::move(base), std::move(overrides), mayPass, {}, false});
    };
    add("NoReturnAfterTheRestart", "no-return", json::object());
    add("NeverReachesTheBootLoader", "default", {{"usb", {{"neverReturnAfter", {"reboot-bootloader"}}}}});
    // Entries 5, 7 and 11 erase: an erase that is not confirmed is a
    // warning, and the device is back in its boot loader for the next entry.
    for (int k = 1; k <= 12; ++k) {
        add("DropAtEntry" + std::to_string(k), "default", {{"bootloader", {{"dropAtEntry", k}}}},
            k == 5 || k == 7 || k == 11);
    }
    for (const char* partition : {"sbl", "tz", "rpm", "aboot", "system", "modem", "boot", "efs2", "cdrom"}) {
        add(std::string("FlashFails_") + partition, "default", {{"bootloader", {{"failFlash", partition}}}});
    }
    for (int n = 1; n <= 9; ++n) {
        add("SilentDownload" + std::to_string(n), "default", {{"bootloader", {{"silentDownload", n}}}});
    }
    for (int n : {1, 2, 3, 5, 8, 20, 40, 60, 100, 140, 200, 300}) {
        add("BadCrcOnDiagReply" + std::to_string(n), "default", {{"diag", {{"corruptCrcReplies", {n}}}}}, true);
    }
    for (int item : {540, 1864, 4953, 6736}) {
        add("NvStatus8OnItem" + std::to_string(item), "default", {{"nv", {{"badTarget", {item}}}}});
    }
    for (const std::string& command : RunAtCommands()) {
        add("AtError_" + command, "default", AtFault(command, "error"), true);
        if (const auto optional = OptionalReads().find(command); optional != OptionalReads().end()) {
            cases.back().notKept = {optional->second};
        }
        cases.back().contextsNotKept = command == "AT+CGDCONT?";
        add("AtSilence_" + command, "default", AtFault(command, "silence"), true);
    }
    // Devices without a sales counter refuse its write, and the restore goes on.
    for (FaultCase& c : cases) {
        if (c.name == "AtError_ATMVTSNSet1_11_" || c.name == "AtSilence_ATMVTSNSet1_11_") {
            c.notKept = {&sim::AtDeviceState::salesCount};
        }
    }
    add("EfsFull", "efs-full", json::object(), true);
    return cases;
}

class WorkflowFaults : public WorkerFixture, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(WorkflowFaults, RunEndsWithOneFailureOrAPassThatKeptTheData) {
    const FaultCase& fault = GetParam();
    Plug(fault.overrides, fault.base);
    KeptData before = Snapshot();
    for (AtField field : fault.notKept) before.at.*field = "";
    if (fault.contextsNotKept) before.at.contexts.clear();
    RunOnce();

    const std::vector<std::string> failures = view.Failures();
    EXPECT_TRUE(WrittenOutsideBackups().empty());
    if (worker->Passed()) {
        ASSERT_TRUE(fault.mayPass) << "passed despite the fault";
        EXPECT_TRUE(failures.empty());
        EXPECT_EQ(view.Count("PASS"), 1u);
        ExpectKept(before);
        EXPECT_TRUE(BackupFolders().empty());
        return;
    }
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_FALSE(view.Has("PASS"));
    EXPECT_NE(worker->RunStatus(), core::kRunHealthy);
    bool downloadBegan = false;
    for (const std::string& line : RunCommands()) downloadBegan = downloadBegan || line.rfind("FASTBOOT:", 0) == 0;
    if (downloadBegan) {
        ASSERT_EQ(BackupFolders().size(), 1u) << failures[0];
        EXPECT_TRUE(fs::is_regular_file(BackupFolders()[0] / "at.bak")) << failures[0];
    }
}

INSTANTIATE_TEST_SUITE_P(Faults, WorkflowFaults, ::testing::ValuesIn(Cases()),
                         [](const ::testing::TestParamInfo<FaultCase>& info) { return info.param.name; });

// A device that comes back under new numbers is found again and passes.
TEST_F(WorkerFixture, DeviceUnderNewComNumbersIsFoundAgainAndPasses) {
    Plug(json::object(), "new-com-ports");
    const KeptData before = Snapshot();
    RunOnce();
    EXPECT_TRUE(worker->Passed()) << (view.Failures().empty() ? "" : view.Failures()[0]);
    EXPECT_TRUE(InOrder(view.Texts(), {"Port has changed", "FindComPort", "COM15 Diagnostic ready",
                                       "COM17 Modem ready", "COM15 Initial Diagnostic0......ok"}));
    EXPECT_EQ(worker->Settings().diagPort, 15);
    EXPECT_EQ(worker->Settings().atPort, 17);
    ExpectKept(before);
}

// Two devices plugged in: the selected one is updated, the other is left alone.
TEST_F(WorkerFixture, WithTwoDevicesOnlyTheSelectedOneIsWritten) {
    Plug(json::object(), "two-devices");
    RunOnce();
    const std::vector<std::string> failures = view.Failures();
    EXPECT_LE(failures.size(), 1u);
    EXPECT_NE(worker->Passed(), !failures.empty());
    std::lock_guard lock(simulation->lock());
    ASSERT_EQ(simulation->ModemCount(), 2u);
    for (const std::string& line : simulation->Modem(1).CommandLog()) {
        EXPECT_EQ(line.rfind("FASTBOOT:", 0), std::string::npos) << line;
        EXPECT_EQ(line.find("sys_reboot"), std::string::npos) << line;
    }
}

}  // namespace
}  // namespace firmora::engine
