#include "app/readiness_bridge.h"

#include <utility>

namespace firmora::app {

ReadinessBridge::ReadinessBridge(const package::ReadinessServices& services,
                                 package::DeviceInterrogation& interrogation)
    : interrogation_(interrogation), loop_(services, *this) {}

ReadinessBridge::~ReadinessBridge() { loop_.Stop(); }

void ReadinessBridge::Attach(TFlashSrcUiForm& form, std::function<void(const package::ReadinessDecision&)> shown) {
    form_ = &form;
    shown_ = std::move(shown);
}

void ReadinessBridge::UseSettings(package::ReadinessSettings settings) { settings_ = std::move(settings); }

void ReadinessBridge::Stop() {
    stoppedForRun_ = true;
    loop_.Stop();
}

void ReadinessBridge::Start() {
    stoppedForRun_ = false;
    loop_.Start(settings_);
}

bool ReadinessBridge::AtPortOpen() { return interrogation_.HoldsPort(); }

bool ReadinessBridge::CloseAtPort() { return interrogation_.ReleasePort(); }

void ReadinessBridge::ShowReadiness(const package::ReadinessDecision& decision) {
    if (form_ == nullptr) return;
    form_->queue().Post([this, decision] {
        form_->ShowReadiness(decision);
        if (shown_) shown_(decision);
    });
}

bool ReadinessBridge::RunActive() { return stoppedForRun_; }

}  // namespace firmora::app
