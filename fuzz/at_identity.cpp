// Who the device says it is, from its AT replies: the revision ("ATI"), the
// software version ("AT+MVTSW"), the firmware version ("AT+CGMR"), the board
// code ("AT+PMU"), the value after the echo (the mode), and the identity
// values as the backup keeps and names them (SN, IMEI, MEID, test information).
//
// Properties: every reading comes from the reply's own text, in order, from
// before its final result where it has one; it carries no line break (the
// revision only up to an IMEI line that follows it); the values the backup
// names its folder by carry no quote nor surrounding blank; the software
// version is the rest of the "+MVTSW:" line, else a line that is not the echo.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "link/at_text.h"
#include "package/device_interrogation.h"
#include "preserve/at_parameters.h"

namespace {

bool HasLineBreak(std::string_view text) { return text.find_first_of("\r\n") != std::string_view::npos; }
bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool Trimmed(std::string_view text) { return text.empty() || (!IsBlank(text.front()) && !IsBlank(text.back())); }

// `part` is `text` with some characters left out.
bool Subsequence(std::string_view part, std::string_view text) {
    size_t at = 0;
    for (char c : part) {
        at = text.find(c, at);
        if (at == std::string_view::npos) return false;
        ++at;
    }
    return true;
}

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

void CheckReadings(std::string_view reply, size_t okPos) {
    using namespace firmora::package;
    const std::string_view body = reply.substr(0, okPos);

    const std::string revision = RevisionOf(reply);
    const size_t label = reply.find("Revision:");
    if (label == std::string_view::npos) {
        FUZZ_CHECK(revision.empty());
    } else if (!revision.empty()) {
        FUZZ_CHECK(reply.substr(label + 10, revision.size()) == revision);
        FUZZ_CHECK(revision.find("\r\nIMEI:") == std::string::npos);
        const size_t imei = reply.find("\r\nIMEI:", label + 10);
        if (imei == std::string_view::npos) FUZZ_CHECK(!HasLineBreak(revision));
    }

    const std::string software = SoftwareVersionOf(reply, okPos);
    FUZZ_CHECK(!HasLineBreak(software) && Trimmed(software));
    FUZZ_CHECK(body.find(software) != std::string_view::npos);
    const size_t tag = body.find("+MVTSW:");
    if (tag != std::string_view::npos) {
        FUZZ_CHECK(body.find(software, tag + 7) != std::string_view::npos);
    } else if (!software.empty()) {
        FUZZ_CHECK(Upper(software).rfind("AT+MVTSW", 0) != 0);
    }

    const std::optional<std::string> firmware = FirmwareVersionOf(reply, okPos);
    const bool marked = body.find("VQA") != std::string_view::npos || body.find("VWA") != std::string_view::npos;
    FUZZ_CHECK(firmware.has_value() == marked);
    if (firmware) {
        FUZZ_CHECK(!HasLineBreak(*firmware) && Subsequence(*firmware, body));
        if (firmware->size() >= 3) FUZZ_CHECK(firmware->substr(0, 3) == "VQA" || firmware->substr(0, 3) == "VWA");
    }

    const std::string board = BoardCodeOf(reply, okPos);
    FUZZ_CHECK(!HasLineBreak(board) && std::none_of(board.begin(), board.end(), IsBlank));
    FUZZ_CHECK(Subsequence(board, body));

    const std::string mode = firmora::link::ValueAfterEcho(reply, okPos, "at!autoins?");
    FUZZ_CHECK(mode.size() <= body.size() && body.substr(body.size() - mode.size()) == mode);
}

void CheckIdentity(std::string_view value) {
    firmora::preserve::AtParameters params;
    params.sn.value = params.imei.value = params.meid.value = std::string(value);
    for (const std::string& clean : {params.CleanSn(), params.CleanImei(), params.CleanMeid()}) {
        FUZZ_CHECK(clean.find_first_of("\r\n\"") == std::string::npos && Trimmed(clean));
        FUZZ_CHECK(Subsequence(clean, value));
    }
    const std::string kept = firmora::preserve::CleanTestInformation(value, true);
    FUZZ_CHECK(kept == Upper(firmora::link::StripLineBreaks(value)));
    const std::string saved = firmora::preserve::CleanTestInformation(value, false);
    FUZZ_CHECK(!HasLineBreak(saved) && saved == Upper(saved) && Subsequence(saved, kept));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string reply;
    firmora::link::AppendReplyBytes(reply, data, size);
    const std::optional<size_t> ok = firmora::link::FindFinalOk(reply, firmora::link::ReplyWait::Over);
    CheckReadings(reply, ok.value_or(reply.size()));
    CheckIdentity(reply);
    return 0;
}
