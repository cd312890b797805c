#pragma once
// The window model over a whole update on SimPlatform: the worker fixture's
// package and virtual modem, the window's run log in a test folder, a
// readiness loop that only records, and the window's thread played by the
// test, which drains the report queue.

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "../engine/worker_fixture.h"
#include "app/flash_form.h"
#include "app/window_settings.h"
#include "line_gate.h"
#include "temp_root_paths.h"

namespace firmora::app {

// Records what the controller asks of the readiness loop.
class RecordingReadiness final : public ReadinessLoop {
public:
    void Stop() override { ++stops; }
    void Start() override { ++starts; }
    bool AtPortOpen() override { return atPortOpen; }
    bool CloseAtPort() override {
        if (failedCloses > 0) {
            --failedCloses;
            return false;
        }
        atPortOpen = false;
        return true;
    }

    int stops = 0;
    int starts = 0;
    bool atPortOpen = false;
    int failedCloses = 0;
};

class FormFixture : public engine::WorkerFixture {
protected:
    // A worker still held (a test that failed early) is let go before the
    // window waits for it.
    void TearDown() override {
        if (gate) gate->Open();
        form.reset();
    }

    // The virtual modem, then the window over it, its selectors from a first scan.
    void Open(const nlohmann::json& overrides = nlohmann::json::object(), const std::string& base = "default") {
        Plug(overrides, base);
        window->ScanPorts();
        RunPackage package;
        package.packageFolder = workingFolder;
        package.workingFolder = workingFolder;
        package.backupFolder = backupRoot;
        for (const auto& [name, size] : engine::DefaultImages()) package.images.push_back({workingFolder / name, size});
        form = std::make_unique<TFlashSrcUiForm>(
            FormServices{simulation->clock(), simulation->serialPorts(), simulation->devices(), simulation->usbBulk(),
                         formProcesses != nullptr ? *formProcesses : simulation->processes(), formDialogs != nullptr ? *formDialogs : dialogs,
                         simulation->settings(), files, paths, tables,
                         window->discovery()},
            options, std::move(package), checks, &readiness);
        form->onReportLine = [this](const std::string& text, int kind) { lines.push_back({text, kind}); };
    }

    // Presses Start and waits until the worker is held at `line`.
    testing::LineGate& StartHeldAt(const std::string& line) {
        gate = std::make_unique<testing::LineGate>(line);
        form->onWorkerReport = [this](int, const std::string& text, int) { gate->Arrive(text); };
        form->StartClick();
        EXPECT_TRUE(gate->WaitReached());
        return *gate;
    }

    // Plays the window's thread until the worker's end has been handled.
    void RunToEnd() {
        for (int guard = 0; form->AnySlotOccupied() && guard < 600; ++guard) {
            form->queue().WaitPending(100);
            form->queue().Drain();
        }
        ASSERT_FALSE(form->AnySlotOccupied()) << "the worker did not end";
    }

    std::vector<std::string> Texts() const {
        std::vector<std::string> texts;
        for (const auto& line : lines) texts.push_back(line.text);
        return texts;
    }
    bool Has(const std::string& text) const {
        for (const auto& line : lines) {
            if (line.text == text) return true;
        }
        return false;
    }
    std::string Status() { return ReadDownloadStatus(simulation->settings()); }

    struct Line {
        std::string text;
        int kind;
    };
    testing::TempRootPaths paths;
    RecordingReadiness readiness;
    DeviceChecks checks;
    platform::Dialogs* formDialogs = nullptr;  // the window's boxes, when not the scripted ones
    platform::Processes* formProcesses = nullptr;  // the window's process list, when not the virtual modem's
    std::unique_ptr<TFlashSrcUiForm> form;
    std::unique_ptr<testing::LineGate> gate;
    std::vector<Line> lines;
};

}  // namespace firmora::app
