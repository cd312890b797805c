#pragma once
// What the worker reads from the window during a run, and the little it
// asks of it: the port selectors, the device-change flags, the port scan
// that rewrites the selectors, and the version label. The application's
// window model implements it; so does the command line's run.

#include <string>

#include "core/reporter.h"

namespace firmora::engine {

class WorkerWindow {
public:
    virtual ~WorkerWindow() = default;
    // The selected Diag and AT ports: "COM" plus the number, or empty.
    virtual std::string DiagPortSelector() = 0;
    virtual std::string AtPortSelector() = 0;
    // Set by the window on device-change broadcasts; cleared and polled by the worker.
    virtual core::DeviceChangeFlags& ChangeFlags() = 0;
    // The full port scan; it rewrites the selectors. True when a Diag port was found.
    virtual bool ScanPorts() = 0;
    // After a reset: is the Diag port still the one numbered `portNumber`?
    virtual bool CheckDiagPort(int portNumber) = 0;
    // Shows the version label's whole text ("Version:" and the device's
    // software version) in the window.
    virtual void ShowVersion(const std::string& text) = 0;
    // Whether the discovery switch already went to the device in this program run.
    virtual bool D1Sent() = 0;
};

}  // namespace firmora::engine
