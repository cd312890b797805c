#include "preserve/at_parameters.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <optional>
#include <string>

#include "link/at_text.h"
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

// CDMA products carry a MEID instead of an IMEI; project 35 carries neither.
bool ReadsImei(const package::DownloadOptions& o) {
    return o.PlatformType != 2 && !OneOf(o.ProjectIndex, {35, 36, 37, 38, 39, 41, 48});
}
bool ReadsMeid(const package::DownloadOptions& o) {
    return o.PlatformType == 2 || OneOf(o.ProjectIndex, {36, 37, 38, 39, 41, 48});
}
bool HasCarrierValues(int projectIndex) { return projectIndex == 8 || projectIndex == 10; }

void Status(AtSession& s, const std::string& text) { s.reporter.ReportStatus(text, core::kReportInfo); }

std::string Clean(const std::string& value) { return link::StripLineBreaksAndQuotes(value); }

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

std::string TrimBlanks(std::string_view text) {
    const size_t first = text.find_first_not_of(" \t");
    if (first == std::string_view::npos) return {};
    const size_t last = text.find_last_not_of(" \t");
    return std::string(text.substr(first, last - first + 1));
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

bool WriteUnlessEmpty(AtSession& s, const AtParameter& p, const std::string& name, const Row& row) {
    if (!p.read) return true;
    if (p.value == kEmptyQuoted) {
        Status(s, name + " Empty.");
        return true;
    }
    return Write(s, row, p.value);
}

}  // namespace

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
        const size_t at = block.find(head);
        if (at == std::string_view::npos) continue;
        // The line ends at the first line break after the tag, so a context
        // listed out of order never takes in the lines before it.
        const size_t start = at + kTag.size();
        const size_t end = std::min(block.find("\r\n", start), block.size());
        apns[static_cast<size_t>(k - 1)] = std::string(block.substr(start, end - start));
        block = block.substr(std::min(end + 2, block.size()));
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

    if (o.ProjectIndex == 47) {
        if (QueryWithRetries(s, "AT+MVTSN=0,6\r\n\r\n", p.imei1.value)) {
            Status(s, "Read IMEI_1");
            p.imei1.read = !Clean(p.imei1.value).empty();
        } else {
            Status(s, "IMEI_1 ERROR");
        }
    }

    if (o.ProjectIndex == 35 || o.ProjectIndex == 36) {
        Status(s, s.at.AtQuery("AT+MVTSN=0,8\r\n", p.esn.value) ? "Read ESN" : "ESN ERROR");
    }
    if (o.ESN) {
        const bool ok = s.at.AtQuery("AT+MVTSN=0,8\r\n", p.esn.value);
        Status(s, ok ? "Read ESN" : "ESN ERROR");
        p.esn.read = ok && !p.esn.value.empty();
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
    if (HasCarrierValues(o.ProjectIndex) || o.ProjectIndex == 18) {
        ReadProductValue(s, "AT+GMI\r\n\r\n", "GMI", p.gmi);
    }
    return true;
}

bool RestoreAtParameters(AtSession& s, const AtParameters& held, const std::filesystem::path& backupFile) {
    const package::DownloadOptions& o = s.options;
    const AtParameters p = LoadAtBackup(s.files, held, o.ProjectIndex, backupFile);
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
    if (p.sn.read && !Write(s, snRow, p.sn.value)) {
        return false;
    }
    if (!WriteUnlessEmpty(s, p.esn, "ESN", {"AT+MVTSN=1,8,", "Fail to write ESN", "Restore ESN", std::nullopt}) ||
        !WriteUnlessEmpty(s, p.imei, "IMEI",
                          {"AT+MVTSN=1,7,", "Fail to write IMEI", "Restore IMEI",
                           "Fail to Send Wirte IMEI Command!"}) ||
        !WriteUnlessEmpty(s, p.imei1, "IMEI_1",
                          {"AT+MVTSN=1,6,", "Fail to write IMEI_1", "Restore IMEI_1", std::nullopt}) ||
        !WriteUnlessEmpty(s, p.meid, "MEID", {"AT+MVTSN=1,9,", "Fail to write MEID", "Restore MEID", std::nullopt}) ||
        !WriteUnlessEmpty(s, p.bluetoothAddress, "BLUETOOTHADDR",
                          {"AT+MVTSN=1,10,", "Fail to Write BlueTooth Addr", "Restore BlueTooth Addr", std::nullopt})) {
        return false;
    }
    // Devices without a sales counter refuse this write; the restore goes on.
    if (p.salesCount.read) {
        if (s.at.AtWriteValue("AT+MVTSN=1,11,", p.salesCount.value, "", link::AtWritePolicy::Quiet())) {
            Status(s, "Restore SalesCount/WIFIMAC");
        } else {
            Status(s, "Not support write SalesCount/WIFIMAC.");
        }
    }
    if (p.wifiCal.read && !Write(s, {"AT+WIFICAL=", "Fail to wifi cal", "Restore wifi cal", std::nullopt},
                                 p.wifiCal.value)) {
        return false;
    }
    if (p.salesInfo.read) {
        Write(s, {"AT+MVTSN=1,12,", "Fail to Write sales information", "Restore sales information", std::nullopt},
              p.salesInfo.value);
    }
    const Row testRow{"AT+TESTINF2=", "Fail to write TESTINFO", "Restore TESTINFO",
                      "Fail to Send Wirte Testinf Command!"};
    if (p.testInformation.read && !Write(s, testRow, p.testInformation.value)) {
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
    if (p.uit87.read && !Write(s, {"AT+CUIT87=", "Fail to write UIT87", "Restore UIT87", {}}, p.uit87.value)) {
        return false;
    }
    if (p.uit89.read && !Write(s, {"AT+CUIT89=", "Fail to write UIT89", "Restore UIT89", {}}, p.uit89.value)) {
        return false;
    }

    // The network lock comes from the package, not from the device.
    if (o.ProjectIndex != 35 && o.bSimLockOn && s.reporter.RunStatus() == core::kRunHealthy &&
        (o.SimLockMode == 0 || o.SimLockMode == 1)) {
        const std::string lock = o.SimLockMode == 1 ? o.SimLockValue : "0";
        if (s.at.AtWriteValue("AT+NWLSET=", lock, "Fail to write SIMLOCK to phone")) {
            Status(s, "Write SIMLOCK successfully");
        }
    }

    if (HasCarrierValues(o.ProjectIndex)) {
        if (p.cllen.read && !Write(s, {"AT+CLLEN=", "Fail to write CLLEN", "Restore CLLEN", {}}, p.cllen.value,
                                   link::AtWritePolicy::UnsupportedIsSuccess("Could not support command:CLLEN"))) {
            return false;
        }
        if (p.mvreq.read && !Write(s, {"AT+MVREQ=", "Fail to write PLMN", "Restore PLMN", {}}, p.mvreq.value,
                                   link::AtWritePolicy::UnsupportedIsSuccess("Could not support command:MVREQ"))) {
            return false;
        }
    }
    if ((HasCarrierValues(o.ProjectIndex) || o.ProjectIndex == 18) && p.gmi.read &&
        !Write(s, {"AT+GMI=", "Fail to write GMI", "Restore GMI", std::nullopt}, p.gmi.value,
               link::AtWritePolicy::UnsupportedIsSuccess("Could not support command:GMI"))) {
        return false;
    }
    return true;
}

}  // namespace firmora::preserve
