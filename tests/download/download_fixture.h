#pragma once
// A virtual modem waiting in its boot loader, the tool's fastboot client and
// plan bound to it through SimPlatform, and a folder for image files.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "download/adb_api.h"
#include "download/fastboot_client.h"
#include "download/fastboot_plan.h"
#include "download/plan_input.h"
#include "recording_reporter.h"
#include "sim/partition_store.h"
#include "sim/sim_platform.h"
#include "test_folder.h"

namespace firmora::download {

class DownloadTest : public ::testing::Test {
protected:
    DownloadTest() : folder("download") {}

    // The default device in its boot loader, with `overrides` merged over it.
    void Use(const nlohmann::json& overrides = nlohmann::json::object()) {
        nlohmann::json scenario = {{"extends", "default"}, {"usb", {{"personality", "bootloader"}}}};
        scenario.merge_patch(overrides);
        sim = sim::SimPlatform::FromScenario(sim::Scenario::FromJson(scenario, "inline", FIRMORA_SCENARIO_DIR));
        adb = AdbApi::Bind(sim->usbBulk());
        client = std::make_unique<FastbootClient>(adb, reporter, sim->clock());
        plan = std::make_unique<FastbootPlan>(*client, sim->devices(), reporter, sim->clock());
    }

    sim::VirtualModem& Modem() { return sim->Modem(0); }
    const sim::Partition& Partition(const std::string& name) { return *Modem().partitions().Find(name); }
    uint64_t Now() { return sim->clock().TickCount(); }

    // A file of `size` bytes that no other file of the test repeats.
    std::filesystem::path WriteImage(const std::string& name, size_t size) {
        std::vector<char> bytes(size);
        uint32_t x = 0x9E3779B9u ^ static_cast<uint32_t>(std::hash<std::string>{}(name));
        for (char& b : bytes) {
            x = x * 1664525u + 1013904223u;
            b = static_cast<char>(x >> 24);
        }
        const auto path = folder.path() / name;
        std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(size));
        return path;
    }

    static uint64_t FileDigest(const std::filesystem::path& path) {
        sim::StreamDigest digest;
        std::ifstream in(path, std::ios::binary);
        std::vector<char> block(1 << 20);
        while (in.read(block.data(), static_cast<std::streamsize>(block.size())) || in.gcount() > 0) {
            digest.Update(reinterpret_cast<const uint8_t*>(block.data()), static_cast<size_t>(in.gcount()));
        }
        return digest.Value();
    }

    // The fastboot commands the device received, in order.
    std::vector<std::string> FastbootCommands() {
        std::vector<std::string> commands;
        for (const std::string& line : Modem().CommandLog()) {
            if (line.rfind("FASTBOOT: ", 0) == 0) commands.push_back(line.substr(10));
        }
        return commands;
    }

    size_t Lines(const std::string& text) const {
        const auto texts = reporter.Texts();
        return static_cast<size_t>(std::count(texts.begin(), texts.end(), text));
    }

    PlanInput Input() {
        PlanInputResult built = BuildPlanInput(options, folder.path());
        EXPECT_TRUE(built.ok()) << built.error;
        return built.input;
    }

    testing::TestFolder folder;
    package::DownloadOptions options;
    std::unique_ptr<sim::SimPlatform> sim;
    AdbApi adb;
    testing::RecordingReporter reporter;
    std::unique_ptr<FastbootClient> client;
    std::unique_ptr<FastbootPlan> plan;
};

}  // namespace firmora::download
