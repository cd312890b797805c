#include "engine/device_backup.h"

#include <cstdio>
#include <memory>
#include <system_error>
#include <vector>

#include "engine/backup_check.h"
#include "link/at_channel.h"
#include "link/diag_commands.h"
#include "link/hdlc_framer.h"
#include "link/qlib_api.h"
#include "link/serial_channel.h"
#include "package/project_table.h"
#include "preserve/at_backup_file.h"
#include "preserve/at_parameters.h"
#include "preserve/diag_nv.h"
#include "preserve/efs_preservation.h"
#include "preserve/library_nv.h"
#include "preserve/nv_backup_file.h"

namespace firmora::engine {

namespace {

namespace fs = std::filesystem;

constexpr const char* kAtBackupFile = kAtBackupFileName;
constexpr const char* kEfsFolder = "EFS";
// How long the library waits for the Diag port to open.
constexpr uint32_t kLibraryConnectWaitMs = 2000;
// Each failed close attempt is logged with the number of its place; these
// are the numbers of the run's closing step, which these steps stand for.
constexpr const char* kDiagCloseWarning = "Warning-7";
constexpr const char* kAtCloseWarning = "Warning-9";

bool IsCdmaProject(int index) {
    using namespace package;
    return (index >= kProjectXK81_21 && index <= kProjectXM89_51) || index == kProjectZQ65_Custom ||
           index == kProjectXM88_Custom;
}

bool Healthy(const core::Reporter& reporter) { return reporter.RunStatus() == core::kRunHealthy; }

// Reports `text` as the run's failure unless a step already did.
void FailIfHealthy(core::Reporter& reporter, const std::string& text) {
    if (Healthy(reporter)) reporter.ReportError(text);
}

std::string NowText(platform::Clock& clock) {
    const platform::LocalDateTime t = clock.Now();
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour, t.minute,
                  t.second);
    return text;
}

std::string NameOf(int32_t number, const preserve::NvTable& table) {
    for (const preserve::NvEntry& entry : table) {
        if (entry.number == number) return entry.name;
    }
    return "";
}

std::string Relative(const fs::path& file, const fs::path& folder) {
    return file.lexically_relative(folder).generic_string();
}

// The worker's diagnostic stack on one port, open for the life of the object.
struct DiagStack {
    explicit DiagStack(DeviceDataTarget& t)
        : channel(link::ChannelRole::Diagnostic, t.ports, t.clock, t.reporter, t.options),
          framer(channel, t.clock, t.reporter),
          diag(framer, channel, t.clock, t.reporter, flags) {}
    ~DiagStack() {
        if (channel.IsOpen()) channel.CloseChannel(kDiagCloseWarning);
    }
    bool Open(DeviceDataTarget& t) {
        if (channel.OpenDiagChannel(t.diagPort)) return true;
        FailIfHealthy(t.reporter, "Could not open the Diag port " + link::SerialChannel::DeviceName(t.diagPort));
        return false;
    }

    core::DeviceChangeFlags flags;
    link::SerialChannel channel;
    link::HdlcFramer framer;
    link::DiagCommands diag;
};

// The worker's AT channel on one port, open for the life of the object.
struct AtStack {
    explicit AtStack(DeviceDataTarget& t)
        : channel(link::ChannelRole::At, t.ports, t.clock, t.reporter, t.options),
          at(channel, t.clock, t.reporter, t.options.bFastSpeedDownload),
          session{channel, at, t.clock, t.reporter, t.options, t.files} {}
    ~AtStack() {
        if (channel.IsOpen()) channel.CloseChannel(kAtCloseWarning);
    }
    bool Open(DeviceDataTarget& t) {
        if (channel.OpenAtChannel(t.atPort)) return true;
        FailIfHealthy(t.reporter, "Could not open the AT port " + link::SerialChannel::DeviceName(t.atPort));
        return false;
    }

    link::SerialChannel channel;
    link::AtChannel at;
    preserve::AtSession session;
};

// The diagnostic library's connection for one step; the worker's own
// diagnostic channel must be closed while it is open.
class LibraryConnection {
public:
    explicit LibraryConnection(DeviceDataTarget& t) : qlib_(link::QlibApi::Bind(t.ports, t.clock, t.files)) {
        handle_ = qlib_.ConnectServerWithWait(t.diagPort, kLibraryConnectWaitMs);
        if (handle_ == 0 || !qlib_.IsPhoneConnected(handle_)) {
            FailIfHealthy(t.reporter, "QUALCOMM-Fail to Connect UE!");
            connected_ = false;
        }
    }
    ~LibraryConnection() {
        if (handle_ != 0) qlib_.DisconnectServer(handle_);
    }
    bool connected() const { return connected_; }
    link::QlibApi& qlib() { return qlib_; }
    link::QlibHandle handle() const { return handle_; }

private:
    link::QlibApi qlib_;
    link::QlibHandle handle_ = 0;
    bool connected_ = true;
};

// Saves the AT parameters into at.bak and the manifest.
void BackupAt(DeviceDataTarget& t, const fs::path& folder, BackupManifest& manifest) {
    AtStack stack(t);
    if (!stack.Open(t)) return;
    if (!preserve::ReadIdentity(stack.session, manifest.at)) {
        FailIfHealthy(t.reporter, "Could not read the device's identity");
    } else if (preserve::WriteAtBackup(t.files, manifest.at, t.options.ProjectIndex, folder / kAtBackupFile,
                                       t.reporter)) {
        manifest.atSaved = true;
    }
}

// The library's items below 20000 go into nv.bak; RF NV files stay copies.
bool WriteLibraryItems(platform::Files& files, core::Reporter& reporter, const preserve::NvSlots& slots,
                       const fs::path& folder, BackupManifest& manifest) {
    std::string content;
    for (size_t i = 0; i < slots.count; ++i) {
        const preserve::NvSlot& slot = slots.slots[i];
        if (slot.number >= preserve::kFirstRfNvItem) {
            manifest.rfNv.push_back({slot.number, Relative(slot.rfNvFile, folder)});
            continue;
        }
        const auto record = preserve::EncodeNvRecord({slot.number, slot.data});
        content.append(reinterpret_cast<const char*>(record.data()), record.size());
        manifest.nvItems.push_back({slot.number, NameOf(slot.number, preserve::LibraryNvTable())});
    }
    const fs::path file = folder / preserve::kNvBackupFileName;
    if (!files.ReplaceAtomically(file, content)) {
        FailIfHealthy(reporter, "Unable to write to " + file.string());
        return false;
    }
    return true;
}

// The user-data copies of a backup, as the manifest lists them.
void AddUserData(BackupManifest& manifest, const preserve::EfsUserData& data, const fs::path& folder) {
    manifest.userDataFolders = data.dirList;
    manifest.warnings.insert(manifest.warnings.end(), data.warnings.begin(), data.warnings.end());
    for (size_t i = 0; i < data.files.size() && i < data.localFiles.size() && i < data.sizes.size(); ++i) {
        manifest.userData.push_back({data.files[i], Relative(data.localFiles[i], folder), data.sizes[i]});
    }
    manifest.userDataSaved = true;
}

BackupManifest NewManifest(platform::Clock& clock, const package::DownloadOptions& options) {
    BackupManifest manifest;
    manifest.created = NowText(clock);
    manifest.projectIndex = options.ProjectIndex;
    manifest.projectName = std::string(package::ProjectCodeAt(options.ProjectIndex));
    manifest.nvMechanism = ChooseNvMechanism(options);
    manifest.nvRestore = RestoresNvItems(options);
    return manifest;
}

// Reads back every file of the backup for its digest and writes the manifest last.
bool WriteManifest(platform::Files& files, core::Reporter& reporter, const fs::path& folder,
                   BackupManifest& manifest) {
    std::string error;
    if (!RecordBackupFiles(files, folder, manifest, error)) {
        FailIfHealthy(reporter, "The backup cannot be read back: " + error);
        return false;
    }
    const std::optional<std::string> text = ManifestToJson(manifest);
    if (!text) {
        FailIfHealthy(reporter, "The backup cannot be recorded: the device gave a value that is not UTF-8 text");
        return false;
    }
    const fs::path file = folder / kManifestFileName;
    if (!files.ReplaceAtomically(file, *text)) {
        FailIfHealthy(reporter, "Unable to write to " + file.string());
        return false;
    }
    return true;
}

void BackupNvWithLibrary(DeviceDataTarget& t, const fs::path& folder, BackupManifest& manifest) {
    LibraryConnection connection(t);
    if (!connection.connected()) return;
    preserve::LibraryNvSession session{connection.qlib(), t.reporter};
    std::unique_ptr<preserve::NvSlots> slots;
    preserve::QlibNvBackup(session, connection.handle(), folder / kEfsFolder, slots);
    if (Healthy(t.reporter) && WriteLibraryItems(t.files, t.reporter, *slots, folder, manifest)) {
        manifest.nvSaved = true;
    }
}

void BackupNvWithDiag(DeviceDataTarget& t, DiagStack& stack, const fs::path& folder, BackupManifest& manifest) {
    preserve::NvSession session{stack.framer, t.clock, t.reporter, t.options, t.tables, t.files,
                                folder / preserve::kNvBackupFileName};
    if (manifest.nvMechanism == NvMechanism::DiagVendor) {
        if (!preserve::DiagNvBackupVendor(session)) return;
        manifest.nvItems = t.tables.vendor;
    } else {
        preserve::DiagNvState state;
        preserve::PrepareNvTable(t.options, t.tables, state);
        if (!preserve::DiagNvBackup(session, state)) return;
        manifest.nvItems = state.SavedNvList;
    }
    manifest.nvSaved = Healthy(t.reporter);
}

void BackupUserFiles(DeviceDataTarget& t, DiagStack& stack, const fs::path& folder, BackupManifest& manifest) {
    preserve::EfsSession session{stack.diag, stack.framer, t.clock, t.reporter, t.files};
    preserve::EfsUserData data;
    data.files = t.options.UserDataFilesList;
    if (!preserve::PrepareUserDataFolders(session, folder, t.options.UserDataDirList, data)) return;
    preserve::BackupUserData(session, data);
    if (Healthy(t.reporter)) AddUserData(manifest, data, folder);
}

bool WantsUserData(const package::DownloadOptions& options) {
    return !options.UserDataFilesList.empty() || !options.UserDataDirList.empty();
}

std::optional<std::string> ReadNvBackup(platform::Files& files, const fs::path& folder,
                                        const BackupManifest& manifest, std::string& error) {
    const fs::path file = folder / preserve::kNvBackupFileName;
    // No larger than the records the manifest names: the size check below then says what differs.
    std::optional<std::string> content =
        platform::ReadFileUpTo(files, file, (manifest.nvItems.size() + 1) * preserve::kNvRecordBytes, error);
    if (!content) return std::nullopt;
    if (content->size() % preserve::kNvRecordBytes != 0 ||
        content->size() / preserve::kNvRecordBytes != manifest.nvItems.size()) {
        error = "nv.bak holds " + std::to_string(content->size()) + " bytes, not the " +
                std::to_string(manifest.nvItems.size()) + " records of 130 bytes the manifest names";
        return std::nullopt;
    }
    // Each record must be the item the manifest names at its place: the
    // restore writes a record's data into the item the record names.
    const auto* bytes = reinterpret_cast<const uint8_t*>(content->data());
    for (size_t i = 0; i < manifest.nvItems.size(); ++i) {
        const preserve::NvRecord record = preserve::DecodeNvRecord(
            std::span<const uint8_t, preserve::kNvRecordBytes>(bytes + i * preserve::kNvRecordBytes,
                                                               preserve::kNvRecordBytes));
        if (record.number != manifest.nvItems[i].number) {
            error = "nv.bak record " + std::to_string(i + 1) + " holds item " + std::to_string(record.number) +
                    ", not item " + std::to_string(manifest.nvItems[i].number) + " the manifest names";
            return std::nullopt;
        }
    }
    return content;
}

void RestoreNvWithLibrary(DeviceDataTarget& t, const fs::path& folder, const BackupManifest& manifest) {
    std::string error;
    const std::optional<std::string> content = ReadNvBackup(t.files, folder, manifest, error);
    if (!content) {
        FailIfHealthy(t.reporter, error);
        return;
    }
    auto slots = std::make_unique<preserve::NvSlots>();
    const auto* bytes = reinterpret_cast<const uint8_t*>(content->data());
    for (size_t offset = 0; offset < content->size() && slots->count < preserve::kNvSlotCount;
         offset += preserve::kNvRecordBytes) {
        const preserve::NvRecord record =
            preserve::DecodeNvRecord(std::span<const uint8_t, preserve::kNvRecordBytes>(bytes + offset,
                                                                                        preserve::kNvRecordBytes));
        preserve::NvSlot& slot = slots->slots[slots->count++];
        slot.number = record.number;
        slot.data = record.data;
    }
    for (const RfNvCopy& copy : manifest.rfNv) {
        if (slots->count >= preserve::kNvSlotCount) break;
        preserve::NvSlot& slot = slots->slots[slots->count++];
        slot.number = static_cast<uint16_t>(copy.number);
        slot.rfNvFile = folder / copy.file;
    }
    LibraryConnection connection(t);
    if (!connection.connected()) return;
    preserve::LibraryNvSession session{connection.qlib(), t.reporter};
    preserve::QlibNvRestore(session, connection.handle(), slots.get());
}

void RestoreNvWithDiag(DeviceDataTarget& t, DiagStack& stack, const fs::path& folder,
                       const BackupManifest& manifest) {
    preserve::NvSession session{stack.framer, t.clock, t.reporter, t.options, t.tables, t.files,
                                folder / preserve::kNvBackupFileName};
    bool written = false;
    if (manifest.nvMechanism == NvMechanism::DiagVendor) {
        written = preserve::DiagNvRestoreVendor(session);
    } else {
        preserve::DiagNvState state;
        state.SavedNvList = manifest.nvItems;
        written = preserve::DiagNvRestore(session, state);
    }
    // Some refusals are only reported as lines; the restore as a whole failed.
    if (!written) FailIfHealthy(t.reporter, "Restore NV failed");
}

void RestoreUserFiles(DeviceDataTarget& t, DiagStack& stack, const fs::path& folder,
                      const BackupManifest& manifest) {
    preserve::EfsSession session{stack.diag, stack.framer, t.clock, t.reporter, t.files};
    preserve::EfsUserData data;
    data.dirList = manifest.userDataFolders;
    for (const UserDataCopy& copy : manifest.userData) {
        data.files.push_back(copy.devicePath);
        data.localFiles.push_back(folder / copy.file);
        data.sizes.push_back(copy.size);
    }
    preserve::RestoreUserData(session, data);
}

void RestoreAt(DeviceDataTarget& t, const fs::path& folder, const BackupManifest& manifest) {
    AtStack stack(t);
    if (!stack.Open(t)) return;
    preserve::RestoreAtParameters(stack.session, manifest.at, folder / kAtBackupFile);
}

}  // namespace

NvMechanism ChooseNvMechanism(const package::DownloadOptions& options) {
    if (preserve::IsVendorNvVariant(options)) return NvMechanism::DiagVendor;
    if (options.PlatformType == 1 || options.PlatformType == 2 || IsCdmaProject(options.ProjectIndex)) {
        return NvMechanism::Diag;
    }
    return NvMechanism::Library;
}

bool RestoresNvItems(const package::DownloadOptions& options) {
    return ChooseNvMechanism(options) != NvMechanism::Diag || IsCdmaProject(options.ProjectIndex);
}

bool IsFreshBackupFolder(const fs::path& folder) {
    std::error_code ec;
    if (!fs::exists(folder, ec)) return !ec;
    return fs::is_directory(folder, ec) && fs::is_empty(folder, ec);
}

bool BackupDevice(DeviceDataTarget& t, const fs::path& folder) {
    if (!IsFreshBackupFolder(folder)) {
        FailIfHealthy(t.reporter, "The backup folder is not empty: " + folder.string());
        return false;
    }
    std::error_code ec;
    fs::create_directories(folder / kEfsFolder, ec);
    if (ec) {
        FailIfHealthy(t.reporter, "Could not create folder!");
        return false;
    }

    BackupManifest manifest = NewManifest(t.clock, t.options);

    BackupAt(t, folder, manifest);
    if (Healthy(t.reporter) && manifest.nvMechanism == NvMechanism::Library) BackupNvWithLibrary(t, folder, manifest);
    if (Healthy(t.reporter) && (manifest.nvMechanism != NvMechanism::Library || WantsUserData(t.options))) {
        DiagStack stack(t);
        if (stack.Open(t)) {
            if (manifest.nvMechanism != NvMechanism::Library) BackupNvWithDiag(t, stack, folder, manifest);
            if (Healthy(t.reporter) && WantsUserData(t.options)) BackupUserFiles(t, stack, folder, manifest);
        }
    }
    // A step may end early with a line rather than the run's failure.
    if (!manifest.atSaved || !manifest.nvSaved) FailIfHealthy(t.reporter, "The backup is incomplete");
    if (!Healthy(t.reporter)) return false;
    return WriteManifest(t.files, t.reporter, folder, manifest);
}

bool RecordRunBackup(platform::Files& files, platform::Clock& clock, core::Reporter& reporter,
                     const package::DownloadOptions& options, const fs::path& folder, const RunBackup& saved) {
    BackupManifest manifest = NewManifest(clock, options);
    if (saved.at != nullptr) {
        manifest.at = *saved.at;
        manifest.atSaved = true;
    }
    if (saved.librarySlots != nullptr) {
        if (!WriteLibraryItems(files, reporter, *saved.librarySlots, folder, manifest)) return false;
        manifest.nvSaved = true;
    } else if (saved.diagItems != nullptr) {
        manifest.nvItems = *saved.diagItems;
        manifest.nvSaved = true;
    }
    if (saved.userData != nullptr) AddUserData(manifest, *saved.userData, folder);
    return WriteManifest(files, reporter, folder, manifest);
}

std::optional<BackupManifest> LoadCompleteBackup(platform::Files& files, const package::DownloadOptions& options,
                                                 const preserve::ProductNvTables& tables, const fs::path& folder,
                                                 std::string& error) {
    const std::string incomplete = folder.string() + " holds no complete backup: ";
    const auto refuse = [&](const std::string& why) -> std::optional<BackupManifest> {
        error = incomplete + why;
        return std::nullopt;
    };
    const fs::path manifestFile = folder / kManifestFileName;
    if (files.KindOf(manifestFile) == platform::FileKind::Missing) return refuse("manifest.json is missing");
    std::string readError;
    const std::optional<std::string> text =
        platform::ReadFileUpTo(files, manifestFile, kManifestMaxBytes, readError);
    if (!text) return refuse(readError);
    std::optional<BackupManifest> manifest = ManifestFromJson(*text, error);
    if (!manifest) return std::nullopt;
    if (!manifest->atSaved || !manifest->nvSaved) return refuse("the manifest says it is partial");
    // The project decides which AT values and NV items mean what; another
    // project's backup would be written under the wrong rules.
    if (manifest->projectIndex != options.ProjectIndex) {
        error = "The backup was made for project " + std::to_string(manifest->projectIndex) +
                ", the configuration is for project " + std::to_string(options.ProjectIndex);
        return std::nullopt;
    }
    std::string why;
    if (!CheckManifestEntries(*manifest, options, tables, why)) return refuse("manifest.json: " + why);
    if (!VerifyBackupFiles(files, folder, *manifest, why)) return refuse(why);
    // Each nv.bak record must be the item the manifest names at its place.
    if (!ReadNvBackup(files, folder, *manifest, why)) return refuse(why);
    // at.bak gives the values the AT restore writes, the manifest says what
    // was saved: a folder where they differ holds no backup to trust.
    if (!preserve::AtBackupMatches(files, manifest->at, manifest->projectIndex, folder / kAtBackupFile, why)) {
        return refuse("at.bak does not agree with manifest.json: " + why);
    }
    return manifest;
}

bool RestoreDevice(DeviceDataTarget& t, const fs::path& folder) {
    std::string error;
    const std::optional<BackupManifest> manifest = LoadCompleteBackup(t.files, t.options, t.tables, folder, error);
    if (!manifest) {
        FailIfHealthy(t.reporter, error);
        return false;
    }
    const bool diagNv = manifest->nvRestore && manifest->nvMechanism != NvMechanism::Library;
    if (!manifest->nvRestore) {
        t.reporter.ReportStatus("The NV items of this project are kept in nv.bak, not written back",
                                core::kReportInfo);
    }
    if (diagNv || !manifest->userData.empty() || !manifest->userDataFolders.empty()) {
        DiagStack stack(t);
        if (stack.Open(t)) {
            if (!manifest->userData.empty() || !manifest->userDataFolders.empty()) {
                RestoreUserFiles(t, stack, folder, *manifest);
            }
            if (Healthy(t.reporter) && diagNv) RestoreNvWithDiag(t, stack, folder, *manifest);
        }
    }
    if (Healthy(t.reporter) && manifest->nvMechanism == NvMechanism::Library) {
        RestoreNvWithLibrary(t, folder, *manifest);
    }
    if (Healthy(t.reporter)) RestoreAt(t, folder, *manifest);
    return Healthy(t.reporter);
}

}  // namespace firmora::engine
