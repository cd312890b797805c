#pragma once
// The Processes seam under simulation. The package's programs act on the
// virtual modems instead of running:
// - the mode-switch program "Swivlet.exe" switches every modem that shows
//   only its CD-ROM to its modem ports, after the scenario's delay;
// - the reset program "Rebootle.exe" resets the first modem with serial
//   ports and writes its result code into [Project] ExecuteRebootle of the
//   Config.ini beside it ("100", or "-1" with no modem, unless the scenario
//   gives a code);
// - the driver installer "Drivlet.exe" writes [Uninstall] UninstallUDisk=1
//   into the Config.ini beside it.
// A program is listed while it runs and can be ended before it acts. Any
// other existing program starts and ends at once. Named locks live in memory.

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/processes.h"
#include "sim/sim_bus.h"

namespace firmora::sim {

class SimProcesses final : public platform::Processes {
public:
    explicit SimProcesses(SimBus& bus);

    // False with LastError ENOENT when the program file does not exist.
    bool StartHidden(const std::filesystem::path& program) override;
    // The programs it started name the tool as their parent.
    std::vector<platform::ProcessInfo> List() override;
    uint32_t OwnId() override { return kToolId; }
    // False with LastError ESRCH for a process that is not running.
    bool Terminate(uint32_t processId) override;
    std::unique_ptr<platform::NamedLock> CreateNamedLock(const std::string& name, bool& alreadyExisted) override;

    // Every program started, by file name, in order.
    const std::vector<std::string>& Started() const { return started_; }

    // The tool's own process under simulation.
    static constexpr uint32_t kToolId = 4000;

private:
    struct Running {
        platform::ProcessInfo info;
        std::shared_ptr<bool> cancelled;
    };
    struct Locks {
        std::mutex mutex;
        std::map<std::string, int> holders;
    };

    // Runs `effect` `delayMs` from now unless the process is ended first; the process ends then.
    void RunFor(uint32_t id, uint64_t delayMs, std::function<void()> effect);
    void Reset(const std::filesystem::path& configFile);
    const UsbProfile* FirstProfile();

    SimBus& bus_;
    uint32_t nextId_ = 4100;
    std::vector<Running> running_;
    std::vector<std::string> started_;
    std::shared_ptr<Locks> locks_ = std::make_shared<Locks>();
};

}  // namespace firmora::sim
