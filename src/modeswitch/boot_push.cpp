#include "modeswitch/boot_push.h"

#include <array>

#include "link/port_discovery.h"

namespace firmora::modeswitch {
namespace {

constexpr const char* kLoaderFile = "xload.bin";
constexpr const char* kPipeName = "PIPE01";
constexpr const char* kDriverKey = "SOFTWARE\\rgdriverinfo";
constexpr const char* kDriverValue = "DownloadSupport";
constexpr uint64_t kLoaderMaxBytes = 65535;
constexpr uint32_t kRetryPauseMs = 1000;

bool WriteAll(platform::DeviceFile& pipe, const uint8_t* data, size_t length, size_t& written) {
    written = 0;
    return pipe.Write(data, length, written) && written == length;
}

}  // namespace

BootPush::BootPush(platform::DeviceEnumerator& devices, platform::Clock& clock, platform::Files& files,
                   platform::SettingsStore& settings, core::LineLog& log)
    : devices_(devices), clock_(clock), files_(files), settings_(settings), log_(log) {}

BootPush::~BootPush() { Stop(); }

void BootPush::Start(const std::filesystem::path& workingFolder) {
    const std::filesystem::path loader = workingFolder / kLoaderFile;
    if (files_.KindOf(loader) != platform::FileKind::Regular) return;
    if (!settings_.WriteString(platform::SettingsScope::Machine, kDriverKey, kDriverValue, "NOK")) {
        log_.Log("Failed to create key. Do you run it in administrator's right?");
    }
    Stop();
    run_ = true;
    if (!settings_.WriteString(platform::SettingsScope::Machine, kDriverKey, kDriverValue, "OK")) {
        log_.Log("Failed to modify reg information.");
    }
    alive_ = true;
    thread_ = std::thread(&BootPush::Push, this, loader);
}

void BootPush::Stop() {
    run_ = false;
    if (thread_.joinable()) thread_.join();
}

bool BootPush::Running() const { return alive_; }

void BootPush::Push(std::filesystem::path loader) {
    log_.Log("ThreadFastbootFunc start");
    // A loader larger than the boot ROM takes is refused whole, never cut
    // short: a truncated first stage would only hang the device.
    platform::ReadRefusal refusal = platform::ReadRefusal::None;
    const std::optional<std::string> content = files_.ReadWhole(loader, kLoaderMaxBytes, refusal);
    if (!content) {
        log_.Log("Failed to read file " + loader.string() + " , please check whether it's in the exe dir.");
        alive_ = false;
        return;
    }
    const auto size = static_cast<uint32_t>(content->size());
    const std::array<uint8_t, 4> sizeBytes = {static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                                              static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    while (run_) {
        std::unique_ptr<platform::DeviceFile> pipe = link::OpenUsbBootPipe(devices_, log_, kPipeName);
        if (!pipe) {
            log_.Log("Failed to find device. try again");
            clock_.Sleep(kRetryPauseMs);
            continue;
        }
        if (!run_) {
            pipe->Close();
            log_.Log("_endthread();");
            break;
        }
        size_t written = 0;
        if (!WriteAll(*pipe, sizeBytes.data(), sizeBytes.size(), written)) {
            log_.Log("Failed to write file's size to board, try to continue....");
        } else {
            log_.Log("size " + std::to_string(size) + " nBytesWrite " + std::to_string(written));
            if (!WriteAll(*pipe, reinterpret_cast<const uint8_t*>(content->data()), content->size(), written)) {
                log_.Log("Failed to write file to board, try to continue....");
            } else {
                log_.Log("Successfully make download....");
            }
        }
        pipe->Close();
        clock_.Sleep(kRetryPauseMs);
    }
    alive_ = false;
}

}  // namespace firmora::modeswitch
