#pragma once
// SimRunner: one virtual modem in real time. It owns the modem, the lock
// that serialises every call into it, the real-time scheduler, a
// pseudo-terminal per serial port present and the fastboot TCP server, and
// follows the modem on and off the bus: ports that leave are hung up, ports
// that arrive get fresh pseudo-terminals.
//
// Everything it has to say goes to `out` as one line per fact, from the
// thread that calls Run:
//   port diag COM5 /dev/pts/7         a serial port is ready to be opened
//   fastboot tcp:127.0.0.1:5554       the boot loader is being served
//   removal normal / arrival bootloader
//   flash boot size 4096 xxh3 <16 hex digits>, erase modem size 0 xxh3 ...
//   ready                             the start-up lines are complete
//
// With a link folder, DIR/diag, DIR/app and DIR/at follow the ports present
// (see LinkKeeper); each link is in place before its port's line is printed.

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <set>
#include <string>
#include <vector>

#include "firmora-sim/link_keeper.h"
#include "firmora-sim/pty_bridge.h"
#include "firmora-sim/realtime_scheduler.h"
#include "sim/partition_store.h"
#include "sim/virtual_modem.h"

namespace firmora::simtool {

class FastbootTcpServer;

struct RunnerOptions {
    uint16_t fastbootPort = 5554;  // 0: any free port
    std::string reportPath;        // empty: no report file
    double timeScale = 1.0;
    std::string linkDir;           // empty: no links to the ports
};

class SimRunner {
public:
    // Throws LinkDirError when the link folder cannot be used.
    SimRunner(const sim::Scenario& scenario, RunnerOptions options, std::ostream& out);
    ~SimRunner();
    SimRunner(const SimRunner&) = delete;
    SimRunner& operator=(const SimRunner&) = delete;

    // Starts the device's time, the fastboot server and the ports present,
    // and prints their lines and "ready". Throws std::runtime_error (or
    // std::system_error) when a transport cannot be set up.
    void Start();
    // Prints what happens until `stopFd` becomes readable (a signal arrived).
    void Run(int stopFd);
    // Stops the server, the bridges and the scheduler, joins every thread
    // and writes the last report. Idempotent.
    void Stop();

    // The TCP port the boot loader is served on (after Start).
    uint16_t fastbootPort() const { return fastbootPort_; }

    // The report document: personality, identity, PDP contexts, the NV
    // items the host has read or written over DIAG, the RF NV files and
    // the partitions. Under the modem lock.
    nlohmann::json Report();

private:
    struct Slot {
        std::unique_ptr<PtyBridge> bridge;
        uint64_t generation = 0;
    };

    // Under the modem lock.
    void OnBusEvent(const sim::BusEvent& event);
    void OpenPort(const sim::PortInfo& port);
    void RetirePort(sim::PortRole role);
    void LookForChanges();
    // Adds the NV items named by DIAG requests logged since the last call.
    void NoteNvRequests();
    void Emit(std::string line);

    // Without the modem lock: prints queued lines, joins retired bridges,
    // writes the report when it changed.
    void Flush();
    void Notify();

    RunnerOptions options_;
    std::ostream& out_;

    std::mutex modemLock_;
    RealtimeScheduler scheduler_;
    sim::VirtualModem modem_;
    std::unique_ptr<FastbootTcpServer> server_;
    uint16_t fastbootPort_ = 0;

    // Guarded by modemLock_.
    std::map<sim::PortRole, Slot> ports_;
    std::unique_ptr<LinkKeeper> links_;  // null without a link folder
    uint64_t nextGeneration_ = 1;
    std::map<std::string, sim::Partition> seenPartitions_;
    size_t commandsSeen_ = 0;      // entries of the modem's command log looked at
    std::set<uint16_t> nvItems_;   // NV items the host asked for over DIAG
    std::string reportText_;
    bool stopping_ = false;

    // Handed from the modem's side to the thread that prints.
    std::mutex eventLock_;
    std::vector<std::string> lines_;
    std::vector<std::unique_ptr<PtyBridge>> retired_;
    std::string reportToWrite_;
    int eventRead_ = -1;
    int eventWrite_ = -1;

    bool started_ = false;
    bool stopped_ = false;
};

}  // namespace firmora::simtool
