#pragma once
// The device's own AT-readable parameters: what ReadIdentity takes from the
// modem before a download and RestoreAtParameters writes back afterwards.
// Values travel as opaque device text between the read and the write.

#include <array>
#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>

#include "core/reporter.h"
#include "link/at_channel.h"
#include "link/serial_channel.h"
#include "package/download_options.h"
#include "platform/clock.h"
#include "platform/files.h"

namespace firmora::preserve {

// One parameter: its value and whether this run read it. Only parameters
// that were read are saved and written back.
struct AtParameter {
    std::string value;
    bool read = false;
};

inline constexpr int kMaxApns = 16;

struct AtParameters {
    AtParameter sn;
    AtParameter imei;
    AtParameter imei1;
    AtParameter esn;
    AtParameter meid;
    AtParameter bluetoothAddress;
    AtParameter wifiCal;
    AtParameter salesCount;
    AtParameter salesInfo;
    AtParameter testInformation;
    AtParameter uit87;
    AtParameter uit89;
    AtParameter cllen;
    AtParameter mvreq;  // the PLMN
    AtParameter gmi;
    // Without a flag: restored when not empty.
    std::string mode;
    std::array<std::string, kMaxApns> apns;  // apns[k - 1] is context k's line

    // The identity values as the backup folder's name uses them.
    std::string CleanSn() const;
    std::string CleanImei() const;
    std::string CleanMeid() const;
};

// What the AT operations of a run work with. `port` is the AT channel that
// `at` talks through; it is only asked whether it is open.
struct AtSession {
    link::SerialChannel& port;
    link::AtChannel& at;
    platform::Clock& clock;
    core::Reporter& reporter;
    const package::DownloadOptions& options;
    platform::Files& files;  // at.bak is read through it
};

// Reads the parameters of this project into `params`, overwriting what an
// earlier attempt read. False when the port is closed, when SN, mode or the
// test information cannot be read, or when the IMEI (where the project has
// one) cannot be read or is empty or all zeros; the flags then stand as far
// as the read got.
bool ReadIdentity(AtSession& session, AtParameters& params);

// Writes the saved parameters back into the device: the flagged values from
// the backup file at `backupFile`, the mode and contexts held in `params`,
// then the configured network lock and the product-specific values. False
// at the first write that must stop the restore (reported as it happens).
// Nothing is written when the file cannot be read or any value to write
// holds a control character, a semicolon outside a quoted string or an
// unended quote (each would let the rest run as a command of its own). A flagged value the file does not hold fails the run and is not
// written; the restore stops or goes on as a failed write of it would.
bool RestoreAtParameters(AtSession& session, const AtParameters& params,
                         const std::filesystem::path& backupFile);

// Products that keep carrier values of their own (CLLEN, MVREQ and GMI),
// and those that keep GMI only.
bool HasCarrierValues(int projectIndex);
bool HasGmiOnly(int projectIndex);

// The context lines of a "+CGDCONT?" reply block: for k from 1 to 16, the
// first line that begins with "+CGDCONT: k," without its tag (so it starts
// with the number), wherever the device lists it. Exposed for its tests.
std::array<std::string, kMaxApns> ParseContexts(std::string_view block);

// The test information as saved: upper case, no line breaks and, unless the
// UIT results are kept in it (`keepUitResults`), without them.
std::string CleanTestInformation(std::string_view value, bool keepUitResults);

}  // namespace firmora::preserve
