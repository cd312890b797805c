#pragma once
// The virtual modem as the commands' target: a scenario (the shipped default,
// a shipped one by name, or a scenario file), possibly made to start in its
// boot loader, and, after a download, what its partitions received.

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "sim/partition_store.h"
#include "sim/sim_platform.h"
#include "sim/virtual_modem.h"

namespace firmora::cli {

// What --simulate names: a scenario file when the path exists, else a
// shipped scenario from the folder beside the program. Throws
// std::runtime_error with the scenario's problem.
sim::Scenario ScenarioNamed(const std::string& nameOrFile);

// The same scenario made to start in its boot loader.
sim::Scenario BootloaderScenario(const std::string& nameOrFile);

// The virtual modem of `nameOrFile` (in its boot loader when asked); null
// with "cannot simulate scenario ..." in `problem`.
std::unique_ptr<sim::SimPlatform> Simulate(const std::string& nameOrFile, bool inBootloader, std::string& problem);

// One line per partition flashed or erased between the two states, by name:
// "boot: 70000 bytes, xxh3 baf8890957942b58" or "cdrom: erased".
std::vector<std::string> ChangedPartitions(const std::map<std::string, sim::Partition>& before,
                                           const std::map<std::string, sim::Partition>& after);

}  // namespace firmora::cli
