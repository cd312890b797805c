#include "sim/diag_device.h"

#include <algorithm>
#include <cctype>
#include <initializer_list>
#include <limits>
#include <stdexcept>
#include <string>

#include "link/crc16.h"

namespace firmora::sim {

const std::vector<uint32_t> kDefaultRfNvItems = {
    20309, 20310, 20790, 20794, 20795, 20825, 20826, 20837, 20838, 20840, 20883, 20884, 20364, 20365, 22982, 23112,
    23113, 23172, 23173, 24964, 24965, 24966, 24967, 24972, 24973, 24974, 24975, 24226, 24228, 24230, 24233, 24241,
    24242, 24244, 24252, 24255, 24256, 24257, 27779, 27781, 27786, 27794, 27795, 27797, 28329, 28331, 28333, 28334,
};

namespace {

using nlohmann::json;
using Bytes = std::vector<uint8_t>;

// ---- Scenario reading: every value checked, every complaint naming its key.

std::string KeyOf(const std::string& where, const std::string& name) {
    return where.empty() ? name : where + "." + name;
}

[[noreturn]] void Refuse(const std::string& key, const std::string& expected) {
    throw std::runtime_error("scenario: " + key + ": must be " + expected);
}

// A misspelt key would silently leave a fault out of a test: refuse it.
void KnownKeys(const json* object, const std::string& where, std::initializer_list<const char*> known) {
    if (!object || !object->is_object()) return;
    for (const auto& [key, value] : object->items()) {
        if (std::none_of(known.begin(), known.end(), [&key](const char* k) { return key == k; })) {
            throw std::runtime_error("scenario: " + KeyOf(where, key) + ": unknown key");
        }
    }
}

// The member `name` of `object` (an object, or null for "none"), or null.
const json* Member(const json* object, const std::string& name, const std::string& where) {
    if (!object || object->is_null()) return nullptr;
    if (!object->is_object()) {
        if (where.empty()) throw std::runtime_error("scenario: must be a JSON object");
        Refuse(where, "an object");
    }
    const auto it = object->find(name);
    return it == object->end() ? nullptr : &*it;
}

uint64_t Unsigned(const json& value, const std::string& key, uint64_t max) {
    const bool whole = value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0);
    if (!whole || value.get<uint64_t>() > max) Refuse(key, "a whole number from 0 to " + std::to_string(max));
    return value.get<uint64_t>();
}

// A number, or a text holding one ("124", "0x7C").
uint64_t Code(const json& value, const std::string& key, uint64_t max) {
    if (!value.is_string()) return Unsigned(value, key, max);
    const std::string text = value.get<std::string>();
    size_t used = 0;
    uint64_t number = 0;
    try {
        number = std::stoull(text, &used, 0);
    } catch (const std::exception&) {
        used = 0;
    }
    if (used == 0 || used != text.size() || number > max) {
        Refuse(key, "a number (or a text such as \"0x7C\") from 0 to " + std::to_string(max));
    }
    return number;
}

bool Boolean(const json& value, const std::string& key) {
    if (!value.is_boolean()) Refuse(key, "true or false");
    return value.get<bool>();
}

std::string Text(const json& value, const std::string& key) {
    if (!value.is_string()) Refuse(key, "a text");
    return value.get<std::string>();
}

const json& Array(const json& value, const std::string& key) {
    if (!value.is_array()) Refuse(key, "a list");
    return value;
}

const json& Object(const json& value, const std::string& key) {
    if (!value.is_object()) Refuse(key, "an object");
    return value;
}

// Hexadecimal bytes; blanks, commas and colons between them are ignored.
Bytes HexBytes(const json& value, const std::string& key) {
    const std::string text = Text(value, key);
    std::string digits;
    for (char c : text) {
        if (c == ' ' || c == ',' || c == ':') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) Refuse(key, "hexadecimal bytes such as \"01 A0 FF\"");
        digits += c;
    }
    if (digits.size() % 2 != 0) Refuse(key, "hexadecimal bytes such as \"01 A0 FF\"");
    Bytes bytes;
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return bytes;
}

uint16_t ItemNumber(const std::string& text, const std::string& key) {
    size_t used = 0;
    unsigned long number = 0;
    try {
        number = std::stoul(text, &used, 10);
    } catch (const std::exception&) {
        used = 0;
    }
    if (text.empty() || !std::isdigit(static_cast<unsigned char>(text[0])) || used != text.size() || number > 0xFFFF) {
        Refuse(key, "named by an NV item number from 0 to 65535");
    }
    return static_cast<uint16_t>(number);
}

NvData ItemData(const json& value, const std::string& key) {
    const Bytes bytes = HexBytes(value, key);
    if (bytes.size() > kNvItemBytes) Refuse(key, "at most 128 hexadecimal bytes");
    NvData data{};
    std::copy(bytes.begin(), bytes.end(), data.begin());
    return data;
}

NvStore ReadNv(const json* nv, const std::string& where, uint32_t defaultSeed) {
    KnownKeys(nv, where, {"seed", "generated", "inactive", "badParameter", "badTarget", "items"});
    const json* seed = Member(nv, "seed", where);
    NvStore store(seed ? static_cast<uint32_t>(Unsigned(*seed, KeyOf(where, "seed"), 0xFFFFFFFF)) : defaultSeed);
    if (const json* generated = Member(nv, "generated", where))
        store.SetGenerated(Boolean(*generated, KeyOf(where, "generated")));

    const std::pair<const char*, uint16_t> lists[] = {
        {"inactive", kNvInactive}, {"badParameter", kNvBadParameter}, {"badTarget", kNvBadTarget}};
    for (const auto& [name, status] : lists) {
        const std::string key = KeyOf(where, name);
        if (const json* list = Member(nv, name, where)) {
            for (const json& item : Array(*list, key))
                store.SetStatus(static_cast<uint16_t>(Unsigned(item, key, 0xFFFF)), status);
        }
    }

    if (const json* items = Member(nv, "items", where)) {
        const std::string itemsKey = KeyOf(where, "items");
        for (const auto& [number, value] : Object(*items, itemsKey).items()) {
            const std::string key = itemsKey + "." + number;
            const uint16_t item = ItemNumber(number, key);
            NvStore::Item entry;
            if (value.is_string()) {
                entry.data = ItemData(value, key);
            } else {
                KnownKeys(&Object(value, key), key, {"status", "data", "writeStatus"});
                if (const json* status = Member(&value, "status", key)) {
                    entry.status = static_cast<uint16_t>(Unsigned(*status, key + ".status", 0xFFFF));
                }
                if (const json* data = Member(&value, "data", key)) entry.data = ItemData(*data, key + ".data");
                if (const json* write = Member(&value, "writeStatus", key)) {
                    entry.writeStatus = static_cast<uint16_t>(Unsigned(*write, key + ".writeStatus", 0xFFFF));
                }
            }
            store.Set(item, entry);
        }
    }
    return store;
}

// A file's contents: a text, {"text"}, {"hex"} or {"size", "pattern"}.
// A file's content; `room` is what is left of the file system's capacity,
// checked before a file of a given size is made.
Bytes FileContent(const json& value, const std::string& key, const std::string& path, uint64_t room) {
    if (value.is_string()) {
        const std::string text = value.get<std::string>();
        return Bytes(text.begin(), text.end());
    }
    KnownKeys(&Object(value, key), key, {"text", "hex", "size", "pattern"});
    if (const json* text = Member(&value, "text", key)) {
        const std::string t = Text(*text, key + ".text");
        return Bytes(t.begin(), t.end());
    }
    if (const json* hex = Member(&value, "hex", key)) return HexBytes(*hex, key + ".hex");
    const json* size = Member(&value, "size", key);
    if (!size) Refuse(key, "a text, or an object with \"text\", \"hex\" or \"size\"");
    const uint64_t bytes = Unsigned(*size, key + ".size", EfsTree::kDefaultCapacityBytes);
    if (bytes > room) Refuse(key + ".size", "at most the " + std::to_string(room) + " bytes left of the capacity");
    Bytes content(static_cast<size_t>(bytes));
    if (const json* pattern = Member(&value, "pattern", key)) {
        const Bytes unit = HexBytes(*pattern, key + ".pattern");
        if (unit.empty()) Refuse(key + ".pattern", "at least one hexadecimal byte");
        for (size_t i = 0; i < content.size(); ++i) content[i] = unit[i % unit.size()];
    } else {
        // Bytes that differ from file to file and from offset to offset, so a
        // misplaced block shows.
        uint32_t x = 2166136261u;
        for (char c : path) x = (x ^ static_cast<uint8_t>(c)) * 16777619u;
        for (uint8_t& byte : content) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            byte = static_cast<uint8_t>(x);
        }
    }
    return content;
}

void AddRfNvFiles(EfsTree& tree, const std::vector<uint32_t>& items, uint32_t seed) {
    for (uint32_t item : items) tree.AddFile(RfNvFilePath(item), GeneratedRfNvFile(seed, item));
}

std::vector<uint32_t> RfNvItems(const json* efs, const std::string& where) {
    const json* list = Member(efs, "rfnvItems", where);
    if (!list) return kDefaultRfNvItems;
    const std::string key = KeyOf(where, "rfnvItems");
    std::vector<uint32_t> items;
    for (const json& item : Array(*list, key)) {
        const uint64_t number = Unsigned(item, key, 0xFFFF);
        if (number < kFirstRfNvItem) Refuse(key, "a list of RF NV item numbers from 20000 to 65535");
        items.push_back(static_cast<uint32_t>(number));
    }
    return items;
}

EfsTree EmptyTree(const json* efs, const std::string& where) {
    uint32_t epoch = EfsTree::kDefaultEpoch;
    uint64_t capacity = EfsTree::kDefaultCapacityBytes;
    if (const json* e = Member(efs, "epoch", where))
        epoch = static_cast<uint32_t>(Unsigned(*e, KeyOf(where, "epoch"), 0xFFFFFFFF));
    // Bounded so that a write far past a file's end cannot ask for gigabytes.
    if (const json* c = Member(efs, "capacity", where)) capacity = Unsigned(*c, KeyOf(where, "capacity"), 1ull << 30);
    return EfsTree(epoch, capacity);
}

EfsTree ReadEfs(const json* efs, const std::string& where, uint32_t seed) {
    KnownKeys(efs, where, {"epoch", "capacity", "rfnvItems", "folders", "files"});
    EfsTree tree = EmptyTree(efs, where);
    AddRfNvFiles(tree, RfNvItems(efs, where), seed);
    if (const json* folders = Member(efs, "folders", where)) {
        const std::string key = KeyOf(where, "folders");
        for (const json& folder : Array(*folders, key)) {
            const std::string path = Text(folder, key);
            if (!tree.AddFolder(path)) Refuse(key, "a list of folder paths (\"" + path + "\" is a file)");
        }
    }
    if (const json* files = Member(efs, "files", where)) {
        const std::string filesKey = KeyOf(where, "files");
        uint64_t used = tree.UsedBytes();
        for (const auto& [path, value] : Object(*files, filesKey).items()) {
            const std::string key = filesKey + "." + path;
            const uint64_t room = tree.capacity() > used ? tree.capacity() - used : 0;
            Bytes content = FileContent(value, key, path, room);
            if (content.size() > room) {
                Refuse(key, "content that fits the " + std::to_string(room) + " bytes left of the capacity");
            }
            used += content.size();
            if (!tree.AddFile(path, std::move(content))) Refuse(key, "a file path that is not a folder");
        }
    }
    return tree;
}

uint32_t DeviceSeed(const json& scenario) {
    const json* seed = Member(Member(&scenario, "nv", ""), "seed", "nv");
    return seed ? static_cast<uint32_t>(Unsigned(*seed, "nv.seed", 0xFFFFFFFF)) : DiagDeviceState::kDefaultSeed;
}

// The seed of a wiped device's generated data: unrelated to the device's own.
uint32_t FactorySeed(uint32_t seed) { return seed ^ 0xFAC75EEDu; }

int PlatformCode(const json& scenario) {
    const json* code = Member(Member(&scenario, "identity", ""), "platformCode", "identity");
    return code ? static_cast<int>(Unsigned(*code, "identity.platformCode", 255))
                : DiagDeviceState::kDefaultPlatformCode;
}

// ---- Replies.

constexpr uint8_t kPlatformQuery = 0x7C;
constexpr uint8_t kPowerOff = 0x11;
constexpr uint8_t kPowerOffReply = 0x12;
constexpr uint8_t kReset = 0x0B;
constexpr uint8_t kResetReply = 0x0C;
constexpr uint8_t kModeChange = 0x29;
constexpr uint16_t kModeReset = 0x02;
constexpr uint8_t kNvRead = 0x26;
constexpr uint8_t kNvWrite = 0x27;
constexpr uint8_t kSubsystemCommand = 0x4B;
constexpr uint8_t kSubsystemEfs2 = 0x13;

// The frame of `packet` with its CRC spoilt: what line noise leaves of a reply.
Bytes FrameWithBadCrc(const Bytes& packet, bool leadingFlag) {
    Bytes frame;
    if (leadingFlag) frame.push_back(link::kHdlcFlag);
    const uint16_t wrong = static_cast<uint16_t>(link::Crc16X25(packet) ^ 0x5A5A);
    Bytes body = packet;
    body.push_back(static_cast<uint8_t>(wrong & 0xFF));
    body.push_back(static_cast<uint8_t>(wrong >> 8));
    for (uint8_t byte : body) {
        const link::HdlcEscaped escaped = link::HdlcEscapeByte(byte);
        frame.insert(frame.end(), escaped.bytes, escaped.bytes + escaped.size);
    }
    frame.push_back(link::kHdlcFlag);
    return frame;
}

}  // namespace

DiagDeviceState DiagDeviceState::FromScenario(const json& scenario) {
    DiagDeviceState state;
    state.platformCode_ = PlatformCode(scenario);
    const uint32_t seed = DeviceSeed(scenario);
    state.nv_ = ReadNv(Member(&scenario, "nv", ""), "nv", seed);
    state.efs_ = ReadEfs(Member(&scenario, "efs", ""), "efs", seed);
    return state;
}

DiagDeviceState DiagDeviceState::FactoryFromScenario(const json& scenario) {
    DiagDeviceState state;
    state.platformCode_ = PlatformCode(scenario);
    const json* factory = Member(&scenario, "factory", "");
    const json* nv = Member(factory, "nv", "factory");
    const json* efs = Member(factory, "efs", "factory");
    const uint32_t deviceSeed = DeviceSeed(scenario);
    if (nv) {
        state.nv_ = ReadNv(nv, "factory.nv", FactorySeed(deviceSeed));
    } else {
        state.nv_ = ReadNv(Member(&scenario, "nv", ""), "nv", deviceSeed).Factory(FactorySeed(deviceSeed));
    }
    if (efs) {
        state.efs_ = ReadEfs(efs, "factory.efs", state.nv_.seed());
    } else {
        const json* deviceEfs = Member(&scenario, "efs", "");
        state.efs_ = EmptyTree(deviceEfs, "efs");
        AddRfNvFiles(state.efs_, RfNvItems(deviceEfs, "efs"), state.nv_.seed());
    }
    return state;
}

DiagResponderSettings DiagResponderSettings::FromScenario(const json& scenario) {
    DiagResponderSettings settings;
    const json* diag = Member(&scenario, "diag", "");
    KnownKeys(diag, "diag",
              {"latencyMs", "transitionDelayMs", "noAnswer", "noAnswerEfs", "corruptCrcReplies", "efsFaults"});
    if (const json* v = Member(diag, "latencyMs", "diag")) settings.latencyMs = Unsigned(*v, "diag.latencyMs", 600000);
    if (const json* v = Member(diag, "transitionDelayMs", "diag")) {
        settings.transitionDelayMs = Unsigned(*v, "diag.transitionDelayMs", 600000);
    }
    if (const json* list = Member(diag, "noAnswer", "diag")) {
        for (const json& code : Array(*list, "diag.noAnswer")) {
            settings.silentCommands.insert(static_cast<uint8_t>(Code(code, "diag.noAnswer", 0xFF)));
        }
    }
    if (const json* list = Member(diag, "noAnswerEfs", "diag")) {
        for (const json& code : Array(*list, "diag.noAnswerEfs")) {
            const std::optional<EfsOp> op = code.is_string() ? EfsOpByName(code.get<std::string>()) : std::nullopt;
            settings.silentEfsCommands.insert(op ? static_cast<uint16_t>(*op)
                                                 : static_cast<uint16_t>(Code(code, "diag.noAnswerEfs", 0xFFFF)));
        }
    }
    if (const json* list = Member(diag, "corruptCrcReplies", "diag")) {
        for (const json& n : Array(*list, "diag.corruptCrcReplies")) {
            const uint64_t reply = Unsigned(n, "diag.corruptCrcReplies", std::numeric_limits<uint32_t>::max());
            if (reply == 0) Refuse("diag.corruptCrcReplies", "a list of reply numbers counting from 1");
            settings.corruptCrcReplies.insert(reply);
        }
    }
    if (const json* list = Member(diag, "efsFaults", "diag")) {
        const std::string key = "diag.efsFaults";
        for (const json& entry : Array(*list, key)) {
            KnownKeys(&Object(entry, key), key, {"op", "errno", "path", "afterBytes", "times"});
            const json* opName = Member(&entry, "op", key);
            const std::optional<EfsOp> op = opName ? EfsOpByName(Text(*opName, key + ".op")) : std::nullopt;
            if (!op)
                Refuse(
                    key + ".op",
                    "one of open, close, read, write, unlink, mkdir, rmdir, opendir, readdir, closedir, stat, probe");
            const json* err = Member(&entry, "errno", key);
            if (!err) Refuse(key + ".errno", "given");
            EfsFault fault{*op, static_cast<int32_t>(Unsigned(*err, key + ".errno", 0x7FFFFFFF)), {}, {}, {}};
            if (const json* path = Member(&entry, "path", key)) fault.path = Text(*path, key + ".path");
            if (const json* after = Member(&entry, "afterBytes", key)) {
                if (*op != EfsOp::Read && *op != EfsOp::Write)
                    Refuse(key + ".afterBytes", "left out except for read and write");
                fault.afterBytes = Unsigned(*after, key + ".afterBytes", std::numeric_limits<uint32_t>::max());
            }
            if (const json* times = Member(&entry, "times", key)) {
                fault.times =
                    static_cast<uint32_t>(Unsigned(*times, key + ".times", std::numeric_limits<uint32_t>::max()));
            }
            settings.efsFaults.push_back(std::move(fault));
        }
    }
    return settings;
}

DiagResponder::DiagResponder(DiagDeviceState& state, const json& scenario)
    : DiagResponder(state, DiagResponderSettings::FromScenario(scenario)) {}

DiagResponder::DiagResponder(DiagDeviceState& state, DiagResponderSettings settings)
    : state_(state), settings_(std::move(settings)), efs_(state.efs(), settings_.efsFaults) {}

void DiagResponder::OnHostBytes(const uint8_t* data, size_t length, DeviceSide& device) {
    for (size_t i = 0; i < length; ++i) {
        // A frame with a bad CRC (or too short, or too long) is dropped unanswered.
        if (deframer_.Feed(data[i]) != link::HdlcDeframer::Status::Complete) continue;
        const std::span<const uint8_t> packet = deframer_.Packet();
        Handle(Bytes(packet.begin(), packet.end()), device);
    }
}

void DiagResponder::OnDisconnect() {
    deframer_.Reset();
    state_.efs().CloseAll();
}

bool DiagResponder::Silent(const Bytes& request) const {
    if (settings_.silentCommands.count(request[0])) return true;
    if (request.size() >= 4 && request[0] == kSubsystemCommand && request[1] == kSubsystemEfs2) {
        return settings_.silentEfsCommands.count(static_cast<uint16_t>(request[2] | request[3] << 8)) > 0;
    }
    return false;
}

void DiagResponder::Handle(const Bytes& request, DeviceSide& device) {
    if (observer_) observer_(request);
    if (Silent(request)) return;
    switch (request[0]) {
        case kPlatformQuery: Answer(PlatformReply(), device); return;
        case kPowerOff: AnswerThenRequest(kPowerOffReply, ModemRequest::PowerOff, device); return;
        case kReset: AnswerThenRequest(kResetReply, ModemRequest::Reset, device); return;
        case kModeChange: Answer(ModeChange(request, device), device); return;
        case kNvRead:
        case kNvWrite: Answer(NvReply(request), device); return;
        case kSubsystemCommand:
            if (request.size() >= 2 && request[1] == kSubsystemEfs2) {
                Answer(efs_.Handle(request, device.NowMs()), device);
                return;
            }
            break;
        default: break;
    }
    Answer(DiagRefusal(kDiagBadCommand, request), device);
}

void DiagResponder::Answer(const Bytes& packet, DeviceSide& device, bool leadingFlag) {
    ++repliesSent_;
    const Bytes frame = settings_.corruptCrcReplies.count(repliesSent_) ? FrameWithBadCrc(packet, leadingFlag)
                                                                        : link::EncodeHdlcFrame(packet, leadingFlag);
    device.Send(frame, settings_.latencyMs);
}

void DiagResponder::AnswerThenRequest(uint8_t reply, ModemRequest request, DeviceSide& device) {
    // The acknowledgements of power-off and reset are read by the tool's
    // response readers, which want a flag in front of the frame.
    Answer(Bytes{reply}, device, true);
    device.Request(request, settings_.latencyMs + settings_.transitionDelayMs);
}

Bytes DiagResponder::PlatformReply() const {
    // 7C 02, two reserved bytes, the hardware version, then the model word
    // whose low byte is the chip code, and two empty build texts.
    return {kPlatformQuery, 0x02, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00, static_cast<uint8_t>(state_.platformCode()),
            0x00,           0x00, 0x00, 0x00, 0x00};
}

Bytes DiagResponder::ModeChange(const Bytes& request, DeviceSide& device) {
    if (request.size() < 3) return DiagRefusal(kDiagBadLength, request);
    const auto mode = static_cast<uint16_t>(request[1] | request[2] << 8);
    if (mode == kModeReset) device.Request(ModemRequest::Reset, settings_.latencyMs + settings_.transitionDelayMs);
    return {kModeChange, request[1], request[2]};
}

Bytes DiagResponder::NvReply(const Bytes& request) {
    // Command, item number (2), 128 data bytes, status (2): the read request
    // carries placeholder data, the write request the item's new contents.
    constexpr size_t kDataOffset = 3;
    const bool write = request[0] == kNvWrite;
    if (request.size() < (write ? kDataOffset + kNvItemBytes : kDataOffset))
        return DiagRefusal(kDiagBadLength, request);
    const auto item = static_cast<uint16_t>(request[1] | request[2] << 8);
    Bytes reply(request.begin(), request.begin() + kDataOffset);
    uint16_t status = kNvDone;
    if (write) {
        const std::span<const uint8_t, kNvItemBytes> data(request.data() + kDataOffset, kNvItemBytes);
        status = state_.nv().Write(item, data);
        reply.insert(reply.end(), data.begin(), data.end());
    } else {
        const NvStore::ReadResult read = state_.nv().Read(item);
        status = read.status;
        reply.insert(reply.end(), read.data.begin(), read.data.end());
    }
    reply.push_back(static_cast<uint8_t>(status & 0xFF));
    reply.push_back(static_cast<uint8_t>(status >> 8));
    return reply;
}

}  // namespace firmora::sim
