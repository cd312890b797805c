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
    request.projectIndex = options.ProjectIndex;
    const std::string letter = VariantLetter(options);
    request.versionVariant = letter.empty() ? '\0' : letter[0];
    if (wizard == platform::GuideWizard::TFormGuide3) {
        // Welcome, licence, the steps before Start, and the device-missing notice.
        request.title = options.Caption;
        if (request.japanese) {
            request.pages = {"モデムのソフトウェアを " + options.MatchVersion +
                                 " にアップデートします。「インストール」を押して開始してください。",
                             "使用許諾契約をお読みください。アップデートはモデムのソフトウェアを書き換えます。"
                             "モデムの設定はアップデートの前に保存され、後で元に戻されます。",
                             "モデムをパソコンに接続し、データ通信ソフトを終了してから「開始」を押してください。"
                             "アップデートが終わるまでモデムを取り外さないでください。",
                             "モデムが見つかりません。モデムを接続してから、もう一度ツールを起動してください。"};
            return request;
        }
        request.pages = {"This program updates your modem's software to " + options.MatchVersion +
                             ". Press Install to begin.",
                         "Read the licence agreement. The update replaces the modem's software; the modem's "
                         "own settings are saved before and restored after it.",
                         "Connect the modem to this computer, close every connection program and press Start. "
                         "Keep the modem connected until the update has finished.",
                         "No modem was found. Connect the modem and start the program again."};
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
