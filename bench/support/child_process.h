#pragma once
// Runs one client as a child process and measures what it cost: wall time
// from start to exit, and the child's own peak resident set and CPU times as
// the kernel accounts them (wait4).
//
// Note on peak RSS: Linux carries the resident high-water mark of the image a
// process had before exec() into the new one, so a child's figure is never
// below the benchmark's own resident set at the time it started. The
// benchmark keeps its own footprint small and prints it as the floor.

#include <functional>
#include <string>
#include <vector>

namespace firmora::bench {

struct ChildResult {
    int exitCode = -1;        // the exit status, or 128 + signal
    double wallSeconds = 0;
    double userSeconds = 0;
    double systemSeconds = 0;
    double peakRssMiB = 0;    // ru_maxrss
};

// Runs `argv` (argv[0] searched in PATH) with stdout and stderr appended to
// `logFile`; throws std::runtime_error when it cannot be started.
ChildResult RunProgram(const std::vector<std::string>& argv, const std::string& logFile);

// Runs `body` in a forked child; its return value is the exit code.
ChildResult RunForked(const std::function<int()>& body);

// The benchmark's own peak resident set so far, in MiB.
double OwnPeakRssMiB();

}  // namespace firmora::bench
