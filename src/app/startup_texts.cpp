#include "app/startup_texts.h"

#include "package/project_table.h"

namespace firmora::app {
namespace {

// "Operator A", "Operator B", "Operator C": the variant's letter names the
// operator whose customers the variant is built for.
std::string VariantLetter(const package::DownloadOptions& options) {
    switch (options.VersionVariant) {
        case package::VersionVariantKind::A: return "A";
        case package::VersionVariantKind::B: return "B";
        case package::VersionVariantKind::C: return "C";
        case package::VersionVariantKind::None: break;
    }
    return "";
}

bool JapaneseGuide(const package::DownloadOptions& options) {
    const int p = options.ProjectIndex;
    return p == package::kProjectZP200_EA || p == package::kProjectRE78_51 || p == package::kProjectDI79_21 ||
           p == package::kProjectDO78_21 || options.Language == 1;
}

}  // namespace

std::string VariantTitle(const package::DownloadOptions& options) {
    const int p = options.ProjectIndex;
    if (p == package::kProjectZP200_EA || p == package::kProjectRE78_51) {
        const std::string letter = VariantLetter(options);
        return "ソフトウェアアップデートツール" + (letter.empty() ? std::string() : " (" + letter + ")");
    }
    return options.Caption + " Software Update";
}

std::string CompanionRunningMessage(const package::DownloadOptions&) {
    return "通信ユーティリティが実行中です。ユーティリティを終了してから、もう一度お試しください。";
}

std::string DeviceMissingMessage(const package::DownloadOptions&) {
    return "デバイスが見つかりません。デバイスをパソコンに接続してから、ツールを起動してください。";
}

platform::GuideRequest GuideFor(const package::DownloadOptions& options, platform::GuideWizard wizard) {
    platform::GuideRequest request;
    request.wizard = wizard;
    request.japanese = JapaneseGuide(options);
    if (wizard == platform::GuideWizard::TFormGuide3) {
        request.title = options.Caption;
        request.pages = {"Connect the device and press OK to update it to " + options.MatchVersion + "."};
        return request;
    }
    if (request.japanese) {
        request.title = VariantTitle(options);
        request.pages = {"ソフトウェアアップデートツールへようこそ。",
                         "使用許諾契約をお読みになり、同意される場合は「同意する」を選択してください。",
                         "アップデート中はUSBケーブルを抜かないでください。データ通信ソフトは終了してください。",
                         "「完了」を選択すると、アップデートの準備を開始します。"};
    } else {
        request.title = options.Caption;
        request.pages = {"Welcome to the software update of your modem.",
                         "Read the licence agreement and tick the box to accept it.",
                         "Close every connection program and keep the USB cable plugged in during the update.",
                         "Press Finish to prepare the update."};
    }
    return request;
}

}  // namespace firmora::app
