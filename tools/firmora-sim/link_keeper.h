#pragma once
// LinkKeeper: stable names for the ports of a device whose pseudo-terminals
// change each time it returns to the bus. DIR/diag, DIR/app and DIR/at are
// symbolic links to the current node of the port with that role while the
// port is present, as udev keeps /dev/serial/by-id: a link goes when its port
// leaves and is made again, atomically, when the port arrives.
//
// A DIR/<role> that is not a symbolic link belongs to somebody else and is
// never replaced or removed. Not thread-safe: its owner serialises the calls.

#include <filesystem>
#include <map>
#include <stdexcept>
#include <string>

#include "sim/usb_profile.h"

namespace firmora::simtool {

// The link folder cannot be used: it cannot be created, or a role's name in
// it is taken by something that is not a symbolic link.
class LinkDirError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class LinkKeeper {
public:
    // Creates `dir` if missing and removes links left at the roles' names by
    // a run that did not end cleanly (they lead to nodes that are gone or
    // that another program now holds). Throws LinkDirError.
    explicit LinkKeeper(std::filesystem::path dir);
    // Removes the links it made.
    ~LinkKeeper();
    LinkKeeper(const LinkKeeper&) = delete;
    LinkKeeper& operator=(const LinkKeeper&) = delete;

    // The port of `role` is on `node` now: DIR/<role> is pointed at it by
    // renaming a fresh link over the old one, so that it never is missing or
    // dangling in between. False (and a message on stderr) when it cannot be.
    bool Arrived(sim::PortRole role, const std::string& node);
    // The port of `role` has left the bus: its link goes.
    void Left(sim::PortRole role);

    std::filesystem::path LinkPath(sim::PortRole role) const;

private:
    // Removes DIR/<role> if it is a symbolic link.
    void RemoveLink(sim::PortRole role);

    std::filesystem::path dir_;
    std::map<sim::PortRole, std::string> made_;  // role -> node of each link it made
};

}  // namespace firmora::simtool
