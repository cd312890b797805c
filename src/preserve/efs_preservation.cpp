#include "preserve/efs_preservation.h"

#include <algorithm>
#include <fstream>
#include <optional>
#include <span>
#include <system_error>

#include "link/diag_efs.h"

namespace firmora::preserve {
namespace {

namespace fs = std::filesystem;
using link::EfsCommand;

constexpr int kReadChunkAttempts = 10;
constexpr int kWriteBlockAttempts = 3;
constexpr int kReadDirAttempts = 5;
constexpr uint64_t kOpenDirWaitMs = 500;
constexpr uint32_t kTransferPauseMs = 500;
constexpr size_t kMaxListingEntries = 255;
constexpr uint32_t kBlocksPerProgressStep = 64;

bool Healthy(const EfsSession& session) { return session.reporter.RunStatus() == core::kRunHealthy; }

void Trace(EfsSession& session, const std::string& text) { session.reporter.ReportStatus(text, core::kReportTrace); }

uint32_t CeilDiv(uint32_t value, uint32_t by) { return value / by + (value % by != 0 ? 1 : 0); }

}  // namespace

std::string SafeName(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        switch (c) {
            case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
                c = '_';
                break;
            default:
                if (static_cast<unsigned char>(c) < 0x20) c = '_';
        }
    }
    if (out == "..") out = "__";
    return out;
}

namespace {

std::vector<std::string_view> SplitDevicePath(std::string_view path) {
    std::vector<std::string_view> names;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view name = path.substr(pos, end - pos);
        if (!name.empty() && name != ".") names.push_back(name);
        pos = end + 1;
    }
    return names;
}

// Sends `request` and reads replies until one passes `accept`, sending again
// after every reply that does not; at most `attempts` sends.
template <typename Accept>
bool ExchangeUntil(EfsSession& session, std::span<const uint8_t> request, int attempts, Accept&& accept) {
    session.framer.BuildPacket(request);
    for (int attempt = 0; attempt < attempts && Healthy(session); ++attempt) {
        session.framer.SendFrame();
        const link::FrameReadResult result = session.framer.ReadFrame();
        if (result.outcome == link::FrameReadOutcome::DeviceGone) return false;
        if (result.ok() && accept(session.framer.ReceivedPacket())) return true;
    }
    return false;
}

// A listing the tool had to cut short: the copy lacks what was not listed,
// so the run says so and the backup keeps the note.
void NoteCut(EfsSession& session, std::vector<std::string>* warnings, const std::string& text) {
    session.reporter.ReportStatus("Warning: " + text, core::kReportInfo);
    if (warnings) warnings->push_back(text);
}

int EnumDirs(EfsSession& session, std::string path, std::vector<std::string>& dirList, size_t depth,
             std::vector<std::string>* warnings) {
    Trace(session, "Enum dir:" + path);
    if (path.size() > 1 && path.front() == '/') path.erase(0, 1);

    // The open-listing reply is awaited up to 500 ms, asking again after
    // every read that came back empty.
    bool opened = false;
    session.framer.BuildPacket(link::EfsOpenDirRequest(path));
    const uint64_t until = session.clock.TickCount() + kOpenDirWaitMs;
    do {
        session.framer.SendFrame();
        const link::FrameReadResult result = session.framer.ReadFrame();
        if (!Healthy(session)) return -1;
        if (result.outcome == link::FrameReadOutcome::DeviceGone) break;
        if (!result.ok()) continue;
        const auto reply = link::ParseEfsOpenDirReply(session.framer.ReceivedPacket());
        opened = reply && (reply->dirHandle & 0xFF) != 0;
        break;
    } while (session.clock.TickCount() < until);
    if (!Healthy(session)) return -1;
    if (!opened) return 1;

    const size_t firstAdded = dirList.size();
    // Every way out of the loop but running through all its entries is an end of the listing.
    bool cut = true;
    for (size_t sequence = 1; sequence <= kMaxListingEntries && Healthy(session); ++sequence) {
        std::optional<link::EfsReadDirReply> entry;
        ExchangeUntil(session, link::EfsReadDirRequest(static_cast<uint8_t>(sequence)), kReadDirAttempts,
                      [&](std::span<const uint8_t> reply) {
                          entry = link::ParseEfsReadDirReply(reply);
                          return entry.has_value();
                      });
        // No answer is no end: what follows was never listed.
        if (!entry) {
            if (Healthy(session)) {
                NoteCut(session, warnings,
                        "the device stopped answering, the listing of " + path + " may be incomplete");
            }
            cut = false;  // noted already
            break;
        }
        // Devices mark the end of a listing differently: an entry without a
        // name, or a plain entry with a folder mode.
        if ((entry->dirHandle & 0xFF) != link::kEfsDirHandle || entry->name.empty()) {
            cut = false;
            break;
        }
        const uint8_t modeHigh = static_cast<uint8_t>(entry->mode >> 8);
        const bool folderMode = modeHigh == 0x40 || modeHigh == 0x41;
        if (entry->entryType == 1 && folderMode) {
            if (entry->name == "." || entry->name == "..") continue;  // never a child of its own
            if (dirList.size() >= kMaxEnumeratedFolders) {
                NoteCut(session, warnings, "too many folders, the listing of " + path + " was cut short");
                cut = false;  // noted already
                break;
            }
            std::string child = path;
            if (child.empty() || child.back() != '/') child += '/';
            child += entry->name;
            if (child.front() == '/') child.erase(0, 1);
            dirList.push_back(child);
        } else if (entry->entryType == 0 && folderMode && (entry->mode & 0xFF) == 0) {
            cut = false;
            break;
        }
    }
    session.diag.EfsCloseDir();
    if (cut && Healthy(session)) {
        NoteCut(session, warnings,
                "the listing of " + path + " was cut after " + std::to_string(kMaxListingEntries) + " entries");
    }

    const size_t lastAdded = dirList.size();
    if (depth + 1 >= kMaxFolderDepth && lastAdded > firstAdded) {
        NoteCut(session, warnings, "the folders below " + path + " are nested too deep and were not listed");
    } else {
        // Copies: the recursion appends to the list.
        for (size_t i = firstAdded; i < lastAdded && Healthy(session); ++i) {
            const std::string child = dirList[i];
            EnumDirs(session, child, dirList, depth + 1, warnings);
        }
    }
    session.diag.EfsCloseDir();
    return Healthy(session) ? 0 : -1;
}

}  // namespace

fs::path MapDevicePath(const fs::path& backupFolder, std::string_view devicePath, core::Reporter* reporter) {
    fs::path local = backupFolder / "EFS";
    bool changed = false;
    for (const std::string_view name : SplitDevicePath(devicePath)) {
        const std::string safe = SafeName(name);
        changed = changed || safe != name;
        local /= safe;
    }
    if (changed && reporter) {
        reporter->ReportStatus("Device path " + std::string(devicePath) + " kept as " + local.string(),
                               core::kReportTrace);
    }
    return local;
}

fs::path AddedFileLocalPath(const fs::path& packageFolder, std::string_view devicePath) {
    const size_t slash = devicePath.rfind('/');
    const std::string_view name = slash == std::string_view::npos ? devicePath : devicePath.substr(slash + 1);
    return packageFolder / SafeName(name);
}

bool CreateFolderPath(core::Reporter& reporter, const fs::path& path) {
    // The path is used as given: device names in it were made safe by
    // MapDevicePath, and the rest is the folder the user chose.
    std::error_code ec;
    fs::create_directories(path, ec);
    if (ec || !fs::is_directory(path, ec)) {
        reporter.ReportError("Could not create folder!");
        return false;
    }
    return true;
}

bool DeleteFolder(const fs::path& path) {
    std::error_code ec;
    fs::remove_all(path, ec);
    if (ec) return false;
    return !fs::exists(path, ec) && !ec;
}

int EfsEnumDirs(EfsSession& session, std::string path, std::vector<std::string>& dirList,
                std::vector<std::string>* warnings) {
    return EnumDirs(session, std::move(path), dirList, 0, warnings);
}

link::EfsResult EfsEnsureDir(EfsSession& session, const std::string& path) {
    // A device answers "exists" (17) to a folder that is there already, which
    // the make-folder request does not accept; a present path needs no make.
    switch (session.diag.EfsLookUpPath(path)) {
        case link::EfsPathState::Absent: return session.diag.EfsMakeDir(path);
        case link::EfsPathState::Present: return link::EfsResult::Done;
        case link::EfsPathState::NoAnswer: return link::EfsResult::NoAnswer;
        case link::EfsPathState::BadPath: return link::EfsResult::BadPath;
        case link::EfsPathState::Stopped: break;
    }
    return link::EfsResult::Stopped;
}

bool PrepareUserDataFolders(EfsSession& session, const fs::path& backupFolder,
                            const std::vector<std::string>& userDataDirs, EfsUserData& data) {
    data.dirList.clear();
    data.warnings.clear();
    if (data.files.size() > kMaxUserDataFiles) data.files.resize(kMaxUserDataFiles);
    for (const std::string& dir : userDataDirs) {
        // The configured folder and its parents go first, so that the
        // restore can re-create them when the download wiped them too.
        std::vector<std::string> own;
        std::string prefix;
        for (const std::string_view name : SplitDevicePath(dir)) {
            if (!prefix.empty()) prefix += '/';
            prefix += name;
            own.push_back(prefix);
        }
        if (EfsEnumDirs(session, dir, own, &data.warnings) == 0) {
            data.dirList.insert(data.dirList.end(), own.begin(), own.end());
        }
        if (!CreateFolderPath(session.reporter, MapDevicePath(backupFolder, dir, &session.reporter))) return false;
    }
    if (Healthy(session)) {
        for (size_t i = 0; i < data.files.size();) {
            if (session.diag.EfsLookUpPath(data.files[i]) == link::EfsPathState::Absent) {
                data.files.erase(data.files.begin() + static_cast<std::ptrdiff_t>(i));
                continue;
            }
            const fs::path local = MapDevicePath(backupFolder, data.files[i], &session.reporter);
            if (!CreateFolderPath(session.reporter, local.parent_path())) return false;
            ++i;
        }
    }
    for (const std::string& dir : data.dirList) {
        if (!CreateFolderPath(session.reporter, MapDevicePath(backupFolder, dir, &session.reporter))) return false;
    }
    if (Healthy(session)) {
        data.localFiles.clear();
        for (const std::string& file : data.files) data.localFiles.push_back(MapDevicePath(backupFolder, file));
    }
    return true;
}

int EfsDownloadFile(EfsSession& session, const fs::path& localPath, uint32_t size) {
    Trace(session, "Downloading Part of EFS...");
    std::ofstream out(localPath, std::ios::binary | std::ios::trunc);
    if (!out) {
        session.reporter.ReportError("Could not open file:" + localPath.string());
        return 1;
    }
    if (size != 0) {
        const uint32_t chunks = CeilDiv(size, kEfsReadChunk);
        session.clock.Sleep(kTransferPauseMs);
        Trace(session, localPath.filename().string() + " downloading, ");
        for (uint32_t k = 0; k < chunks && Healthy(session); ++k) {
            const uint32_t offset = k * kEfsReadChunk;
            const uint32_t expected = std::min(kEfsReadChunk, size - offset);
            std::vector<uint8_t> data;
            // A chunk counts only with error number 0 and every byte asked
            // for; anything less is asked again, so a short reply can never
            // end up as a silently truncated copy.
            const bool read = ExchangeUntil(
                session, link::EfsReadRequest(kEfsReadChunk, offset), kReadChunkAttempts,
                [&](std::span<const uint8_t> reply) {
                    const auto parsed = link::ParseEfsReadReply(reply);
                    if (!parsed || parsed->fd != link::kEfsFileDescriptor || parsed->err != 0) return false;
                    if (parsed->offset != offset || parsed->bytesRead != static_cast<int32_t>(expected) ||
                        parsed->data.size() < expected) {
                        return false;
                    }
                    data.assign(parsed->data.begin(), parsed->data.begin() + expected);
                    return true;
                });
            if (!read || !Healthy(session)) {
                out.close();
                std::error_code ec;
                fs::remove(localPath, ec);
                return 1;
            }
            out.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
            if (!out) {
                session.reporter.ReportError("Could not open file:" + localPath.string());
                out.close();
                std::error_code ec;
                fs::remove(localPath, ec);
                return 1;
            }
        }
        if (!Healthy(session)) {
            out.close();
            std::error_code ec;
            fs::remove(localPath, ec);
            return 1;
        }
    }
    out.close();
    return out ? 0 : 1;
}

int EfsUploadFile(EfsSession& session, const fs::path& localPath, uint32_t size) {
    Trace(session, "Downloading D030......");
    // The whole copy is read before the first block goes out: a copy that is
    // no regular file, or is not of its recorded size, is damaged, and
    // writing what there is would leave a wrong device file.
    std::string refusal;
    const std::optional<std::string> content = platform::ReadFileUpTo(session.files, localPath, size, refusal);
    if (!content) {
        session.reporter.ReportError("Could not open BIN file: " + localPath.string());
        session.reporter.ReportStatus(refusal, core::kReportError);
        return 1;
    }
    if (content->size() != size) {
        session.reporter.ReportError("Could not read from BIN file: " + localPath.string());
        return 1;
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(content->data());
    const uint32_t blocks = CeilDiv(size, kEfsWriteBlock);
    session.clock.Sleep(kTransferPauseMs);
    Trace(session, "Downloading D031......");
    uint32_t offset = 0;
    uint32_t counted = 0;
    while (counted < blocks && Healthy(session)) {
        const uint32_t length = std::min(kEfsWriteBlock, size - offset);
        ++counted;
        session.reporter.AddWrittenBytes(length);
        bool written = false;
        for (int attempt = 0; attempt < kWriteBlockAttempts && !written; ++attempt) {
            written = session.diag.EfsWriteBlock(offset, std::span(bytes + offset, length)) == link::EfsResult::Done;
            if (!written) Trace(session, "Re-Downloading D032......");
        }
        if (!written) {
            session.reporter.ReportError(localPath.filename().string() + ", fail to write block " +
                                         std::to_string(CeilDiv(counted, kBlocksPerProgressStep)) + " of " +
                                         std::to_string(CeilDiv(blocks, kBlocksPerProgressStep)));
            return 1;
        }
        offset += length;
        if (length < kEfsWriteBlock) break;
    }
    return Healthy(session) ? 0 : 1;
}

void BackupUserData(EfsSession& session, EfsUserData& data) {
    data.sizes.assign(data.files.size(), 0);
    for (size_t i = 0; i < data.files.size() && i < data.localFiles.size() && Healthy(session); ++i) {
        const std::string& path = data.files[i];
        uint32_t size = 0;
        const link::EfsOpenRead opened = session.diag.EfsOpenForRead(path, size);
        if (opened != link::EfsOpenRead::Opened && opened != link::EfsOpenRead::EmptyFile) {
            session.reporter.ReportError("->Fail to read file:" + path);
            return;
        }
        data.sizes[i] = size;
        if (EfsDownloadFile(session, data.localFiles[i], size) != 0) {
            session.reporter.ReportError("*Fail to read file:" + path);
            return;
        }
        if (size != 0) {
            if (session.diag.EfsCloseFile() != link::EfsResult::Done) {
                session.reporter.ReportError("Fail to close file packet:" + path);
                return;
            }
            Trace(session, path + " successfully.");
        }
    }
}

void RestoreUserData(EfsSession& session, const EfsUserData& data) {
    for (const std::string& dir : data.dirList) {
        if (!Healthy(session)) return;
        if (EfsEnsureDir(session, dir) != link::EfsResult::Done) {
            session.reporter.ReportError("[EFS] Fail to create directory");
            return;
        }
    }
    for (size_t j = 0; j < data.files.size() && Healthy(session); ++j) {
        if (session.diag.EfsOpenForWrite(data.files[j]) != link::EfsResult::Done) {
            session.reporter.ReportError("[upload] Fail to upload part of EFS file command");
            return;
        }
        const uint32_t size = j < data.sizes.size() ? data.sizes[j] : 0;
        if (size != 0 && Healthy(session) && j < data.localFiles.size()) {
            EfsUploadFile(session, data.localFiles[j], size);
        }
        if (!Healthy(session)) return;
        if (session.diag.EfsCloseFile() != link::EfsResult::Done) {
            session.reporter.ReportError("[upload] Fail to close part of EFS packet");
            return;
        }
        Trace(session, data.files[j] + " file OK");
    }
}

void ApplyPartOfEfsPlan(EfsSession& session, const EfsPlan& plan) {
    for (const std::string& file : plan.removeFiles) {
        if (!Healthy(session)) return;
        if (session.diag.EfsRemoveFile(file) != link::EfsResult::Done) {
            session.reporter.ReportError("[EFS] Fail to remove file");
        }
    }
    for (const std::string& dir : plan.removeDirs) {
        if (!Healthy(session)) return;
        switch (session.diag.EfsRemoveDirWithFiles(dir)) {
            case link::RemoveDirResult::Removed: break;
            case link::RemoveDirResult::HasSubfolder: session.reporter.ReportError("[EFS] Could not remove subdirectories"); break;
            case link::RemoveDirResult::FileKept: session.reporter.ReportError("[EFS] Fail to remove the file of folder"); break;
            case link::RemoveDirResult::FolderKept: session.reporter.ReportError("[EFS] Fail to remove the root of folder"); break;
            default: session.reporter.ReportError("[EFS] Fail to remove the entire directory"); break;
        }
    }
    for (const std::string& dir : plan.createDirs) {
        if (!Healthy(session)) return;
        if (EfsEnsureDir(session, dir) != link::EfsResult::Done) session.reporter.ReportError("[EFS] Fail to create directory");
    }
    const size_t added = std::min(plan.addFiles.size(), kMaxAddedEfsFiles);
    for (size_t l = 0; l < added && Healthy(session); ++l) {
        const EfsAddedFile& file = plan.addFiles[l];
        if (session.diag.EfsOpenForWrite(file.devicePath) != link::EfsResult::Done) {
            session.reporter.ReportError("[Dload] Fail to send part of EFS file command");
            return;
        }
        EfsUploadFile(session, file.localPath, file.size);
        if (!Healthy(session)) return;
        if (session.diag.EfsCloseFile() != link::EfsResult::Done) {
            session.reporter.ReportError("[Dload] Fail to close part of EFS packet");
            return;
        }
        Trace(session, "Download file P030......");
    }
}

}  // namespace firmora::preserve
