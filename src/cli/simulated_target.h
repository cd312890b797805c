#pragma once
// The virtual modem as a download target: a scenario (the shipped default, a
// shipped one by name, or a scenario file) made to start in its boot loader,
// and, after the run, what its partitions received.

#include <map>
#include <string>
#include <vector>

#include "sim/partition_store.h"
#include "sim/virtual_modem.h"

namespace firmora::cli {

// Throws std::runtime_error with the scenario's problem.
sim::Scenario BootloaderScenario(const std::string& nameOrFile);

// One line per partition flashed or erased between the two states, by name:
// "boot: 70000 bytes, xxh3 baf8890957942b58" or "cdrom: erased".
std::vector<std::string> ChangedPartitions(const std::map<std::string, sim::Partition>& before,
                                           const std::map<std::string, sim::Partition>& after);

}  // namespace firmora::cli
