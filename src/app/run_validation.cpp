#include "app/run_validation.h"

#include "app/window_settings.h"
#include "package/project_table.h"

namespace firmora::app {
namespace {

Validation Refuse(std::string text, std::string caption, bool showFailureStatus = true) {
    Validation v;
    v.outcome = Validation::Outcome::Refused;
    v.text = std::move(text);
    v.caption = std::move(caption);
    v.showFailureStatus = showFailureStatus;
    return v;
}

bool AnyOf(std::initializer_list<bool> flags) {
    for (bool flag : flags) {
        if (flag) return true;
    }
    return false;
}

bool Busy(const BusyPorts& ports, int number) {
    return number >= 1 && number <= kHighestPortNumber && ports[static_cast<size_t>(number)];
}

}  // namespace

Validation ValidateRun(const ValidationInput& in) {
    const package::DownloadOptions& o = in.options;
    const bool japanese = IsJapaneseProduct(o.ProjectIndex);
    if (in.imageListEmpty && !o.bBackup) return Refuse("No Image File Loaded!", "Download", false);

    if (in.diag.items.empty() || in.diag.Text().empty()) {
        return japanese ? Refuse("ポートが見つかりません。", JapaneseToolCaption(o.ProjectIndex))
                        : Refuse("Port is empty", "Download");
    }
    if (!in.reupdateMode && in.at.Text().empty()) return Refuse("Serial Port was not found.", "Download");
    if (in.diag.items.size() > 1) {
        return japanese ? Refuse("複数のデバイスが見つかりました。", JapaneseToolCaption(o.ProjectIndex))
                        : Refuse("Two or more devices were found", "Warning");
    }

    // The whole number after "COM": a port above 99 keeps all its digits.
    Validation v;
    v.ports.diag = SelectorPortNumber(in.diag.Text()).value_or(0);
    if (!in.app.items.empty()) v.ports.app = SelectorPortNumber(in.app.Text()).value_or(0);
    // Re-update does not require an AT port, but takes the one listed: its
    // restores and AT sets cannot run without it.
    const bool runUsesAtPort = AnyOf({!o.bPhoneType, o.bPCSuite, o.bBackup, o.bRestore, !o.EndATList.empty()});
    if (runUsesAtPort && in.at.Text().size() >= 4) v.ports.at = SelectorPortNumber(in.at.Text()).value_or(0);

    if (v.ports.diag < 1 || v.ports.diag > kHighestPortNumber) return Refuse("Invalid port number", "Download");
    if (Busy(in.diagBusy, v.ports.diag) || (AnyOf({o.bPCSuite, o.bBackup, o.bRestore}) && Busy(in.atBusy, v.ports.at))) {
        v.outcome = Validation::Outcome::RefusedSilently;
        return v;
    }

    const bool downloads = AnyOf({o.bAppsBootloader, o.bAppsImageAndBootloader, o.bPhoneImage, o.bAMSSFile, o.bBackup,
                                  o.bBootloader, o.bCfgdata, o.bEFS});
    if (!downloads && !AnyOf({o.bRawAppsEFS, o.bPartOfEFS, o.bPCSuite, o.bRestore})) {
        return Refuse("No download option selected", "Download");
    }
    return v;
}

}  // namespace firmora::app
