#pragma once
// What the worker tells the window: the window side of run reporting. The app
// implements it (and marshals the calls onto its own thread, in order).

#include <string>

namespace firmora::engine {

class RunView {
public:
    virtual ~RunView() = default;
    // A status line of the worker in `slot` (kinds of core::ReportKind).
    virtual void StatusCallback(int slot, const std::string& text, int kind) = 0;
    // The run's failure line (already formatted "ERROR, ..., Error code: N").
    virtual void ErrorCallback(int slot, const std::string& text) = 0;
    virtual void SetGaugeMax(int slot, int maximum) = 0;
    virtual void SetGaugePosition(int slot, int position) = 0;
};

}  // namespace firmora::engine
