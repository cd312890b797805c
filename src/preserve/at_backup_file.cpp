#include "preserve/at_backup_file.h"

#include <string>
#include <utility>
#include <vector>

#include "link/at_text.h"
#include "platform/private_profile.h"

namespace firmora::preserve {
namespace {

constexpr const char* kFlags = "BACKUP";
constexpr const char* kData = "Data";

bool HasCarrierValues(int projectIndex) { return projectIndex == 8 || projectIndex == 10; }
bool HasGmiOnly(int projectIndex) { return projectIndex == 18; }

// The maker values in the order [Data] lists them after the contexts.
std::vector<std::pair<const char*, const AtParameter*>> MakerValues(const AtParameters& p) {
    return {{"ESN", &p.esn},
            {"IMEI", &p.imei},
            {"IMEI_1", &p.imei1},
            {"MEID", &p.meid},
            {"BLUETOOTHADDR", &p.bluetoothAddress},
            {"SalesCount", &p.salesCount},
            {"WifiCal", &p.wifiCal},
            {"SalesInfo", &p.salesInfo},
            {"TESTINF", &p.testInformation},
            {"UIT87", &p.uit87},
            {"UIT89", &p.uit89}};
}

// The product-specific values of a project, in file order.
std::vector<std::pair<const char*, const AtParameter*>> ProductValues(const AtParameters& p, int projectIndex) {
    if (HasCarrierValues(projectIndex)) return {{"CLLEN", &p.cllen}, {"MVREQ", &p.mvreq}, {"GMI", &p.gmi}};
    if (HasGmiOnly(projectIndex)) return {{"GMI", &p.gmi}};
    return {};
}

const char* Flag(const AtParameter& p) { return p.read ? "1" : "0"; }

std::string Quoted(const std::string& value) { return "\"" + value + "\""; }

}  // namespace

bool WriteAtBackup(platform::Files& files, const AtParameters& params, int projectIndex,
                   const std::filesystem::path& backupFile, core::Reporter& reporter) {
    if (reporter.RunStatus() != core::kRunHealthy) return false;

    platform::IniDocument file = platform::IniDocument::Load(files, backupFile);

    const std::vector<std::pair<const char*, const AtParameter*>> flags = {
        {"bSN", &params.sn},
        {"ESN", &params.esn},
        {"bIMEI", &params.imei},
        {"bIMEI_1", &params.imei1},
        {"bMEID", &params.meid},
        {"bBLUETOOTH", &params.bluetoothAddress},
        {"bSalesCount", &params.salesCount},
        {"bWifiCal", &params.wifiCal},
        {"bSalesInfo", &params.salesInfo},
        {"bTESTINF", &params.testInformation},
        {"bUIT87", &params.uit87},
        {"bUIT89", &params.uit89}};
    for (const auto& [key, parameter] : flags) file.Set(kFlags, key, Flag(*parameter));

    if (params.sn.read) file.Set(kData, "SN", link::StripLineBreaks(params.sn.value));
    if (!params.mode.empty()) file.Set(kData, "mode", params.mode);
    for (int k = 1; k <= kMaxApns; ++k) {
        const std::string& apn = params.apns[static_cast<size_t>(k - 1)];
        if (!apn.empty()) file.Set(kData, "APN" + std::to_string(k), apn);
    }
    for (const auto& [key, parameter] : MakerValues(params)) {
        if (parameter->read) file.Set(kData, key, link::StripLineBreaks(parameter->value));
    }
    // Kept as read: the file takes the text before the first line break.
    for (const auto& [key, parameter] : ProductValues(params, projectIndex)) {
        if (parameter->read) file.Set(kData, key, parameter->value);
    }

    // A backup that cannot be kept must not let the download go ahead: the
    // device's data would be lost with nothing to restore them from.
    if (!file.Save(files, backupFile)) {
        reporter.ReportError("Unable to write to " + backupFile.string());
        return false;
    }
    return true;
}

AtParameters LoadAtBackup(platform::Files& files, const AtParameters& params, int projectIndex,
                          const std::filesystem::path& backupFile) {
    const platform::IniDocument file = platform::IniDocument::Load(files, backupFile);
    AtParameters out = params;
    const auto take = [&](const char* key, AtParameter& parameter) {
        if (parameter.read) parameter.value = file.Get(kData, key).value_or("");
    };
    take("SN", out.sn);
    take("ESN", out.esn);
    take("IMEI", out.imei);
    take("IMEI_1", out.imei1);
    take("MEID", out.meid);
    take("UIT87", out.uit87);
    take("UIT89", out.uit89);
    take("BLUETOOTHADDR", out.bluetoothAddress);
    take("SalesCount", out.salesCount);
    take("WifiCal", out.wifiCal);
    take("SalesInfo", out.salesInfo);
    take("TESTINF", out.testInformation);
    if (HasCarrierValues(projectIndex)) {
        take("CLLEN", out.cllen);
        take("MVREQ", out.mvreq);
    }
    if (HasCarrierValues(projectIndex) || HasGmiOnly(projectIndex)) take("GMI", out.gmi);

    // The device takes these as quoted text; the file gave them without quotes.
    for (AtParameter* parameter : {&out.sn, &out.esn, &out.imei, &out.imei1, &out.meid, &out.bluetoothAddress,
                                   &out.salesCount, &out.wifiCal, &out.salesInfo, &out.testInformation, &out.gmi}) {
        parameter->value = Quoted(parameter->value);
    }
    return out;
}

}  // namespace firmora::preserve
