#include "preserve/at_parameters.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <optional>
#include <string>

#include "link/at_text.h"
#include "package/project_table.h"
#include "preserve/at_backup_file.h"

namespace firmora::preserve {
namespace {

constexpr const char* kPortClosed = "Serial handle is failed";
constexpr const char* kAllZeroImei = "000000000000000";
constexpr int kIdentityAttempts = 3;
constexpr int kProbeAttempts = 10;
constexpr uint32_t kProbePauseMs = 200;

bool OneOf(int value, std::initializer_list<int> set) {
    return std::find(set.begin(), set.end(), value) != set.end();
}

// CDMA products carry a MEID instead of an IMEI; XK81_21 carries neither.
bool IsMeidProject(int projectIndex) {
    using namespace package;
    return OneOf(projectIndex, {kProjectXL82_31, kProjectXL83_31, kProjectXM88_51, kProjectXM89_51,
                                kProjectZQ65_Custom, kProjectXM88_Custom});
}
bool ReadsImei(const package::DownloadOptions& o) {
    return o.PlatformType != 2 && o.ProjectIndex != package::kProjectXK81_21 && !IsMeidProject(o.ProjectIndex);
}
bool ReadsMeid(const package::DownloadOptions& o) { return o.PlatformType == 2 || IsMeidProject(o.ProjectIndex); }
bool ReadsEsnAnyway(int projectIndex) {
    return projectIndex == package::kProjectXK81_21 || projectIndex == package::kProjectXL82_31;
}
// Dual-SIM products keep a second IMEI.
bool ReadsSecondImei(int projectIndex) { return projectIndex == package::kProjectZP360; }
bool WritesNetworkLock(int projectIndex) { return projectIndex != package::kProjectXK81_21; }

void Status(AtSession& s, const std::string& text) { s.reporter.ReportStatus(text, core::kReportInfo); }

std::string TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
}

// A device answers "+TAG: value": the blank after the colon, line breaks
// and quotes are no part of the value a check looks at.
std::string Clean(const std::string& value) { return TrimBlanks(link::StripLineBreaksAndQuotes(value)); }

// One query into a parameter: the flag says whether the query succeeded.
bool Query(AtSession& s, const std::string& command, AtParameter& parameter) {
    parameter.read = s.at.AtQuery(command, parameter.value);
    return parameter.read;
}

// Up to three tries, stopping at the first answer.
bool QueryWithRetries(AtSession& s, const std::string& command, std::string& value) {
    for (int attempt = 0; attempt < kIdentityAttempts; ++attempt) {
        if (s.at.AtQuery(command, value)) return true;
    }
    return false;
}

void EraseFirst(std::string& text, std::string_view what) {
    const size_t at = text.find(what);
    if (at != std::string::npos) text.erase(at, what.size());
}

// The UIT results are read on their own; "+CUIT87?" and "+CUIT89?".
void ReadUit(AtSession& s, const std::string& command, const std::string& name, AtParameter& parameter) {
    std::string value;
    if (s.at.AtQuery(command, value)) {
        parameter.value = TrimBlanks(link::StripLineBreaks(value));
        parameter.read = true;
        Status(s, "Read " + name);
    } else {
        parameter.read = false;
        Status(s, name + " ERROR");
    }
}

void ReadProductValue(AtSession& s, const std::string& command, const std::string& name, AtParameter& parameter) {
    Status(s, Query(s, command, parameter) ? "Read " + name : "Not support command:" + name + "......");
}

// One restore write. When it fails and the restore must stop, `stopText`
// (when given) is reported as the run's failure.
struct Row {
    const char* prefix;
    std::string failText;
    std::string doneText;
    std::optional<std::string> stopText;  // nullopt: stop without a text of its own
};

bool Write(AtSession& s, const Row& row, const std::string& value,
           const link::AtWritePolicy& policy = link::AtWritePolicy::Normal()) {
    if (s.at.AtWriteValue(row.prefix, value, row.failText, policy)) {
        Status(s, row.doneText);
        return true;
    }
    if (row.stopText) s.reporter.ReportError(*row.stopText);
    return false;
}

bool WriteSlow(AtSession& s, const Row& row, const std::string& value) {
    if (s.at.AtWriteSlow(row.prefix, value, row.failText)) {
        Status(s, row.doneText);
        return true;
    }
    if (row.stopText) s.reporter.ReportError(*row.stopText);
    return false;
}

// A flagged value that was saved empty has nothing to give back: the
// restore says so and goes on without writing it.
constexpr const char* kEmptyQuoted = "\"\"";

// True (after failing the run) when the backup file lost the flagged value
// of `key`: nothing is written in its place, since an empty value would
// wipe what the device should get back.
bool Lost(AtSession& s, const AtBackupValues& saved, const std::string& key) {
    if (!saved.IsMissing(key)) return false;
    s.reporter.ReportError("at.bak holds no saved " + key + ", so it was not restored");
    return true;
}

bool WriteUnlessEmpty(AtSession& s, const AtBackupValues& saved, const AtParameter& p, const std::string& name,
                      const Row& row) {
    if (!p.read) return true;
    if (Lost(s, saved, name)) return false;
    if (p.value == kEmptyQuoted) {
        Status(s, name + " Empty.");
        return true;
    }
    return Write(s, row, p.value);
}

// Every value the restore would write, by its at.bak key.
std::vector<std::pair<std::string, const std::string*>> ValuesToWrite(const AtParameters& p,
                                                                      const package::DownloadOptions& o) {
    std::vector<std::pair<std::string, const std::string*>> values;
    const auto flagged = [&](const char* key, const AtParameter& parameter) {
        if (parameter.read) values.emplace_back(key, &parameter.value);
    };
    flagged("SN", p.sn);
    flagged("ESN", p.esn);
    flagged("IMEI", p.imei);
    flagged("IMEI_1", p.imei1);
    flagged("MEID", p.meid);
    flagged("BLUETOOTHADDR", p.bluetoothAddress);
    flagged("SalesCount", p.salesCount);
    flagged("WifiCal", p.wifiCal);
    flagged("SalesInfo", p.salesInfo);
    flagged("TESTINF", p.testInformation);
    for (int k = 1; k <= kMaxApns; ++k) {
        values.emplace_back("APN" + std::to_string(k), &p.apns[static_cast<size_t>(k - 1)]);
    }
    values.emplace_back("mode", &p.mode);
    flagged("UIT87", p.uit87);
    flagged("UIT89", p.uit89);
    if (o.bSimLockOn && o.SimLockMode == 1) values.emplace_back("SimLockValue", &o.SimLockValue);
    if (HasCarrierValues(o.ProjectIndex)) {
        flagged("CLLEN", p.cllen);
        flagged("MVREQ", p.mvreq);
    }
    if (HasCarrierValues(o.ProjectIndex) || HasGmiOnly(o.ProjectIndex)) flagged("GMI", p.gmi);
    return values;
}

// Why a value must not go onto the AT port, or nullopt when it may. A line
// break would end its command early and let the rest run as commands of
// their own; so would a semicolon outside a quoted string (it joins
// commands on one line), and a quote of the value's own can move the
// string's end to where such a semicolon stands.
std::optional<std::string> UnsafeToSend(std::string_view value) {
    const bool control = std::any_of(value.begin(), value.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
    if (control) return "a line break or another control character";
    bool quoted = false;
    for (const char c : value) {
        if (c == '"') quoted = !quoted;
        if (c == ';' && !quoted) return "a semicolon that would start another command";
    }
    if (quoted) return "a quote without its end";
    return std::nullopt;
}

// The first value the restore would write that must not reach the port:
// its at.bak key and why.
std::optional<std::pair<std::string, std::string>> UnsafeValue(const AtParameters& p,
                                                               const package::DownloadOptions& o) {
    for (const auto& [key, value] : ValuesToWrite(p, o)) {
        if (std::optional<std::string> why = UnsafeToSend(*value)) return std::make_pair(key, std::move(*why));
    }
    return std::nullopt;
}

}  // namespace

bool HasCarrierValues(int projectIndex) {
    return projectIndex == package::kProjectXB22_11 || projectIndex == package::kProjectXC31_21;
}
bool HasGmiOnly(int projectIndex) { return projectIndex == package::kProjectZP320; }

std::string AtParameters::CleanSn() const { return Clean(sn.value); }
std::string AtParameters::CleanImei() const { return Clean(imei.value); }
std::string AtParameters::CleanMeid() const { return Clean(meid.value); }

std::string CleanTestInformation(std::string_view value, bool keepUitResults) {
    std::string text = link::StripLineBreaks(value);
    for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (!keepUitResults) {
        // The UIT results travel as UIT87 and UIT89 of their own.
        for (const char* result : {",UIT89:PASS", ",UIT87:PASS", ",UIT89:FAIL", ",UIT87:FAIL", "UIT89:PASS",
                                   "UIT87:PASS", "UIT89:FAIL", "UIT87:FAIL"}) {
            EraseFirst(text, result);
        }
    }
    return text;
}

std::array<std::string, kMaxApns> ParseContexts(std::string_view block) {
    std::array<std::string, kMaxApns> apns;
    constexpr std::string_view kTag = "+CGDCONT: ";
    for (int k = 1; k <= kMaxApns; ++k) {
        const std::string head = std::string(kTag) + std::to_string(k) + ",";
        // Each context is looked up in the whole block: a device may list
        // them in any order. Only a line that begins with the tag names it
        // (a context's own text may hold another's tag), and the line ends at
        // the first line break after the tag, so it never takes in a neighbour.
        size_t at = block.find(head);
        while (at != std::string_view::npos && at != 0 && block[at - 1] != '\r' && block[at - 1] != '\n') {
            at = block.find(head, at + 1);
        }
        if (at == std::string_view::npos) continue;
        const size_t start = at + kTag.size();
        const size_t end = std::min(block.find("\r\n", start), block.size());
        apns[static_cast<size_t>(k - 1)] = std::string(block.substr(start, end - start));
    }
    return apns;
}

bool ReadIdentity(AtSession& s, AtParameters& p) {
    const package::DownloadOptions& o = s.options;
    p = AtParameters{};
    if (!s.port.IsOpen()) {
        s.reporter.ReportError(kPortClosed);
        return false;
    }

    if (!Query(s, "AT+MVTSN=0,5\r\n\r\n", p.sn)) {
        Status(s, "SN ERROR");
        return false;
    }
    Status(s, "Read SN");

    std::string mode;
    if (!s.at.AtQueryAfterEcho("at!autoins?\r\n\r\n", mode)) {
        Status(s, "mode ERROR");
        return false;
    }
    Status(s, "Read mode");
    p.mode = link::StripLineBreaks(mode);

    if (ReadsImei(o)) {
        if (!QueryWithRetries(s, "AT+MVTSN=0,7\r\n\r\n", p.imei.value)) {
            Status(s, "IMEI ERROR");
            return false;
        }
        Status(s, "Read IMEI");
        const std::string imei = Clean(p.imei.value);
        // A wiped device answers fifteen zeros: nothing worth saving.
        if (imei.empty() || imei == kAllZeroImei) return false;
        p.imei.read = true;
    }

    if (ReadsSecondImei(o.ProjectIndex)) {
        if (QueryWithRetries(s, "AT+MVTSN=0,6\r\n\r\n", p.imei1.value)) {
            Status(s, "Read IMEI_1");
            p.imei1.read = !Clean(p.imei1.value).empty();
        } else {
            Status(s, "IMEI_1 ERROR");
        }
    }

    if (ReadsEsnAnyway(o.ProjectIndex)) {
        Status(s, s.at.AtQuery("AT+MVTSN=0,8\r\n", p.esn.value) ? "Read ESN" : "ESN ERROR");
    }
    if (o.ESN) {
        const bool ok = s.at.AtQuery("AT+MVTSN=0,8\r\n", p.esn.value);
        Status(s, ok ? "Read ESN" : "ESN ERROR");
        p.esn.read = ok && !Clean(p.esn.value).empty();
    }

    if (ReadsMeid(o)) {
        if (Query(s, "AT+MVTSN=0,9\r\n", p.meid)) {
            Status(s, "Read MEID");
            p.meid.read = !Clean(p.meid.value).empty();
        } else {
            Status(s, "MEID ERROR");
        }
    }

    if (Query(s, "AT+MVTSN=0,10\r\n\r\n", p.bluetoothAddress)) {
        Status(s, "Read BlueTooth Addr");
        p.bluetoothAddress.read = !Clean(p.bluetoothAddress.value).empty();
    } else {
        Status(s, "BlueTooth ERROR");
    }
    Status(s, Query(s, "AT+WIFICAL?\r\n", p.wifiCal) ? "Read Wifi cal" : "Wifi cal ERROR");
    Status(s, Query(s, "AT+MVTSN=0,11\r\n\r\n", p.salesCount) ? "Read SalesCount/WIFIMAC"
                                                              : "SalesCount/WIFIMAC ERROR");
    Status(s, Query(s, "AT+MVTSN=0,12\r\n\r\n", p.salesInfo) ? "Read sales information" : "Null sales information");

    std::string testInformation;
    if (!s.at.AtQuery("AT+TESTINF2=?\r\n\r\n", testInformation)) {
        Status(s, "TESTINFO ERROR");
        return false;
    }
    p.testInformation.value = CleanTestInformation(testInformation, o.UIT_NewWays);
    p.testInformation.read = true;
    Status(s, "Read TESTINFO");

    std::string contexts;
    if (s.at.AtQueryContexts("AT+CGDCONT?\r\n\r\n", contexts)) {
        p.apns = ParseContexts(contexts);
        Status(s, "Read apn");
    }

    ReadUit(s, "AT+CUIT87?\r\n", "UIT87", p.uit87);
    ReadUit(s, "AT+CUIT89?\r\n", "UIT89", p.uit89);

    if (HasCarrierValues(o.ProjectIndex)) {
        ReadProductValue(s, "AT+CLLEN?\r\n\r\n", "CLLEN", p.cllen);
        ReadProductValue(s, "AT+MVREQ?\r\n\r\n", "MVREQ", p.mvreq);
    }
    if (HasCarrierValues(o.ProjectIndex) || HasGmiOnly(o.ProjectIndex)) {
        ReadProductValue(s, "AT+GMI\r\n\r\n", "GMI", p.gmi);
    }
    return true;
}

bool RestoreAtParameters(AtSession& s, const AtParameters& held, const std::filesystem::path& backupFile) {
    const package::DownloadOptions& o = s.options;
    const std::optional<AtBackupValues> saved = LoadAtBackup(s.files, held, o.ProjectIndex, backupFile);
    if (!saved) {
        s.reporter.ReportError("Could not read " + backupFile.string() + "; nothing was restored");
        return false;
    }
    const AtParameters& p = saved->params;
    if (const auto unsafe = UnsafeValue(p, o)) {
        s.reporter.ReportError("The saved " + unsafe->first + " holds " + unsafe->second + "; nothing was restored");
        return false;
    }
    if (!s.port.IsOpen()) {
        s.reporter.ReportError(kPortClosed);
        return false;
    }

    // The device may still be settling after its restart; the writes go
    // ahead even when it never answers here.
    for (int n = 0; n < kProbeAttempts; ++n) {
        Status(s, "Test Serial port (" + std::to_string(n) + ").");
        if (s.at.AtWriteValue("AT\r\n", std::nullopt, "", link::AtWritePolicy::Quiet())) {
            Status(s, "Serial port ready");
            break;
        }
        s.clock.Sleep(kProbePauseMs);
    }

    const Row snRow{"AT+MVTSN=1,5,", "Fail to write SN", "Restore SN", "Fail to Send Wirte SN Command!"};
    if (p.sn.read && (Lost(s, *saved, "SN") || !Write(s, snRow, p.sn.value))) {
        return false;
    }
    if (!WriteUnlessEmpty(s, *saved, p.esn, "ESN",
                          {"AT+MVTSN=1,8,", "Fail to write ESN", "Restore ESN", std::nullopt}) ||
        !WriteUnlessEmpty(s, *saved, p.imei, "IMEI",
                          {"AT+MVTSN=1,7,", "Fail to write IMEI", "Restore IMEI",
                           "Fail to Send Wirte IMEI Command!"}) ||
        !WriteUnlessEmpty(s, *saved, p.imei1, "IMEI_1",
                          {"AT+MVTSN=1,6,", "Fail to write IMEI_1", "Restore IMEI_1", std::nullopt}) ||
        !WriteUnlessEmpty(s, *saved, p.meid, "MEID",
                          {"AT+MVTSN=1,9,", "Fail to write MEID", "Restore MEID", std::nullopt}) ||
        !WriteUnlessEmpty(s, *saved, p.bluetoothAddress, "BLUETOOTHADDR",
                          {"AT+MVTSN=1,10,", "Fail to Write BlueTooth Addr", "Restore BlueTooth Addr", std::nullopt})) {
        return false;
    }
    // Devices without a sales counter refuse this write; the restore goes on.
    if (p.salesCount.read && !Lost(s, *saved, "SalesCount")) {
        if (s.at.AtWriteValue("AT+MVTSN=1,11,", p.salesCount.value, "", link::AtWritePolicy::Quiet())) {
            Status(s, "Restore SalesCount/WIFIMAC");
        } else {
            Status(s, "Not support write SalesCount/WIFIMAC.");
        }
    }
    if (p.wifiCal.read &&
        (Lost(s, *saved, "WifiCal") ||
         !Write(s, {"AT+WIFICAL=", "Fail to wifi cal", "Restore wifi cal", std::nullopt}, p.wifiCal.value))) {
        return false;
    }
    if (p.salesInfo.read && !Lost(s, *saved, "SalesInfo")) {
        Write(s, {"AT+MVTSN=1,12,", "Fail to Write sales information", "Restore sales information", std::nullopt},
              p.salesInfo.value);
    }
    const Row testRow{"AT+TESTINF2=", "Fail to write TESTINFO", "Restore TESTINFO",
                      "Fail to Send Wirte Testinf Command!"};
    if (p.testInformation.read && (Lost(s, *saved, "TESTINF") || !Write(s, testRow, p.testInformation.value))) {
        return false;
    }
    for (int k = 1; k <= kMaxApns; ++k) {
        const std::string& apn = p.apns[static_cast<size_t>(k - 1)];
        if (apn.empty()) continue;
        const std::string n = std::to_string(k);
        const Row row{"AT+CGDCONT=", "Fail to write APN" + n, "Restore APN" + n,
                      "Fail to Send Wirte APN" + n + " Command!"};
        if (!WriteSlow(s, row, apn)) {
            return false;
        }
    }
    const Row modeRow{"at!autoins=", "Fail to write mode", "Restore mode", "Fail to Send Wirte mode Command!"};
    if (!p.mode.empty() && !WriteSlow(s, modeRow, p.mode)) {
        return false;
    }
    if (p.uit87.read && (Lost(s, *saved, "UIT87") ||
                         !Write(s, {"AT+CUIT87=", "Fail to write UIT87", "Restore UIT87", {}}, p.uit87.value))) {
        return false;
    }
    if (p.uit89.read && (Lost(s, *saved, "UIT89") ||
                         !Write(s, {"AT+CUIT89=", "Fail to write UIT89", "Restore UIT89", {}}, p.uit89.value))) {
        return false;
    }

    // The network lock comes from the package, not from the device.
    if (WritesNetworkLock(o.ProjectIndex) && o.bSimLockOn && s.reporter.RunStatus() == core::kRunHealthy &&
        (o.SimLockMode == 0 || o.SimLockMode == 1)) {
        const std::string lock = o.SimLockMode == 1 ? o.SimLockValue : "0";
        if (s.at.AtWriteValue("AT+NWLSET=", lock, "Fail to write SIMLOCK to phone")) {
            Status(s, "Write SIMLOCK successfully");
        }
    }

    if (HasCarrierValues(o.ProjectIndex)) {
        if (p.cllen.read &&
            (Lost(s, *saved, "CLLEN") ||
             !Write(s, {"AT+CLLEN=", "Fail to write CLLEN", "Restore CLLEN", {}}, p.cllen.value,
                    link::AtWritePolicy::UnsupportedIsSuccess("Could not support command:CLLEN")))) {
            return false;
        }
        if (p.mvreq.read &&
            (Lost(s, *saved, "MVREQ") ||
             !Write(s, {"AT+MVREQ=", "Fail to write PLMN", "Restore PLMN", {}}, p.mvreq.value,
                    link::AtWritePolicy::UnsupportedIsSuccess("Could not support command:MVREQ")))) {
            return false;
        }
    }
    if ((HasCarrierValues(o.ProjectIndex) || HasGmiOnly(o.ProjectIndex)) && p.gmi.read &&
        (Lost(s, *saved, "GMI") ||
         !Write(s, {"AT+GMI=", "Fail to write GMI", "Restore GMI", std::nullopt}, p.gmi.value,
                link::AtWritePolicy::UnsupportedIsSuccess("Could not support command:GMI")))) {
        return false;
    }
    return true;
}

}  // namespace firmora::preserve
