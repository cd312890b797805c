#include "cli/embedded_target.h"

#include "cli/command.h"
#include "package/options_json.h"
#include "platform/posix/zip_resource_bundle.h"

namespace firmora::cli {

std::unique_ptr<EmbeddedTarget> EmbeddedTarget::Open(const RunOptions& options, std::string& problem, int& exitCode) {
    exitCode = kExitFailure;
    std::string why;
    std::unique_ptr<platform::ResourceBundle> bundle = platform::OpenProgramBundle(why);
    if (!bundle) {
        problem = "this program carries no package (" + package::EscapeVisible(why) + ")";
        return nullptr;
    }
    std::unique_ptr<RunPlatform> target = RunPlatform::Open(options, problem, exitCode);
    if (!target) return nullptr;
    return std::unique_ptr<EmbeddedTarget>(new EmbeddedTarget(std::move(bundle), std::move(target)));
}

EmbeddedTarget::EmbeddedTarget(std::unique_ptr<platform::ResourceBundle> bundle, std::unique_ptr<RunPlatform> target)
    : bundle_(std::move(bundle)),
      target_(std::move(target)),
      machineLocks_(paths_.TempFolder()),
      processes_(target_->processes(), machineLocks_) {}

app::ApplicationServices EmbeddedTarget::Services(platform::Dialogs& dialogs, const preserve::ProductNvTables& tables,
                                                  core::LineLog& trace, platform::DeviceEnumerator* devices) {
    return app::ApplicationServices{target_->clock(), target_->serialPorts(),
                                    devices != nullptr ? *devices : target_->devices(),
                                    target_->usbBulk(), processes_, dialogs, target_->settings(), files_, paths_,
                                    *bundle_, tables, trace};
}

}  // namespace firmora::cli
