#include "download/fastboot_plan.h"

#include <algorithm>
#include <string>

#include "link/fastboot_interface.h"

namespace firmora::download {

namespace {

constexpr uint32_t kConnectPauseMs = 200;   // between opening the interface and its endpoints
constexpr uint32_t kImagePauseMs = 200;     // before each single image, and before the restart
constexpr uint32_t kSettlePauseMs = 100;    // just before an image goes out
constexpr const char* kPacketModePartition = "qdsp";

}  // namespace

FastbootPlan::FastbootPlan(FastbootClient& client, platform::DeviceEnumerator& devices, core::Reporter& reporter,
                           platform::Clock& clock)
    : client_(client), devices_(devices), reporter_(reporter), clock_(clock) {}

void FastbootPlan::ShowBusyPicture() {
    if (showBusyPicture_) showBusyPicture_();
}

bool FastbootPlan::OpenConnection() {
    std::string path;
    if (link::FindFastbootInterface(devices_, 0, path) != link::kFastbootInterfaceFound) {
        reporter_.ReportError("ADB Interface Invalid");
        return false;
    }
    if (Healthy()) {
        if (!client_.ConnectAdbInterface(path)) {
            reporter_.ReportError("Connect adb infterface failed.");
            return false;
        }
        reporter_.ReportStatus("Connect adb infterface successfully", core::kReportInfo);
    }
    clock_.Sleep(kConnectPauseMs);
    if (Healthy()) {
        if (!client_.InitAdbConnection()) return false;
        reporter_.ReportStatus("initialization adb infterface successfully", core::kReportInfo);
    }
    return true;
}

bool FastbootPlan::CloseConnection() {
    if (!Healthy()) return true;
    if (!client_.CloseAdbConnection()) return false;
    reporter_.ReportStatus("Close adb connection successfully", core::kReportInfo);
    return true;
}

void FastbootPlan::Run(const PlanInput& input) {
    ShowBusyPicture();
    if (!WriteSingleImages(input)) return;
    if (input.configuration) {
        for (const PlanEntry& entry : input.entries) {
            if (!Healthy()) break;
            ShowBusyPicture();
            if (!WriteEntry(entry)) return;
        }
    }
    Restart();
}

bool FastbootPlan::WriteSingleImages(const PlanInput& input) {
    const bool any = std::any_of(input.singleImages.begin(), input.singleImages.end(),
                                 [](const auto& image) { return image.has_value(); });
    if (!any) return true;
    if (!OpenConnection()) return false;
    const auto table = SingleImages();
    for (size_t i = 0; i < table.size(); ++i) {
        const std::optional<PlanImage>& image = input.singleImages[i];
        if (!image) continue;
        if (!Healthy()) break;
        clock_.Sleep(kImagePauseMs);
        clock_.Sleep(kSettlePauseMs);
        if (table[i].flash == FixedFlash::System && input.systemImageInPackets) {
            client_.FlashImageInPackets(image->path, image->size, PacketStream::System);
        } else {
            const FixedFlash flash = table[i].flash;
            client_.FlashImage(image->path, image->size, [this, flash] { return client_.FixedFlashCmd(flash); });
        }
        if (Healthy()) reporter_.ReportStatus(table[i].successText, core::kReportInfo);
    }
    return CloseConnection();
}

bool FastbootPlan::WriteEntry(const PlanEntry& entry) {
    if (entry.file == kEraseFile) {
        if (!OpenConnection()) return false;
        client_.EraseEntry(entry.partition);
        return CloseConnection();
    }
    if (IsSkippedPlanFile(entry.file)) return true;
    if (!OpenConnection()) return false;
    reporter_.ReportStatus(entry.file + " downloading", core::kReportTrace);
    clock_.Sleep(kSettlePauseMs);
    if (entry.partition == kPacketModePartition) {
        client_.FlashImageInPackets(entry.file, entry.size, PacketStream::Entry);
    } else {
        const std::string partition = entry.partition;
        client_.FlashImage(entry.file, entry.size, [this, partition] { return client_.WriteFinishedCmd(partition); });
    }
    if (Healthy()) reporter_.ReportStatus(entry.file + " download successfully.", core::kReportTrace);
    return CloseConnection();
}

void FastbootPlan::Restart() {
    // With the run failed, the interface is still looked up but nothing is sent.
    if (!OpenConnection()) return;
    if (Healthy()) clock_.Sleep(kImagePauseMs);
    if (Healthy()) client_.RebootDeviceCmd();
    if (Healthy()) client_.ReceiveOkayReply();
    CloseConnection();
}

}  // namespace firmora::download
