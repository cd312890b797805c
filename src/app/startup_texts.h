#pragma once
// The texts start-up shows for the products that have their own: the guide
// wizards' pages and titles, and the operator variants' Japanese titles and
// messages. They are ours to word; each comes in English and Japanese.

#include <string>

#include "package/download_options.h"
#include "platform/dialogs.h"

namespace firmora::app {

// The wizard a product shows at start-up, with its title and pages.
platform::GuideRequest GuideFor(const package::DownloadOptions& options, platform::GuideWizard wizard);

// The application title of the products whose window shows a title of its
// own rather than the package's Caption (the operator variants).
std::string VariantTitle(const package::DownloadOptions& options);

// The operator variants' message when the operator's own utility (or our
// program) already runs: it must be closed first.
std::string CompanionRunningMessage(const package::DownloadOptions& options);

// The operator variants' message when no device was found within 20 s of
// the start: connect it before running the tool.
std::string DeviceMissingMessage(const package::DownloadOptions& options);

// The Japanese single-instance message and its box's caption.
inline constexpr const char* kJapaneseAlreadyRunning = "ユーティリティが実行中です。";
inline constexpr const char* kAlreadyRunning = "upgrading is running,please exit the upgrade tool!";

}  // namespace firmora::app
