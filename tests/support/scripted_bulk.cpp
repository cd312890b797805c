#include "scripted_bulk.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/last_error.h"

namespace firmora::testing {
namespace {

bool Fail(uint32_t code) {
    platform::SetLastError(code);
    return false;
}

bool IsCommand(const std::string& bytes) {
    for (const char* prefix : {"getvar:", "download:", "flash:", "erase:", "mutilflash:", "reboot"}) {
        if (bytes.rfind(prefix, 0) == 0 && bytes.size() <= 64) return true;
    }
    return false;
}

}  // namespace

class ScriptedBulk::Transport final : public platform::BulkTransport {
public:
    Transport(ScriptedBulk& script, std::string path) : script_(script), path_(std::move(path)) {}

    bool Describe(platform::BulkInterfaceInfo& info) override {
        if (closed_) return Fail(EBADF);
        info = platform::BulkInterfaceInfo{};
        info.name = path_;
        return true;
    }
    bool Write(const uint8_t* data, uint32_t length, uint32_t& transferred, uint32_t) override {
        transferred = 0;
        if (closed_) return Fail(EBADF);
        const std::string head(reinterpret_cast<const char*>(data), std::min<uint32_t>(length, 65));
        if (IsCommand(head)) {
            script_.commands_.push_back(head);
        } else {
            script_.dataBytes_ += length;
        }
        transferred = length;
        return true;
    }
    bool Read(uint8_t* buffer, uint32_t length, uint32_t& transferred, uint32_t timeoutMs) override {
        transferred = 0;
        if (closed_) return Fail(EBADF);
        if (script_.replies_.empty()) {
            script_.clock_.Sleep(timeoutMs);
            return Fail(ETIMEDOUT);
        }
        const std::string message = std::move(script_.replies_.front());
        script_.replies_.pop_front();
        if (message.size() > length) return Fail(EOVERFLOW);
        std::memcpy(buffer, message.data(), message.size());
        transferred = static_cast<uint32_t>(message.size());
        return true;
    }
    bool Close() override {
        if (closed_) return Fail(EBADF);
        closed_ = true;
        return true;
    }

private:
    ScriptedBulk& script_;
    std::string path_;
    bool closed_ = false;
};

ScriptedBulk& ScriptedBulk::Reply(const std::string& message) {
    replies_.push_back(message);
    return *this;
}

ScriptedBulk& ScriptedBulk::Replies(const std::vector<std::string>& messages) {
    for (const std::string& message : messages) Reply(message);
    return *this;
}

std::unique_ptr<platform::BulkTransport> ScriptedBulk::Open(const std::string& devicePath) {
    return std::make_unique<Transport>(*this, devicePath);
}

}  // namespace firmora::testing
