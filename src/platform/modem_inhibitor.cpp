#include "platform/modem_inhibitor.h"

namespace firmora::platform {
namespace {

class RecordedInhibition final : public ModemInhibition {
public:
    RecordedInhibition(std::vector<std::string>& calls, std::string uid) : calls_(calls), uid_(std::move(uid)) {}
    ~RecordedInhibition() override { calls_.push_back("release " + uid_); }
    RecordedInhibition(const RecordedInhibition&) = delete;
    RecordedInhibition& operator=(const RecordedInhibition&) = delete;

private:
    std::vector<std::string>& calls_;
    std::string uid_;
};

}  // namespace

InhibitResult RecordingModemManager::Inhibit(const std::string& deviceUid) {
    calls.push_back("inhibit " + deviceUid);
    InhibitResult result;
    if (!refusal.empty()) {
        result.outcome = InhibitResult::Outcome::Refused;
        result.failure = refusal;
        return result;
    }
    result.outcome = InhibitResult::Outcome::Inhibited;
    result.hold = std::make_unique<RecordedInhibition>(calls, deviceUid);
    return result;
}

}  // namespace firmora::platform
