// The fastboot client's reading of the boot loader's replies: INFO lines,
// OKAY (or a bare "OK"), FAIL, DATA with the size it will take, and replies
// too long for the buffer.
//
// Properties: a command succeeds exactly when the first reply that is not
// INFO says so (OKAY; DATA announcing in hexadecimal the very size asked
// for), and the run is failed exactly when it does not.

#include <fuzzer/FuzzedDataProvider.h>

#include <charconv>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "core/reporter.h"
#include "download/adb_api.h"
#include "download/fastboot_client.h"
#include "fuzz_check.h"
#include "platform/virtual_clock.h"
#include "recording_reporter.h"
#include "scripted_bulk.h"

namespace {

using firmora::download::kReplyBytes;

// The reply a command is judged by: the first that is not INFO; nullopt when
// none is read (none left, or one too long for the buffer).
std::optional<std::string> Judged(const std::vector<std::string>& replies) {
    for (const std::string& reply : replies) {
        if (reply.size() > kReplyBytes) return std::nullopt;
        if (reply.size() >= 4 && reply.compare(0, 4, "INFO") == 0) continue;
        return reply;
    }
    return std::nullopt;
}

bool AnnouncesSize(const std::string& reply, uint32_t size) {
    if (reply.size() <= 4 || reply.compare(0, 4, "DATA") != 0) return false;
    for (size_t i = 4; i < reply.size(); ++i) {
        if (!std::isxdigit(static_cast<unsigned char>(reply[i]))) return false;
    }
    uint64_t announced = 0;
    const auto [end, error] = std::from_chars(reply.data() + 4, reply.data() + reply.size(), announced, 16);
    return error == std::errc() && end == reply.data() + reply.size() && announced == size;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace firmora;
    FuzzedDataProvider input(data, size);
    const bool handshake = input.ConsumeBool();
    const uint32_t byteCount = input.ConsumeIntegral<uint32_t>();
    std::vector<std::string> replies;
    while (input.remaining_bytes() > 0 && replies.size() < 64) {
        replies.push_back(input.ConsumeRandomLengthString(kReplyBytes + 8));
    }

    platform::VirtualClock clock;
    testing::ScriptedBulk bulk(clock);
    bulk.Replies(replies);
    testing::RecordingReporter reporter;
    download::AdbApi adb = download::AdbApi::Bind(bulk);
    download::FastbootClient client(adb, reporter, clock);
    FUZZ_CHECK(client.ConnectAdbInterface("fuzz") && client.InitAdbConnection());

    const std::optional<std::string> judged = Judged(replies);
    bool expected = false;
    bool done = false;
    if (handshake) {
        expected = judged && AnnouncesSize(*judged, byteCount);
        done = client.ImageHandshakeCmd(byteCount);
    } else {
        expected = judged && (judged->compare(0, 4, "OKAY") == 0 || *judged == "OK");
        done = client.ReceiveOkayReply();
    }
    FUZZ_CHECK(done == expected);
    FUZZ_CHECK((reporter.RunStatus() == core::kRunHealthy) == done);
    return 0;
}
