#pragma once
// The window's log outside a run: what the port scan, the AT probe and the
// boot push write. The application routes it into the run log (and its
// trace view); tests record it.

#include <string>

namespace firmora::core {

class LineLog {
public:
    virtual ~LineLog() = default;
    // One line of text, written as it is given.
    virtual void Log(const std::string& text) = 0;
};

}  // namespace firmora::core
