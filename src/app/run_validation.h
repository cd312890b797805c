#pragma once
// The checks before a run is launched: an image or a backup to do, one
// device with its ports, a valid free Diag port, a download selection. Each
// refusal carries the message and the caption its box shows (a busy port is
// refused without one).

#include <array>
#include <string>

#include "app/window_controls.h"
#include "package/download_options.h"
#include "package/project_table.h"

namespace firmora::app {

inline constexpr int kHighestPortNumber = 998;

// One flag per port number 1 to 998: set while a run uses the port.
using BusyPorts = std::array<bool, kHighestPortNumber + 1>;

struct RunPorts {
    int diag = 0;
    int app = 0;
    int at = 0;  // 0 when the run does not use its AT port
};

struct ValidationInput {
    const package::DownloadOptions& options;
    bool reupdateMode = false;
    bool imageListEmpty = false;
    const Selector& diag;
    const Selector& app;
    const Selector& at;
    const BusyPorts& diagBusy;
    const BusyPorts& atBusy;
};

struct Validation {
    enum class Outcome { Launch, Refused, RefusedSilently };
    Outcome outcome = Outcome::Launch;
    std::string text;
    std::string caption;
    // The status line shows the failure before the box (not for the image
    // list and not for a silent refusal).
    bool showFailureStatus = false;
    RunPorts ports;

    bool ok() const { return outcome == Outcome::Launch; }
};

Validation ValidateRun(const ValidationInput& input);

using package::IsJapaneseProduct;
using package::JapaneseToolCaption;

}  // namespace firmora::app
