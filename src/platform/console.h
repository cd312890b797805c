#pragma once
// Console seam: what a command-line front end asks of the console it prints to.

namespace firmora::platform {

class Console {
public:
    virtual ~Console() = default;
    // Whether standard output is a terminal (not a pipe or a file), where a
    // progress bar may be redrawn in place and lines coloured.
    virtual bool OutputIsTerminal() const = 0;
};

}  // namespace firmora::platform
