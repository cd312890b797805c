#include "preserve/at_backup_file.h"

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "link/at_text.h"
#include "platform/files.h"
#include "platform/private_profile.h"

namespace firmora::preserve {
namespace {

constexpr const char* kFlags = "BACKUP";
constexpr const char* kData = "Data";

using Entry = std::pair<const char*, const AtParameter*>;

// The maker values in the order [Data] lists them after the contexts.
std::vector<Entry> MakerValues(const AtParameters& p) {
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
std::vector<Entry> ProductValues(const AtParameters& p, int projectIndex) {
    if (HasCarrierValues(projectIndex)) return {{"CLLEN", &p.cllen}, {"MVREQ", &p.mvreq}, {"GMI", &p.gmi}};
    if (HasGmiOnly(projectIndex)) return {{"GMI", &p.gmi}};
    return {};
}

// The [Data] lines a backup of `params` writes, in file order, as written.
std::vector<std::pair<std::string, std::string>> DataLines(const AtParameters& params, int projectIndex) {
    std::vector<std::pair<std::string, std::string>> lines;
    if (params.sn.read) lines.emplace_back("SN", link::StripLineBreaks(params.sn.value));
    if (!params.mode.empty()) lines.emplace_back("mode", params.mode);
    for (int k = 1; k <= kMaxApns; ++k) {
        const std::string& apn = params.apns[static_cast<size_t>(k - 1)];
        if (!apn.empty()) lines.emplace_back("APN" + std::to_string(k), apn);
    }
    for (const auto& [key, parameter] : MakerValues(params)) {
        if (parameter->read) lines.emplace_back(key, link::StripLineBreaks(parameter->value));
    }
    // Kept as read: the file takes the text before the first line break.
    for (const auto& [key, parameter] : ProductValues(params, projectIndex)) {
        if (parameter->read) lines.emplace_back(key, parameter->value);
    }
    return lines;
}

const char* Flag(const AtParameter& p) { return p.read ? "1" : "0"; }

std::string Quoted(const std::string& value) { return "\"" + value + "\""; }

std::optional<platform::IniDocument> ReadBackupFile(platform::Files& files, const std::filesystem::path& backupFile) {
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    const std::optional<std::string> text = files.ReadWhole(backupFile, platform::kIniFileMaxBytes, refusal);
    if (!text) return std::nullopt;
    return platform::IniDocument::Parse(*text);
}

}  // namespace

bool WriteAtBackup(platform::Files& files, const AtParameters& params, int projectIndex,
                   const std::filesystem::path& backupFile, core::Reporter& reporter) {
    if (reporter.RunStatus() != core::kRunHealthy) return false;

    platform::IniDocument file = platform::IniDocument::Load(files, backupFile);

    const std::vector<Entry> flags = {{"bSN", &params.sn},
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
    for (const auto& [key, value] : DataLines(params, projectIndex)) file.Set(kData, key, value);

    // A backup that cannot be kept must not let the download go ahead: the
    // device's data would be lost with nothing to restore them from.
    if (!file.Save(files, backupFile)) {
        reporter.ReportError("Unable to write to " + backupFile.string());
        return false;
    }
    return true;
}

bool AtBackupValues::IsMissing(std::string_view key) const {
    return std::find(missing.begin(), missing.end(), key) != missing.end();
}

std::optional<AtBackupValues> LoadAtBackup(platform::Files& files, const AtParameters& params, int projectIndex,
                                           const std::filesystem::path& backupFile) {
    const std::optional<platform::IniDocument> file = ReadBackupFile(files, backupFile);
    if (!file) return std::nullopt;
    AtBackupValues out{params, {}};
    AtParameters& p = out.params;
    const auto take = [&](const char* key, AtParameter& parameter) {
        if (!parameter.read) return;
        std::optional<std::string> saved = file->Get(kData, key);
        if (saved) {
            parameter.value = std::move(*saved);
        } else {
            parameter.value.clear();
            out.missing.emplace_back(key);
        }
    };
    take("SN", p.sn);
    take("ESN", p.esn);
    take("IMEI", p.imei);
    take("IMEI_1", p.imei1);
    take("MEID", p.meid);
    take("UIT87", p.uit87);
    take("UIT89", p.uit89);
    take("BLUETOOTHADDR", p.bluetoothAddress);
    take("SalesCount", p.salesCount);
    take("WifiCal", p.wifiCal);
    take("SalesInfo", p.salesInfo);
    take("TESTINF", p.testInformation);
    if (HasCarrierValues(projectIndex)) {
        take("CLLEN", p.cllen);
        take("MVREQ", p.mvreq);
    }
    if (HasCarrierValues(projectIndex) || HasGmiOnly(projectIndex)) take("GMI", p.gmi);

    // The device takes these as quoted text; the file gave them without quotes.
    for (AtParameter* parameter : {&p.sn, &p.esn, &p.imei, &p.imei1, &p.meid, &p.bluetoothAddress, &p.salesCount,
                                   &p.wifiCal, &p.salesInfo, &p.testInformation, &p.gmi}) {
        parameter->value = Quoted(parameter->value);
    }
    return out;
}

bool AtBackupMatches(platform::Files& files, const AtParameters& params, int projectIndex,
                     const std::filesystem::path& backupFile, std::string& difference) {
    const std::optional<platform::IniDocument> file = ReadBackupFile(files, backupFile);
    if (!file) {
        difference = backupFile.filename().string() + " cannot be read";
        return false;
    }
    for (const auto& [key, value] : DataLines(params, projectIndex)) {
        // Compared as a reader gets the line back (blanks trimmed, quotes removed).
        platform::IniDocument written;
        written.Set(kData, key, value);
        const std::optional<std::string> saved = file->Get(kData, key);
        if (!saved) {
            difference = backupFile.filename().string() + " holds no " + key;
            return false;
        }
        if (*saved != written.Get(kData, key)) {
            difference = backupFile.filename().string() + " holds another " + key;
            return false;
        }
    }
    return true;
}

}  // namespace firmora::preserve
