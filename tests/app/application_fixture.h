#pragma once
// The whole application over the virtual modem: the embedded default
// package held in a MemoryBundle (its Config.ini, images and programs), the
// temporary folder in a test folder, and the window's thread played by the
// test, which drains the form's queue.

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "../engine/worker_fixture.h"
#include "app/flash_application.h"
#include "app/window_settings.h"
#include "memory_bundle.h"
#include "package/package_unpack.h"
#include "recording_log.h"
#include "temp_root_paths.h"

namespace firmora::app {

class ApplicationFixture : public engine::WorkerFixture {
protected:
    void TearDown() override {
        if (app) app->Destroy();
        app.reset();
    }

    // The package the program carries: `configText` as its Config.ini and
    // every file that configuration unpacks; with Packet = 2 the second
    // variant's files and `secondConfig` as its Config.ini.
    void Carry(const std::string& configText, const std::string& secondConfig = "") {
        bundle.Add("INI", "ConfigFile", configText);
        package::DownloadOptions parsed;
        platform::ScriptedDialogs quiet;
        package::ParseConfigText(configText, parsed, quiet);
        for (const package::PackageFile& file : package::FirstVariantFiles(parsed)) {
            if (file.outside.empty()) bundle.Add(file.type, file.name, ImageBytes(file.file));
        }
        if (parsed.Packet != 2) return;
        for (const package::PackageFile& file : package::SecondVariantFiles(parsed)) {
            bundle.Add(file.type, file.name, "second " + file.file);
        }
        bundle.Add("INI", "ConfigFile2", secondConfig);
    }

    // The default Config.ini (or `text`) with one text replaced.
    static std::string DefaultWith(const std::string& from, const std::string& to,
                                   std::string text = std::string(package::DefaultConfigText())) {
        const size_t at = text.find(from);
        EXPECT_NE(at, std::string::npos) << from;
        if (at != std::string::npos) text.replace(at, from.size(), to);
        return text;
    }

    // The bytes of a carried file: the default images at their sizes.
    static std::string ImageBytes(const std::string& name) {
        for (const auto& [image, size] : engine::DefaultImages()) {
            if (image != name) continue;
            std::string bytes(size, '\0');
            for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 31 + name.size() * 7) & 0xFF);
            return bytes;
        }
        return "carried " + name;
    }

    ApplicationServices Services() {
        return ApplicationServices{simulation->clock(),    simulation->serialPorts(), simulation->devices(),
                                   simulation->usbBulk(),  simulation->processes(),   dialogs,
                                   simulation->settings(), files,                     paths,
                                   bundle,                 tables,                    trace};
    }

    // The virtual modem, then the application over it, not yet created.
    void Make(const nlohmann::json& overrides = nlohmann::json::object(), const std::string& base = "default") {
        if (bundle.Entries().empty()) Carry(std::string(package::DefaultConfigText()));
        Plug(overrides, base);
        app = std::make_unique<FlashApplication>(Services());
    }
    // The same, created.
    bool Start(const nlohmann::json& overrides = nlohmann::json::object(), const std::string& base = "default") {
        Make(overrides, base);
        return app->Create();
    }

    // Plays the window's thread until `done` holds (or a guard of queue waits ran out).
    template <class Done>
    bool DrainUntil(Done done) {
        for (int guard = 0; guard < 2000; ++guard) {
            app->form().queue().Drain();
            if (done()) return true;
            app->form().queue().WaitPending(50);
        }
        return done();
    }
    bool WaitReady() {
        return DrainUntil([this] { return app->LastReadiness() && app->LastReadiness()->ready; });
    }

    std::filesystem::path Temp() { return paths.TempFolder(); }
    std::optional<uint32_t> Integer(const char* name) {
        return simulation->settings().ReadInteger(platform::SettingsScope::User, std::string(kWindowSettingsKey),
                                                  name);
    }
    std::optional<std::string> String(const char* name) {
        return simulation->settings().ReadString(platform::SettingsScope::User, std::string(kWindowSettingsKey),
                                                 name);
    }

    testing::TempRootPaths paths;
    testing::MemoryBundle bundle;
    testing::RecordingLog trace;
    std::unique_ptr<FlashApplication> app;
};

}  // namespace firmora::app
