#include "support/firmora_flash.h"

#include <cstdio>

#include "download/adb_api.h"
#include "download/fastboot_client.h"
#include "engine/run_reporter.h"
#include "engine/run_view.h"
#include "platform/posix/routing_usb_bulk.h"
#include "platform/posix/system_clock.h"

namespace firmora::bench {
namespace {

// Lines to stderr; the gauge is computed by the reporter as in a run, and
// dropped here.
class StderrView final : public engine::RunView {
public:
    void StatusCallback(int, const std::string& text, int kind) override {
        if (kind != core::kReportTrace) std::fprintf(stderr, "%s\n", text.c_str());
    }
    void ErrorCallback(int, const std::string& text) override { std::fprintf(stderr, "%s\n", text.c_str()); }
    void SetGaugeMax(int, int) override {}
    void SetGaugePosition(int, int) override {}
};

}  // namespace

int FirmoraFlashImage(const std::string& devicePath, const std::string& imagePath, uint32_t byteCount,
                      const std::string& partition) {
    StderrView view;
    engine::RunReporter reporter(view, 0);
    reporter.BeginRun(byteCount);
    platform::SystemClock clock;
    platform::RoutingUsbBulk bulk;
    download::AdbApi adb = download::AdbApi::Bind(bulk);
    download::FastbootClient client(adb, reporter, clock);
    if (!client.ConnectAdbInterface(devicePath)) {
        reporter.ReportError("Connect adb infterface failed.");
        return reporter.RunStatus();
    }
    if (client.InitAdbConnection()) {
        client.FlashImage(imagePath, byteCount, [&] { return client.WriteFinishedCmd(partition); });
        client.CloseAdbConnection();
    }
    return reporter.RunStatus();
}

}  // namespace firmora::bench
