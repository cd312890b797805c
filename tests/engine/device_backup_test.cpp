#include "engine/device_backup.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <nlohmann/json.hpp>

#include "engine/backup_manifest.h"
#include "fake_serial.h"
#include "package/download_options.h"
#include "package/project_table.h"
#include "platform/files.h"
#include "platform/private_profile.h"
#include "platform/std_files.h"
#include "preserve/library_nv.h"
#include "preserve/nv_backup_file.h"
#include "preserve/nv_tables.h"
#include "recording_reporter.h"
#include "sim/at_device.h"
#include "sim/diag_device.h"
#include "sim/sim_platform.h"
#include "test_files.h"
#include "test_folder.h"

namespace firmora::engine {
namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using testing::Bytes;
using testing::RecordingReporter;
using testing::TestFolder;

// What a backup is there to keep, as the device holds it now.
struct DeviceData {
    sim::AtDeviceState at;
    // NV items below 20000: status and data; RF NV items: their file (status 0).
    std::map<int32_t, std::pair<uint16_t, Bytes>> nv;
    // User files by device path; nullopt when absent.
    std::map<std::string, std::optional<Bytes>> files;
};

const std::vector<std::string> kUserFiles = {"data/zero.bin", "data/half.bin", "data/sub/thousand.bin", "big.bin"};

// A device with user data in its file system.
json UserDataScenario() {
    return {{"efs",
             {{"folders", {"data/empty"}},
              {"files",
               {{"data/zero.bin", {{"size", 0}}},
                {"data/half.bin", {{"size", 512}}},
                {"data/sub/thousand.bin", {{"size", 1000}}},
                {"big.bin", {{"size", 100000}}}}}}}};
}

std::vector<int32_t> Numbers(const preserve::NvTable& table) {
    std::vector<int32_t> numbers;
    for (const preserve::NvEntry& e : table) numbers.push_back(e.number);
    return numbers;
}

// The simulated ports, each of whose handles refuses its first close, as a
// driver busy with the device's departure may.
class PortsThatCloseLate final : public platform::SerialPorts {
public:
    explicit PortsThatCloseLate(platform::SerialPorts& inner) : inner_(inner) {}

    std::unique_ptr<platform::SerialPort> Open(const std::string& deviceName) override {
        std::unique_ptr<platform::SerialPort> port = inner_.Open(deviceName);
        if (!port) return nullptr;
        return std::make_unique<Port>(std::move(port));
    }

private:
    class Port final : public platform::SerialPort {
    public:
        explicit Port(std::unique_ptr<platform::SerialPort> inner) : inner_(std::move(inner)) {}
        bool GetLineSettings(platform::LineSettings& out) override { return inner_->GetLineSettings(out); }
        bool SetLineSettings(const platform::LineSettings& s) override { return inner_->SetLineSettings(s); }
        bool SetTimeouts(const platform::SerialTimeouts& t) override { return inner_->SetTimeouts(t); }
        bool SetQueueSizes(uint32_t in, uint32_t out) override { return inner_->SetQueueSizes(in, out); }
        bool Purge(uint32_t flags) override { return inner_->Purge(flags); }
        bool ClearErrors(uint32_t& mask, platform::SerialQueueStatus* status) override {
            return inner_->ClearErrors(mask, status);
        }
        bool Read(uint8_t* buffer, size_t length, size_t& got) override { return inner_->Read(buffer, length, got); }
        bool Write(const uint8_t* data, size_t length, size_t& written) override {
            return inner_->Write(data, length, written);
        }
        bool Close() override { return refused_++ > 0 && inner_->Close(); }
        bool DeviceGone() const override { return inner_->DeviceGone(); }

    private:
        std::unique_ptr<platform::SerialPort> inner_;
        int refused_ = 0;
    };

    platform::SerialPorts& inner_;
};

// The engine's backup and restore on a SimPlatform: the tool reaches the
// virtual modem through the simulated serial ports and the VirtualClock.
class DeviceBackupTest : public ::testing::Test {
protected:
    void Plug(const json& overrides, const std::string& base = "default") {
        json scenario = sim::Scenario::Builtin(FIRMORA_SCENARIO_DIR, base).json;
        scenario.merge_patch(overrides);
        simulation = sim::SimPlatform::FromScenario(sim::Scenario::FromJson(scenario, "device-backup"));
    }
    sim::VirtualModem& Modem() { return simulation->Modem(0); }

    int Com(sim::PortRole role) {
        std::lock_guard lock(simulation->lock());
        for (const sim::PortInfo& port : Modem().Ports()) {
            if (port.role == role) return port.comNumber;
        }
        return 0;
    }

    // The ports are looked up on every call: they may have moved since.
    DeviceDataTarget Target() {
        return {simulation->serialPorts(), simulation->clock(), files, reporter, options, tables,
                Com(sim::PortRole::Diag), Com(sim::PortRole::At)};
    }
    bool Backup(const fs::path& folder) {
        DeviceDataTarget target = Target();
        return BackupDevice(target, folder);
    }
    bool Restore(const fs::path& folder) {
        DeviceDataTarget target = Target();
        return RestoreDevice(target, folder);
    }
    std::optional<BackupManifest> Load(const fs::path& folder, std::string& error) {
        return LoadCompleteBackup(files, options, tables, folder, error);
    }

    DeviceData Snapshot(const std::vector<int32_t>& items) {
        std::lock_guard lock(simulation->lock());
        DeviceData data{Modem().at(), {}, {}};
        const sim::DiagDeviceState& diag = Modem().diag();
        for (int32_t n : items) {
            if (n >= preserve::kFirstRfNvItem) {
                const auto file = diag.efs().FileContent(sim::RfNvFilePath(static_cast<uint32_t>(n)));
                data.nv[n] = {0, file.value_or(Bytes{})};
            } else {
                const sim::NvStore::ReadResult read = diag.nv().Read(static_cast<uint16_t>(n));
                data.nv[n] = {read.status, Bytes(read.data.begin(), read.data.end())};
            }
        }
        for (const std::string& path : kUserFiles) data.files[path] = diag.efs().FileContent(path);
        return data;
    }

    size_t CommandCount() {
        std::lock_guard lock(simulation->lock());
        return Modem().CommandLog().size();
    }

    // A transition's delay and the time the device takes to ask for it.
    uint32_t TransitionWait(const char* key) {
        return Modem().scenario().json.at("transitions").at(key).get<uint32_t>() + 2000;
    }

    // Wipes the device as a download does: reboot into the boot loader,
    // erase the EFS partition over fastboot, reboot back to normal.
    void WipeThroughTheBootLoader() {
        {
            auto at = simulation->serialPorts().Open("COM" + std::to_string(Com(sim::PortRole::At)));
            ASSERT_TRUE(at);
            const std::string reboot = "at+syscmd=sys_reboot bootloader\r\n";
            size_t written = 0;
            ASSERT_TRUE(at->Write(reinterpret_cast<const uint8_t*>(reboot.data()), reboot.size(), written));
        }
        simulation->clock().Sleep(TransitionWait("rebootToBootloaderMs"));
        const std::vector<std::string> paths = simulation->devices().FastbootInterfacePaths();
        ASSERT_EQ(paths.size(), 1u);
        auto usb = simulation->usbBulk().Open(paths[0]);
        ASSERT_TRUE(usb);
        for (const std::string command : {"erase:efs2", "reboot"}) {
            uint32_t moved = 0;
            ASSERT_TRUE(usb->Write(reinterpret_cast<const uint8_t*>(command.data()),
                                   static_cast<uint32_t>(command.size()), moved, 1000));
            uint8_t reply[256];
            ASSERT_TRUE(usb->Read(reply, sizeof reply, moved, 1000)) << command;
            ASSERT_EQ(std::string(reinterpret_cast<char*>(reply), moved), "OKAY") << command;
        }
        simulation->clock().Sleep(TransitionWait("resetMs"));
        std::lock_guard lock(simulation->lock());
        ASSERT_EQ(Modem().personality(), sim::Personality::Normal);
    }

    // A fresh run: the first failure of each attempt is its own.
    void StartNewRun() {
        reporter.lines.clear();
        reporter.status = core::kRunHealthy;
        reporter.errorCalls = 0;
    }

    // The run's failure without the frame the reporter adds.
    std::string Failure() const {
        const std::vector<std::string> errors = reporter.Errors();
        if (errors.empty()) return "";
        const std::string& line = errors.front();
        const size_t end = line.rfind(", Error code:");
        return line.substr(7, end == std::string::npos ? std::string::npos : end - 7);
    }

    std::unique_ptr<sim::SimPlatform> simulation;
    platform::StdFiles files;
    RecordingReporter reporter;
    package::DownloadOptions options;
    // Only the DIAG default and LTE projects walk these; none of the tests do.
    preserve::ProductNvTables tables{{{571, "NV_A"}}, {{4212, "NV_B"}}, {{1864, "NV_C"}}};
    TestFolder work{"device-backup"};
    fs::path folder = work.path() / "backup";
};

// ---------------------------------------------------------------------------
// Round trips through a wipe

TEST_F(DeviceBackupTest, LibraryProjectSurvivesAWipeOfItsEfsPartition) {
    Plug(UserDataScenario(), "new-com-ports");
    options.ProjectIndex = 1013;
    options.PlatformType = 3;
    options.UserDataDirList = {"/data"};
    options.UserDataFilesList = {"/data/zero.bin", "/data/half.bin", "/data/sub/thousand.bin", "/big.bin",
                                 "/data/never.bin"};
    const std::vector<int32_t> items = Numbers(preserve::LibraryNvTable());
    const DeviceData original = Snapshot(items);
    ASSERT_EQ(original.files.at("big.bin")->size(), 100000u);

    ASSERT_TRUE(Backup(folder)) << Failure();
    std::string error;
    const std::optional<BackupManifest> manifest = Load(folder, error);
    ASSERT_TRUE(manifest) << error;
    EXPECT_EQ(manifest->nvMechanism, NvMechanism::Library);
    EXPECT_EQ(manifest->rfNv.size(), 48u);
    // 62 items, 48 of them RF files; two inactive and one bad parameter are not kept.
    EXPECT_EQ(manifest->nvItems.size(), 11u);
    EXPECT_EQ(fs::file_size(folder / "nv.bak"), 11u * preserve::kNvRecordBytes);
    ASSERT_EQ(manifest->userData.size(), 4u);  // the absent file is dropped
    EXPECT_EQ(manifest->userData[3].devicePath, "/big.bin");
    EXPECT_EQ(manifest->userData[3].size, 100000u);
    EXPECT_EQ(manifest->at.CleanImei(), original.at.imei);

    ASSERT_NO_FATAL_FAILURE(WipeThroughTheBootLoader());
    const DeviceData wiped = Snapshot(items);
    EXPECT_EQ(Com(sim::PortRole::At), 17);
    EXPECT_EQ(Com(sim::PortRole::Diag), 15);
    EXPECT_NE(wiped.at.sn, original.at.sn);
    EXPECT_NE(wiped.at.imei, original.at.imei);
    EXPECT_NE(wiped.at.contexts, original.at.contexts);
    size_t changedItems = 0;
    for (int32_t n : items) changedItems += wiped.nv.at(n) != original.nv.at(n) ? 1 : 0;
    EXPECT_EQ(changedItems, 59u);  // all but the three without data
    for (const std::string& path : kUserFiles) EXPECT_FALSE(wiped.files.at(path)) << path;

    ASSERT_TRUE(Restore(folder)) << Failure();
    const DeviceData restored = Snapshot(items);
    // This project keeps no carrier values; everything else comes back.
    sim::AtDeviceState expected = original.at;
    expected.cllen = wiped.at.cllen;
    expected.mvreq = wiped.at.mvreq;
    expected.gmi = wiped.at.gmi;
    EXPECT_EQ(restored.at, expected);
    for (int32_t n : items) EXPECT_EQ(restored.nv.at(n), original.nv.at(n)) << "NV item " << n;
    for (const std::string& path : kUserFiles) EXPECT_EQ(restored.files.at(path), original.files.at(path)) << path;
    std::lock_guard lock(simulation->lock());
    EXPECT_TRUE(Modem().diag().efs().IsFolder("data/empty"));
}

TEST_F(DeviceBackupTest, CdmaProjectKeepsItsItemsInNvBakThroughAWipe) {
    Plug({{"identity", {{"meid", "A0000012345678"}}}});
    options.ProjectIndex = 38;
    options.PlatformType = 2;
    const std::vector<int32_t> items = Numbers(preserve::CdmaNvTable());
    const DeviceData original = Snapshot(items);

    ASSERT_TRUE(Backup(folder)) << Failure();
    std::string error;
    const std::optional<BackupManifest> manifest = Load(folder, error);
    ASSERT_TRUE(manifest) << error;
    EXPECT_EQ(manifest->nvMechanism, NvMechanism::Diag);
    EXPECT_TRUE(manifest->nvRestore);
    EXPECT_TRUE(manifest->rfNv.empty());
    EXPECT_EQ(Numbers(manifest->nvItems), items);
    EXPECT_EQ(fs::file_size(folder / "nv.bak"), items.size() * preserve::kNvRecordBytes);
    EXPECT_FALSE(manifest->at.imei.read);
    EXPECT_EQ(manifest->at.CleanMeid(), "A0000012345678");

    ASSERT_NO_FATAL_FAILURE(WipeThroughTheBootLoader());
    const DeviceData wiped = Snapshot(items);
    ASSERT_NE(wiped.at.meid, original.at.meid);
    for (int32_t n : items) ASSERT_NE(wiped.nv.at(n), original.nv.at(n)) << "NV item " << n;

    ASSERT_TRUE(Restore(folder)) << Failure();
    const DeviceData restored = Snapshot(items);
    EXPECT_EQ(restored.at.meid, original.at.meid);
    EXPECT_EQ(restored.at.sn, original.at.sn);
    EXPECT_EQ(restored.at.contexts, original.at.contexts);
    for (int32_t n : items) EXPECT_EQ(restored.nv.at(n), original.nv.at(n)) << "NV item " << n;
}

TEST_F(DeviceBackupTest, DualImeiProductGetsEachImeiBackInItsOwnSlot) {
    Plug({{"identity", {{"imei", "353456789012348"}, {"imei1", "353456789012355"}}}});
    options.ProjectIndex = package::kProjectZP360;
    options.PlatformType = 3;
    const sim::AtDeviceState original = Snapshot({}).at;

    ASSERT_TRUE(Backup(folder)) << Failure();
    std::string error;
    const std::optional<BackupManifest> manifest = Load(folder, error);
    ASSERT_TRUE(manifest) << error;
    EXPECT_TRUE(manifest->at.imei1.read);

    ASSERT_NO_FATAL_FAILURE(WipeThroughTheBootLoader());
    const sim::AtDeviceState wiped = Snapshot({}).at;
    ASSERT_EQ(wiped.imei1, "");
    ASSERT_NE(wiped.imei, original.imei);

    ASSERT_TRUE(Restore(folder)) << Failure();
    const sim::AtDeviceState restored = Snapshot({}).at;
    EXPECT_EQ(restored.imei, "353456789012348");
    EXPECT_EQ(restored.imei1, "353456789012355");
    EXPECT_EQ(restored.sn, original.sn);
}

TEST_F(DeviceBackupTest, ChannelsFollowTheConfiguredSpeedAndCloseWithNumberedWarnings) {
    Plug(json::object());
    options.ProjectIndex = 1013;
    options.PlatformType = 3;

    // The AT reads of a fast-download package poll every 100 ms, not 800.
    const auto timedBackup = [&](const fs::path& to) {
        const uint64_t start = simulation->clock().TickCount();
        EXPECT_TRUE(Backup(to)) << Failure();
        return simulation->clock().TickCount() - start;
    };
    const uint64_t ordinary = timedBackup(work.path() / "ordinary");
    options.bFastSpeedDownload = true;
    const uint64_t fast = timedBackup(work.path() / "fast");
    EXPECT_GT(ordinary, fast + 5000) << ordinary << " ms against " << fast << " ms";

    // A close that fails is logged with the number of its place.
    PortsThatCloseLate ports(simulation->serialPorts());
    DeviceDataTarget target = Target();
    DeviceDataTarget late{ports, target.clock, target.files, reporter, options, tables, target.diagPort, target.atPort};
    StartNewRun();
    ASSERT_TRUE(BackupDevice(late, work.path() / "late")) << Failure();
    EXPECT_TRUE(reporter.Has("Warning-9"));
    options.UserDataFilesList = {"/big.bin"};  // the diagnostic channel opens only for user data here
    ASSERT_TRUE(BackupDevice(late, work.path() / "late-diag")) << Failure();
    EXPECT_TRUE(reporter.Has("Warning-7"));
}

// ---------------------------------------------------------------------------
// Refusals

TEST_F(DeviceBackupTest, RestoreRefusesAnAtBakThatDisagreesWithTheManifest) {
    Plug(json::object());
    options.ProjectIndex = 1013;
    ASSERT_TRUE(Backup(folder)) << Failure();

    // at.bak edited and its size and digest recorded anew, as a folder put
    // together from two backups would be: only the values can tell.
    const auto editAtBak = [](const fs::path& dir, const std::function<void(platform::IniDocument&)>& edit) {
        platform::IniDocument file = platform::IniDocument::Parse(*testing::ReadTestFile(dir / "at.bak"));
        edit(file);
        const std::string text = file.Text();
        ASSERT_TRUE(testing::WriteTestFile(dir / "at.bak", text));
        const fs::path manifestFile = dir / kManifestFileName;
        json m = json::parse(*testing::ReadTestFile(manifestFile));
        for (json& entry : m["files"]) {
            if (entry["file"] != "at.bak") continue;
            char digest[17];
            std::snprintf(digest, sizeof digest, "%016llx",
                          static_cast<unsigned long long>(ContentDigest(text)));
            entry["size"] = text.size();
            entry["xxh3"] = digest;
        }
        ASSERT_TRUE(testing::WriteTestFile(manifestFile, m.dump()));
    };
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"another IMEI in at.bak",
         [&](const fs::path& d) { editAtBak(d, [](auto& f) { f.Set("Data", "IMEI", "353456789012355"); }); },
         "at.bak holds another IMEI"},
        {"the SN gone from at.bak", [&](const fs::path& d) { editAtBak(d, [](auto& f) { f.Remove("Data", "SN"); }); },
         "at.bak holds no SN"},
        {"another context in at.bak",
         [&](const fs::path& d) { editAtBak(d, [](auto& f) { f.Set("Data", "APN1", "1,\"IP\",\"evil\""); }); },
         "at.bak holds another APN1"},
        {"another IMEI in the manifest",
         [&](const fs::path& d) {
             const fs::path file = d / kManifestFileName;
             json m = json::parse(*testing::ReadTestFile(file));
             m["at"]["parameters"]["imei"] = " 353456789012355\r\n\r\n";
             ASSERT_TRUE(testing::WriteTestFile(file, m.dump()));
         },
         "at.bak holds another IMEI"},
    };
    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        const fs::path copy = work.path() / ("case" + std::to_string(i));
        fs::copy(folder, copy, fs::copy_options::recursive);
        cases[i].spoil(copy);
        StartNewRun();
        const size_t commands = CommandCount();

        EXPECT_FALSE(Restore(copy));
        EXPECT_NE(Failure().find("at.bak does not agree with manifest.json: " + cases[i].message), std::string::npos)
            << Failure();
        EXPECT_EQ(CommandCount(), commands);
    }
}

TEST_F(DeviceBackupTest, RestoreRefusesAnIncompleteOrUnsafeFolderBeforeTouchingTheDevice) {
    Plug({{"efs", {{"files", {{"data/a.bin", {{"size", 3000}}}}}}}});
    options.ProjectIndex = 1013;
    options.UserDataDirList = {"/data"};
    options.UserDataFilesList = {"/data/a.bin"};
    ASSERT_TRUE(Backup(folder)) << Failure();

    // The cases share the backup's files through hard links, so every change
    // replaces a file rather than writing into it.
    const auto rewrite = [](const fs::path& file, const std::function<void(std::string&)>& edit) {
        std::string content = *testing::ReadTestFile(file);
        edit(content);
        ASSERT_TRUE(testing::WriteTestFile(file, content));
    };
    const auto editManifest = [&](const fs::path& dir, const std::function<void(json&)>& edit) {
        rewrite(dir / kManifestFileName, [&](std::string& text) {
            json m = json::parse(text);
            edit(m);
            text = m.dump();
        });
    };
    const auto resize = [&](const fs::path& file, std::ptrdiff_t by) {
        rewrite(file, [&](std::string& content) { content.resize(content.size() + by); });
    };
    struct Case {
        const char* what;
        std::function<void(const fs::path&)> spoil;
        std::string message;
    };
    const std::vector<Case> cases = {
        {"no manifest", [](const fs::path& d) { fs::remove(d / kManifestFileName); }, "manifest.json is missing"},
        {"an RF NV copy missing", [](const fs::path& d) { fs::remove(d / "EFS" / "00020309.efs"); },
         "EFS/00020309.efs is missing"},
        {"at.bak missing", [](const fs::path& d) { fs::remove(d / "at.bak"); }, "at.bak is missing"},
        {"nv.bak not whole records", [&](const fs::path& d) { resize(d / "nv.bak", 1); },
         "nv.bak is not the file the backup wrote"},
        {"nv.bak one record short", [&](const fs::path& d) { resize(d / "nv.bak", -130); },
         "nv.bak is not the file the backup wrote: it holds 1300 bytes, not the 1430 recorded"},
        {"a user copy cut short", [&](const fs::path& d) { resize(d / "EFS" / "data" / "a.bin", -1000); },
         "EFS/data/a.bin is not the file the backup wrote: it holds 2000 bytes, not the 3000"},
        {"an emptied RF NV copy",
         [&](const fs::path& d) { rewrite(d / "EFS" / "00020309.efs", [](std::string& c) { c.clear(); }); },
         "EFS/00020309.efs is not the file the backup wrote: it holds 0 bytes"},
        {"an RF NV copy of the same size, changed",
         [&](const fs::path& d) { rewrite(d / "EFS" / "00020309.efs", [](std::string& c) { c[0] ^= 1; }); },
         "EFS/00020309.efs is not the file the backup wrote: its content differs"},
        {"a huge nv.bak",
         [&](const fs::path& d) {
             fs::remove(d / "nv.bak");
             std::ofstream(d / "nv.bak").close();
             fs::resize_file(d / "nv.bak", uintmax_t{1} << 30);  // sparse: nothing to read but its size
         },
         "nv.bak is larger than 1430 bytes"},
        {"a file without its digest",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["files"][0]["file"] = "notes.txt"; }); },
         "at.bak is not listed with its size and digest"},
        {"one digest too few",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["files"].erase(0); }); },
         "files lists 50 files, the backup holds 51"},
        {"a digest listed twice",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["files"].push_back(m["files"][0]); }); },
         "files names at.bak more than once"},
        {"an RF NV path leaving the folder",
         [&](const fs::path& d) {
             editManifest(d, [](json& m) { m["nv"]["rfnv"][0]["file"] = "../outside.efs"; });
         },
         "nv.rfnv[].file leaves the backup folder"},
        {"a user file path leaving the folder",
         [&](const fs::path& d) {
             editManifest(d, [](json& m) { m["userData"]["files"][0]["file"] = "EFS/../../outside.efs"; });
         },
         "userData.files[].file leaves the backup folder"},
        {"an absolute path",
         [&](const fs::path& d) {
             editManifest(d, [&](json& m) { m["nv"]["rfnv"][0]["file"] = (d / "EFS" / "00020309.efs").string(); });
         },
         "leaves the backup folder"},
        {"nv.bak of other items",
         [&](const fs::path& d) { rewrite(d / "nv.bak", [](std::string& nv) { ++nv[0]; }); },
         "nv.bak is not the file the backup wrote: its content differs"},
        {"an RF NV copy of an ordinary item",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["nv"]["rfnv"][0]["number"] = 571; }); },
         "nv.rfnv[].number"},
        {"a partial backup",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["at"]["saved"] = false; }); }, "partial"},
        // Entries of the wrong kind, name or number.
        {"an RF NV entry naming nv.bak",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["nv"]["rfnv"][0]["file"] = "nv.bak"; }); },
         "nv.rfnv item 20309 is kept in EFS/00020309.efs, not in nv.bak"},
        {"an RF NV entry naming the manifest",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["nv"]["rfnv"][1]["file"] = "manifest.json"; }); },
         "not in manifest.json"},
        {"an RF NV entry twice",
         [&](const fs::path& d) {
             editManifest(d, [](json& m) {
                 for (int k = 0; k < 1000; ++k) m["nv"]["rfnv"].push_back(m["nv"]["rfnv"][0]);
             });
         },
         "names item 20309 more than once"},
        {"a user file twice",
         [&](const fs::path& d) {
             editManifest(d, [](json& m) { m["userData"]["files"].push_back(m["userData"]["files"][0]); });
         },
         "userData.files names /data/a.bin more than once"},
        {"a user file kept under another name",
         [&](const fs::path& d) {
             editManifest(d, [](json& m) { m["userData"]["files"][0]["file"] = "at.bak"; });
         },
         "userData.files keeps /data/a.bin in EFS/data/a.bin, not in at.bak"},
        {"a user file the configuration does not name",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["userData"]["files"][0]["device"] = "/x.bin"; }); },
         "names /x.bin, which is not configured"},
        {"user files listed as not saved",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["userData"]["saved"] = false; }); },
         "userData lists files or folders although it says none were saved"},
        {"another NV mechanism",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["nv"]["mechanism"] = "diag"; }); },
         "the NV items were saved the diag way, but this configuration saves and restores them the library way"},
        {"more NV items than the configuration saves",
         [&](const fs::path& d) {
             editManifest(d, [](json& m) {
                 for (int k = 0; k < 20; ++k) m["nv"]["items"].push_back(m["nv"]["items"][0]);
             });
         },
         "this configuration saves 14 at most"},
        {"an NV item the configuration does not save",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["nv"]["items"][0]["number"] = 65000; }); },
         "names item 65000, which this configuration does not save"},
        {"a device path no EFS request can carry",
         [&](const fs::path& d) {
             editManifest(d, [](json& m) { m["userData"]["folders"].push_back("/data/" + std::string(4090, 'd')); });
         },
         "a DIAG EFS request carries at most"},
        {"an older manifest",
         [&](const fs::path& d) { editManifest(d, [](json& m) { m["version"] = 1; }); },
         "make the backup again"},
        // Links and special files: the restore would read from outside the folder.
        {"at.bak a link to a copy outside",
         [&](const fs::path& d) {
             fs::copy_file(d / "at.bak", d.parent_path() / (d.filename().string() + "-at.bak"));
             fs::remove(d / "at.bak");
             fs::create_symlink(d.parent_path() / (d.filename().string() + "-at.bak"), d / "at.bak");
         },
         "at.bak is a symbolic link"},
        {"the EFS folder a link",
         [&](const fs::path& d) {
             fs::rename(d / "EFS", d / "EFS.real");
             fs::create_symlink("EFS.real", d / "EFS");
         },
         "EFS is a symbolic link"},
        {"a user copy a FIFO",
         [&](const fs::path& d) {
             fs::remove(d / "EFS" / "data" / "a.bin");
             ASSERT_EQ(::mkfifo((d / "EFS" / "data" / "a.bin").c_str(), 0600), 0);
         },
         "EFS/data/a.bin is not a regular file"},
        {"the manifest a FIFO",
         [&](const fs::path& d) {
             fs::remove(d / kManifestFileName);
             ASSERT_EQ(::mkfifo((d / kManifestFileName).c_str(), 0600), 0);
         },
         "manifest.json is not a regular file"},
        {"the manifest a link to /dev/zero",
         [&](const fs::path& d) {
             fs::remove(d / kManifestFileName);
             fs::create_symlink("/dev/zero", d / kManifestFileName);
         },
         "manifest.json is a symbolic link"},
    };
    // The paths the manifest may not lead to exist, so only the check can refuse them.
    ASSERT_TRUE(testing::WriteTestFile(work.path() / "outside.efs", "x"));

    for (size_t i = 0; i < cases.size(); ++i) {
        SCOPED_TRACE(cases[i].what);
        const fs::path copy = work.path() / ("case" + std::to_string(i));
        fs::copy(folder, copy, fs::copy_options::recursive | fs::copy_options::create_hard_links);
        cases[i].spoil(copy);
        StartNewRun();
        const size_t commands = CommandCount();

        std::string error;
        EXPECT_FALSE(Load(copy, error));
        EXPECT_NE(error.find(cases[i].message), std::string::npos) << error;
        EXPECT_FALSE(Restore(copy));
        EXPECT_NE(Failure().find(cases[i].message), std::string::npos) << Failure();
        EXPECT_EQ(CommandCount(), commands);
    }
}

// The listing of a device folder stops at 255 entries: the backup says so
// in the run and in its manifest rather than passing the copy as complete.
TEST_F(DeviceBackupTest, AFolderListingCutShortIsAWarningInTheRunAndTheManifest) {
    json files = json::object();
    for (int k = 0; k < 300; ++k) files["data/many/f" + std::to_string(k)] = {{"size", 1}};
    Plug({{"efs", {{"files", files}}}});
    options.ProjectIndex = 1013;
    options.UserDataDirList = {"/data/many"};
    ASSERT_TRUE(Backup(folder)) << Failure();

    const std::string warning = "the listing of data/many was cut after 255 entries";
    EXPECT_TRUE(reporter.Has("Warning: " + warning));
    std::string error;
    const std::optional<BackupManifest> manifest = Load(folder, error);
    ASSERT_TRUE(manifest) << error;
    EXPECT_EQ(manifest->warnings, std::vector<std::string>{warning});

    // A device that stops answering in the middle of a listing has not ended it.
    Plug({{"efs", {{"files", {{"data/few/a", {{"size", 1}}}}}}}, {"diag", {{"noAnswerEfs", {"readdir"}}}}});
    options.UserDataDirList = {"/data/few"};
    const std::string silence = "the device stopped answering, the listing of data/few may be incomplete";
    StartNewRun();
    const fs::path few = work.path() / "few";
    ASSERT_TRUE(Backup(few)) << Failure();
    EXPECT_TRUE(reporter.Has("Warning: " + silence));
    const std::optional<BackupManifest> partial = Load(few, error);
    ASSERT_TRUE(partial) << error;
    EXPECT_EQ(partial->warnings, std::vector<std::string>{silence});
}

TEST_F(DeviceBackupTest, BackupLeavesAFolderInUseAloneAndNoManifestAfterAFailedStep) {
    Plug(json::object());
    options.ProjectIndex = 1013;
    fs::create_directories(folder);
    ASSERT_TRUE(testing::WriteTestFile(folder / "notes.txt", "mine"));
    EXPECT_FALSE(Backup(folder));
    EXPECT_NE(Failure().find("not empty"), std::string::npos) << Failure();
    EXPECT_EQ(CommandCount(), 0u);
    std::vector<fs::path> entries(fs::directory_iterator(folder), fs::directory_iterator{});
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(testing::ReadTestFile(folder / "notes.txt"), "mine");

    // Steps that fail on the device: the folder never counts as a backup.
    const std::vector<std::pair<json, std::string>> faults = {
        {{{"at", {{"faults", {{{"command", "AT+MVTSN=0,5"}, {"reply", "error"}}}}}}},
         "Could not read the device's identity"},
        {{{"diag", {{"efsFaults", {{{"op", "read"}, {"errno", 5}, {"path", "nv/item_files/rfnv/00020309"}}}}}}},
         "READ ERROR"},
    };
    for (size_t i = 0; i < faults.size(); ++i) {
        SCOPED_TRACE(faults[i].second);
        Plug(faults[i].first);
        StartNewRun();
        const fs::path failed = work.path() / ("failed" + std::to_string(i));
        EXPECT_FALSE(Backup(failed));
        EXPECT_EQ(Failure(), faults[i].second);
        EXPECT_FALSE(fs::exists(failed / kManifestFileName));
        std::string error;
        EXPECT_FALSE(Load(failed, error));
    }
}

TEST_F(DeviceBackupTest, ADeviceValueThatIsNotUtf8TextStopsTheBackupCleanly) {
    // at.bak keeps any byte, but manifest.json is JSON text: a value it
    // cannot hold fails the backup before anything is flashed.
    Plug(json::object());
    options.ProjectIndex = 1013;
    {
        std::lock_guard lock(simulation->lock());
        Modem().at().sn = "FM9X15\xFF" "0012345";
    }
    EXPECT_FALSE(Backup(folder));
    EXPECT_EQ(Failure(), "The backup cannot be recorded: the device gave a value that is not UTF-8 text");
    EXPECT_FALSE(fs::exists(folder / kManifestFileName));
}

// ---------------------------------------------------------------------------
// manifest.json

BackupManifest EveryFieldSet() {
    BackupManifest m;
    m.created = "2026-01-05 09:00:07";
    m.projectIndex = 38;
    m.projectName = "XM88_51";
    m.atSaved = true;
    m.at.sn = {"SN\r\n", true};
    m.at.imei = {"353456789012348", true};
    m.at.imei1 = {"i1", false};
    m.at.esn = {"80ABCDEF", true};
    m.at.meid = {"A0000012345678", true};
    m.at.bluetoothAddress = {"00:1A:7D:4C:21:0F", true};
    m.at.wifiCal = {"w", false};
    m.at.salesCount = {"3", true};
    m.at.salesInfo = {"FM-EU", true};
    m.at.testInformation = {"CAL:PASS", true};
    m.at.uit87 = {"PASS", true};
    m.at.uit89 = {"FAIL", false};
    m.at.cllen = {"8", true};
    m.at.mvreq = {"44010", true};
    m.at.gmi = {"Firmora \"x\"", true};
    m.at.mode = "1";
    m.at.apns[0] = "1,\"IP\",\"internet\"";
    m.at.apns[15] = "16,\"IPV6\",\"ims\"";
    m.nvSaved = true;
    m.nvMechanism = NvMechanism::DiagVendor;
    m.nvRestore = false;
    m.nvItems = {{1749, "NV_A"}, {1749, "NV_B"}, {65535, ""}};
    m.rfNv = {{20309, "EFS/00020309.efs"}};
    m.userDataSaved = true;
    m.userData = {{"/data/a.bin", "EFS/data/a.bin", 0xFFFFFFFFu}, {"/z", "EFS/z", 0}};
    m.userDataFolders = {"data", "data/sub"};
    m.files = {{"at.bak", 812, 0x0123456789abcdefull}, {"EFS/z", 0, 0xFFFFFFFFFFFFFFFFull}};
    m.warnings = {"the listing of data was cut after 255 entries"};
    return m;
}

TEST(BackupManifestTest, JsonRoundTripKeepsEveryField) {
    const BackupManifest m = EveryFieldSet();
    std::string error;
    const std::optional<BackupManifest> back = ManifestFromJson(ManifestToJson(m).value(), error);
    ASSERT_TRUE(back) << error;
    EXPECT_EQ(back->created, m.created);
    EXPECT_EQ(back->projectIndex, m.projectIndex);
    EXPECT_EQ(back->projectName, m.projectName);
    EXPECT_EQ(back->atSaved, m.atSaved);
    using P = preserve::AtParameters;
    for (preserve::AtParameter P::*field : {&P::sn, &P::imei, &P::imei1, &P::esn, &P::meid, &P::bluetoothAddress,
                                            &P::wifiCal, &P::salesCount, &P::salesInfo, &P::testInformation,
                                            &P::uit87, &P::uit89, &P::cllen, &P::mvreq, &P::gmi}) {
        EXPECT_EQ((back->at.*field).value, (m.at.*field).value);
        EXPECT_EQ((back->at.*field).read, (m.at.*field).read) << (m.at.*field).value;
    }
    EXPECT_EQ(back->at.mode, m.at.mode);
    EXPECT_EQ(back->at.apns, m.at.apns);
    EXPECT_EQ(back->nvSaved, m.nvSaved);
    EXPECT_EQ(back->nvMechanism, m.nvMechanism);
    EXPECT_EQ(back->nvRestore, m.nvRestore);
    ASSERT_EQ(back->nvItems.size(), m.nvItems.size());
    for (size_t i = 0; i < m.nvItems.size(); ++i) {
        EXPECT_EQ(back->nvItems[i].number, m.nvItems[i].number);
        EXPECT_EQ(back->nvItems[i].name, m.nvItems[i].name);
    }
    ASSERT_EQ(back->rfNv.size(), 1u);
    EXPECT_EQ(back->rfNv[0].number, 20309);
    EXPECT_EQ(back->rfNv[0].file, m.rfNv[0].file);
    EXPECT_EQ(back->userDataSaved, m.userDataSaved);
    ASSERT_EQ(back->userData.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back->userData[i].devicePath, m.userData[i].devicePath);
        EXPECT_EQ(back->userData[i].file, m.userData[i].file);
        EXPECT_EQ(back->userData[i].size, m.userData[i].size);
    }
    EXPECT_EQ(back->userDataFolders, m.userDataFolders);
    ASSERT_EQ(back->files.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(back->files[i].file, m.files[i].file);
        EXPECT_EQ(back->files[i].size, m.files[i].size);
        EXPECT_EQ(back->files[i].xxh3, m.files[i].xxh3);
    }
    EXPECT_EQ(back->warnings, m.warnings);

    // Every mechanism has its own name.
    for (NvMechanism mechanism : {NvMechanism::Library, NvMechanism::Diag}) {
        BackupManifest other = m;
        other.nvMechanism = mechanism;
        EXPECT_EQ(ManifestFromJson(ManifestToJson(other).value(), error)->nvMechanism, mechanism);
    }
}

TEST(BackupManifestTest, AForeignVersionOrAMemberOfTheWrongKindIsRefusedByName) {
    const json good = json::parse(ManifestToJson(EveryFieldSet()).value());
    const std::vector<std::pair<std::function<void(json&)>, std::string>> cases = {
        {[](json& m) { m["version"] = 3; }, "version 3 is not supported"},
        {[](json& m) { m["version"] = 1; }, "make the backup again"},
        {[](json& m) { m["files"][0]["xxh3"] = "12345"; }, "files[].xxh3"},
        {[](json& m) { m["files"][0]["file"] = "../at.bak"; }, "files[].file leaves the backup folder"},
        {[](json& m) { m["warnings"] = {1}; }, "warnings holds a non-text"},
        {[](json& m) { m["version"] = "1"; }, "version"},
        {[](json& m) { m["format"] = "other"; }, "not a device backup manifest"},
        {[](json& m) { m["at"]["saved"] = "yes"; }, "at.saved"},
        {[](json& m) { m["at"]["parameters"]["imei"] = 353456789012348; }, "at.parameters.imei"},
        {[](json& m) { m["at"]["parameters"]["read"].erase("gmi"); }, "at.parameters.read.gmi"},
        {[](json& m) { m["at"]["parameters"]["contexts"].erase(0); }, "at.parameters.contexts"},
        {[](json& m) { m["project"]["index"] = 1.5; }, "project.index"},
        {[](json& m) { m["nv"]["mechanism"] = "magic"; }, "nv.mechanism"},
        {[](json& m) { m["nv"]["items"][0]["number"] = "1749"; }, "nv.items[].number"},
        {[](json& m) { m["nv"]["items"][0]["number"] = 65536; }, "nv.items[].number"},
        {[](json& m) { m["nv"]["rfnv"] = json::object(); }, "nv.rfnv"},
        {[](json& m) { m["userData"]["files"][0]["size"] = -1; }, "userData.files[].size"},
        {[](json& m) { m["userData"]["folders"][0] = 7; }, "userData.folders"},
    };
    for (const auto& [spoil, member] : cases) {
        SCOPED_TRACE(member);
        json m = good;
        spoil(m);
        std::string error;
        EXPECT_FALSE(ManifestFromJson(m.dump(), error));
        EXPECT_NE(error.find(member), std::string::npos) << error;
    }
    std::string error;
    EXPECT_FALSE(ManifestFromJson("{\"format\": ", error));
    EXPECT_NE(error.find("not valid JSON"), std::string::npos) << error;
}

}  // namespace
}  // namespace firmora::engine
