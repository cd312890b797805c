#include "package/readiness_loop.h"

#include <algorithm>

#include "modeswitch/package_programs.h"
#include "platform/private_profile.h"

namespace firmora::package {

ReadinessLoop::ReadinessLoop(ReadinessServices services, ReadinessView& view) : services_(services), view_(view) {}

ReadinessLoop::~ReadinessLoop() { Stop(); }

void ReadinessLoop::UseSettings(ReadinessSettings settings) { settings_ = std::move(settings); }

void ReadinessLoop::Start(ReadinessSettings settings) {
    Stop();
    UseSettings(std::move(settings));
    services_.clock.Sleep(kRestartPauseMs);
    stopping_ = false;
    running_ = true;
    thread_ = std::thread([this] { Run(); });
}

void ReadinessLoop::RequestStop() {
    stopping_ = true;
    // Waits out a decision being shown, so that none follows this call.
    if (std::this_thread::get_id() != thread_.get_id()) std::lock_guard lock(showMutex_);
}

void ReadinessLoop::Stop() {
    RequestStop();
    if (thread_.joinable() && std::this_thread::get_id() != thread_.get_id()) thread_.join();
}

bool ReadinessLoop::Running() const { return running_ && !stopping_; }

void ReadinessLoop::Run() {
    while (CheckReadiness() == PassEnd::Continue && Pause(kPassPauseMs)) {
    }
    running_ = false;
}

bool ReadinessLoop::Pause(uint32_t ms) {
    while (ms > 0 && !stopping_) {
        const uint32_t slice = std::min(ms, kPauseSliceMs);
        services_.clock.Sleep(slice);
        ms -= slice;
    }
    return !stopping_;
}

bool ReadinessLoop::Show(const ReadinessDecision& decision) {
    std::lock_guard lock(showMutex_);
    if (stopping_) return false;
    view_.ShowReadiness(decision);
    return true;
}

void ReadinessLoop::WriteUninstallFlag(const std::string& value) {
    const std::filesystem::path config = settings_.imageFolder / "Config.ini";
    platform::IniDocument document = platform::IniDocument::Load(services_.files, config);
    document.Set("Uninstall", "UninstallUDisk", value);
    document.Save(services_.files, config);
}

bool ReadinessLoop::DriverInstalled() {
    services_.processes.StartHidden(settings_.imageFolder / modeswitch::kDrivletProgram);
    if (!Pause(kDriverPauseMs)) return false;
    const platform::IniDocument document =
        platform::IniDocument::Load(services_.files, settings_.imageFolder / "Config.ini");
    return document.GetInt("Uninstall", "UninstallUDisk", 0) == 1;
}

ReadinessLoop::PassEnd ReadinessLoop::CheckReadiness() {
    const auto stoppedOr = [this](PassEnd end) { return stopping_ ? PassEnd::Stopped : end; };
    if (stopping_) return PassEnd::Stopped;
    // A run owns the device: not even a probe may open one of its ports.
    if (view_.RunActive()) return PassEnd::Continue;

    link::PortDiscovery& discovery = services_.discovery;
    if (discovery.DiagSelector().empty() && discovery.AtSelector().empty()) {
        // A device that shows only its CD-ROM shows its modem ports after the
        // mode switch; a later pass finds them.
        modeswitch::RunSwivlet(services_.processes, settings_.workingFolder);
    }
    discovery.ScanPorts();
    if (stopping_) return PassEnd::Stopped;

    const DownloadOptions& options = settings_.options;
    const link::PortMap ports = discovery.Ports();
    if (ports.diag.empty() || ports.at.empty()) {
        if (UsesDriverInstaller(options.ProjectIndex)) WriteUninstallFlag("0");
        return Show(NoDeviceDecision(options)) ? PassEnd::Continue : PassEnd::Stopped;
    }
    services_.log.Log("Diag Port:" + ports.diag.front());
    services_.log.Log("AT Port:" + ports.at.front());

    DeviceFacts device;
    device.readings = services_.interrogation.Readings();
    device.diagPorts = ports.diag.size();
    device.d1Sent = discovery.D1Sent();
    if (auto refusal = DeviceRuleRefusal(options, settings_.second, device)) {
        return Show(Refusal(std::move(*refusal))) ? PassEnd::End : PassEnd::Stopped;
    }
    // These products need the driver installer's work done first; until
    // then nothing changes and the next pass tries again.
    if (UsesDriverInstaller(options.ProjectIndex) && !DriverInstalled()) return stoppedOr(PassEnd::Continue);

    const ReadinessDecision decision = FinalDecision(options, device);
    if (!Show(decision)) return PassEnd::Stopped;
    return decision.endsLoop ? PassEnd::End : PassEnd::Continue;
}

}  // namespace firmora::package
