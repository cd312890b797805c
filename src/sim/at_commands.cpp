#include "sim/at_commands.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

namespace firmora::sim {
namespace {

using Code = AtCommandResult::Code;

std::string Upper(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

bool EqualsNoCase(std::string_view a, std::string_view b) { return a.size() == b.size() && Upper(a) == Upper(b); }

bool StartsWithNoCase(std::string_view text, std::string_view head) {
    return text.size() >= head.size() && EqualsNoCase(text.substr(0, head.size()), head);
}

// One command line taken apart: "AT+MVTSN=0,5" is name "AT+MVTSN", set form,
// arguments "0,5"; "AT+CLLEN?" is the read form; "AT+MVTRESET" and "ATI" the
// action form.
struct AtLine {
    enum class Form { Action, Read, Set };
    std::string name;
    Form form = Form::Action;
    std::string_view args;
};

AtLine Parse(std::string_view line) {
    AtLine parsed;
    parsed.name = AtCommandName(line);
    std::string_view rest = line.substr(std::min(parsed.name.size(), line.size()));
    if (!rest.empty() && rest.front() == '=') {
        parsed.form = AtLine::Form::Set;
        parsed.args = rest.substr(1);
    } else if (rest == "?") {
        parsed.form = AtLine::Form::Read;
    } else if (!rest.empty()) {
        parsed.name.clear();  // trailing text after a name: not a command this device knows
    }
    return parsed;
}

// A quoted string argument is kept without its quotes, anything else as sent.
std::string Unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"') value = value.substr(1, value.size() - 2);
    return std::string(value);
}

std::optional<int> Number(std::string_view text) {
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < 0) return std::nullopt;
    return value;
}

AtCommandResult Ok(std::string text = {}) { return {Code::Ok, std::move(text), std::nullopt}; }
AtCommandResult Error() { return {Code::Error, {}, std::nullopt}; }
AtCommandResult OkThen(ModemRequest request) { return {Code::Ok, {}, request}; }

// Maker parameters answer "+TAG: value" with a blank after the colon, as
// real devices do: the host's "text after the first colon" is the stored
// value with that blank in front of it.
AtCommandResult Tagged(std::string_view tag, const std::string& value) { return Ok(std::string(tag) + ": " + value); }

// A parameter with a read form ("AT+X?") and a set form ("AT+X=value").
AtCommandResult ReadWrite(const AtLine& line, std::string& field, std::string_view tag) {
    switch (line.form) {
        case AtLine::Form::Read: return Tagged(tag, field);
        case AtLine::Form::Set: field = Unquote(line.args); return Ok();
        case AtLine::Form::Action: break;
    }
    return Error();
}

std::string* SerialField(int index, AtDeviceState& state) {
    switch (index) {
        case 5: return &state.sn;
        case 6: return &state.imei1;
        case 7: return &state.imei;
        case 8: return &state.esn;
        case 9: return &state.meid;
        case 10: return &state.bluetoothAddress;
        case 11: return &state.salesCount;
        case 12: return &state.salesInfo;
        default: return nullptr;
    }
}

// "AT+MVTSN=0,n" reads parameter n, "AT+MVTSN=1,n,value" writes it.
AtCommandResult Mvtsn(const AtLine& line, AtDeviceState& state) {
    if (line.form != AtLine::Form::Set) return Error();
    const size_t first = line.args.find(',');
    if (first == std::string_view::npos) return Error();
    const std::string_view op = line.args.substr(0, first);
    std::string_view rest = line.args.substr(first + 1);
    const size_t second = rest.find(',');
    const std::optional<int> index = Number(rest.substr(0, second));
    std::string* field = index ? SerialField(*index, state) : nullptr;
    if (!field) return Error();
    if (op == "0" && second == std::string_view::npos) return Tagged("+MVTSN", *field);
    if (op == "1" && second != std::string_view::npos) {
        *field = Unquote(rest.substr(second + 1));
        return Ok();
    }
    return Error();
}

AtCommandResult Ati(const AtLine& line, AtDeviceState& state) {
    if (line.form != AtLine::Form::Action) return Error();
    // The interrogation takes the revision from after "Revision: " up to the
    // "\r\nIMEI:" that must follow it.
    return Ok("Manufacturer: " + state.manufacturer + "\r\nModel: " + state.model + "\r\nRevision: " +
              state.revision + "\r\nIMEI: " + state.imei);
}

AtCommandResult ReadOnly(const AtLine& line, const std::string& value, std::string_view tag) {
    if (line.form == AtLine::Form::Set) return Error();
    return Tagged(tag, value);
}

AtCommandResult Cgmr(const AtLine& line, AtDeviceState& state) {
    if (line.form == AtLine::Form::Set) return Error();
    return Ok(state.firmwareVersion);
}

AtCommandResult Mvtinf(const AtLine& line, AtDeviceState& state) {
    if (line.form != AtLine::Form::Set || line.args != "0,2") return Error();
    return Tagged("+MVTINF", state.projectCode);
}

AtCommandResult Autoins(const AtLine& line, AtDeviceState& state) {
    switch (line.form) {
        case AtLine::Form::Read: return Ok(state.mode);  // bare: the host keeps all it gets after the echo
        case AtLine::Form::Set: state.mode = Unquote(line.args); return Ok();
        case AtLine::Form::Action: break;
    }
    return Error();
}

AtCommandResult Cgdcont(const AtLine& line, AtDeviceState& state) {
    if (line.form == AtLine::Form::Read) {
        std::string text;
        for (const auto& [cid, context] : state.contexts) {
            if (!text.empty()) text += "\r\n";
            text += "+CGDCONT: " + context;
        }
        return Ok(text);
    }
    if (line.form != AtLine::Form::Set) return Error();
    const size_t comma = line.args.find(',');
    const std::optional<int> cid = Number(line.args.substr(0, comma));
    if (!cid || *cid < 1 || *cid > kMaxPdpContexts) return Error();
    // A context number alone deletes the context.
    if (comma == std::string_view::npos) {
        state.contexts.erase(*cid);
    } else {
        state.contexts[*cid] = std::string(line.args);
    }
    return Ok();
}

AtCommandResult Testinf2(const AtLine& line, AtDeviceState& state) {
    if (line.form != AtLine::Form::Set) return Error();
    if (line.args == "?") return Tagged("+TESTINF2", state.testInformation);
    state.testInformation = Unquote(line.args);
    return Ok();
}

AtCommandResult Gmi(const AtLine& line, AtDeviceState& state) {
    if (line.form == AtLine::Form::Action) return Tagged("+GMI", state.gmi);
    return ReadWrite(line, state.gmi, "+GMI");
}

AtCommandResult Nwlset(const AtLine& line, AtDeviceState& state) {
    switch (line.form) {
        case AtLine::Form::Read: return Tagged("+NWLSET", state.networkLock.value_or(""));
        case AtLine::Form::Set: state.networkLock = Unquote(line.args); return Ok();
        case AtLine::Form::Action: break;
    }
    return Error();
}

AtCommandResult Cfun(const AtLine& line, AtDeviceState& state) {
    if (line.form == AtLine::Form::Read) return Ok("+CFUN: " + std::to_string(state.cfun));
    if (line.form != AtLine::Form::Set) return Error();
    const std::optional<int> value = Number(line.args);
    if (!value || *value > 7) return Error();
    state.cfun = *value;
    return Ok();
}

AtCommandResult Disk(const AtLine& line, AtDeviceState&) {
    if (line.form != AtLine::Form::Set) return Error();
    if (EqualsNoCase(line.args, "8,\"D1\"") || EqualsNoCase(line.args, "8,\"D2\"")) {
        return OkThen(ModemRequest::SwitchToModem);
    }
    return Error();
}

AtCommandResult Cdrom(const AtLine& line, AtDeviceState&) {
    if (line.form == AtLine::Form::Set && line.args == "1") return OkThen(ModemRequest::SwitchToCdrom);
    return Error();
}

AtCommandResult Mvtreset(const AtLine& line, AtDeviceState&) {
    if (line.form == AtLine::Form::Action) return OkThen(ModemRequest::Reset);
    return Error();
}

AtCommandResult Diag(const AtLine& line, AtDeviceState&) {
    if (line.form == AtLine::Form::Set && (line.args == "0" || line.args == "1")) return Ok();
    return Error();
}

AtCommandResult Syscmd(const AtLine& line, AtDeviceState&) {
    // The device reboots at once and says nothing.
    if (line.form == AtLine::Form::Set && EqualsNoCase(line.args, "sys_reboot bootloader")) {
        return {Code::NoReply, {}, ModemRequest::RebootToBootloader};
    }
    return Error();
}

AtCommandResult Attention(const AtLine& line, AtDeviceState&) {
    return line.form == AtLine::Form::Action ? Ok() : Error();
}

using Handler = AtCommandResult (*)(const AtLine&, AtDeviceState&);

struct Command {
    std::string_view name;
    Handler handler;
};

constexpr std::array kCommands = {
    Command{"AT", Attention},
    Command{"ATI", Ati},
    Command{"AT+MVTSW", [](const AtLine& l, AtDeviceState& s) { return ReadOnly(l, s.softwareVersion, "+MVTSW"); }},
    Command{"AT+MVTINF", Mvtinf},
    Command{"AT+PMU", [](const AtLine& l, AtDeviceState& s) { return ReadOnly(l, s.boardCode, "+PMU"); }},
    Command{"AT+CGMR", Cgmr},
    Command{"AT+GPIOPRJT",
            [](const AtLine& l, AtDeviceState& s) { return ReadOnly(l, s.gpioProjectCode, "+GPIOPRJT"); }},
    Command{"AT+MVTSN", Mvtsn},
    Command{"AT!AUTOINS", Autoins},
    Command{"AT+CGDCONT", Cgdcont},
    Command{"AT+TESTINF2", Testinf2},
    Command{"AT+CUIT87", [](const AtLine& l, AtDeviceState& s) { return ReadWrite(l, s.uit87, "+CUIT87"); }},
    Command{"AT+CUIT89", [](const AtLine& l, AtDeviceState& s) { return ReadWrite(l, s.uit89, "+CUIT89"); }},
    Command{"AT+WIFICAL", [](const AtLine& l, AtDeviceState& s) { return ReadWrite(l, s.wifiCal, "+WIFICAL"); }},
    Command{"AT+CLLEN", [](const AtLine& l, AtDeviceState& s) { return ReadWrite(l, s.cllen, "+CLLEN"); }},
    Command{"AT+MVREQ", [](const AtLine& l, AtDeviceState& s) { return ReadWrite(l, s.mvreq, "+MVREQ"); }},
    Command{"AT+GMI", Gmi},
    Command{"AT+NWLSET", Nwlset},
    Command{"AT+CFUN", Cfun},
    Command{"AT+DISK", Disk},
    Command{"AT+CDROM", Cdrom},
    Command{"AT+MVTRESET", Mvtreset},
    Command{"AT+DIAG", Diag},
    Command{"AT+SYSCMD", Syscmd},
};

bool IsExtendedPrefix(char c) { return c == '+' || c == '!' || c == '%' || c == '$' || c == '&'; }

}  // namespace

std::string AtCommandName(std::string_view line) {
    if (!StartsWithNoCase(line, "AT")) return Upper(line);
    if (line.size() > 2 && IsExtendedPrefix(line[2])) {
        return Upper(line.substr(0, line.find_first_of("=?", 3)));
    }
    // Basic commands: the letters after "AT" ("ATI"); the rest are arguments.
    size_t end = 2;
    while (end < line.size() && std::isalpha(static_cast<unsigned char>(line[end]))) ++end;
    return Upper(line.substr(0, end));
}

bool AtCommandMatches(std::string_view pattern, std::string_view line) {
    if (pattern.empty()) return false;
    if (EqualsNoCase(pattern, line) || EqualsNoCase(pattern, AtCommandName(line))) return true;
    const char last = pattern.back();
    return (last == '=' || last == ',') && StartsWithNoCase(line, pattern);
}

AtCommandResult RunAtCommand(std::string_view line, AtDeviceState& state) {
    const AtLine parsed = Parse(line);
    for (const Command& command : kCommands) {
        if (command.name == parsed.name) return command.handler(parsed, state);
    }
    return Error();
}

}  // namespace firmora::sim
