#pragma once
// Interrupt seam: the user asking the program to stop (Ctrl-C, a request to
// terminate). A front end turns the first request into the run's Stop, so
// that the run winds down through its closing steps; a second request may
// end the process at once.

#include <functional>
#include <memory>

namespace firmora::platform {

// Requests go to the handler given to Interrupts::Watch while this lives;
// destroying it restores what the process did before.
class InterruptWatch {
public:
    virtual ~InterruptWatch() = default;
};

class Interrupts {
public:
    virtual ~Interrupts() = default;
    // The first request calls `onStop`, on a thread of the implementation's
    // own (it must only do thread-safe things, such as storing the Stop);
    // a second request ends the process at once. One watch at a time: null
    // while another is alive.
    virtual std::unique_ptr<InterruptWatch> Watch(std::function<void()> onStop) = 0;
};

}  // namespace firmora::platform
