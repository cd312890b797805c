#include "firmora-sim/link_keeper.h"

#include <unistd.h>

#include <iostream>
#include <system_error>
#include <utility>

namespace firmora::simtool {
namespace {

namespace fs = std::filesystem;

constexpr sim::PortRole kRoles[] = {sim::PortRole::Diag, sim::PortRole::App, sim::PortRole::At};

bool IsLinkOrAbsent(const fs::path& path) {
    std::error_code error;
    const fs::file_status status = fs::symlink_status(path, error);
    return !fs::exists(status) || fs::is_symlink(status);
}

std::string NotALinkMessage(const fs::path& path) {
    return path.string() + " exists and is not a symbolic link; move it away or choose another --link-dir";
}

}  // namespace

LinkKeeper::LinkKeeper(fs::path dir) : dir_(std::move(dir)) {
    std::error_code error;
    fs::create_directories(dir_, error);
    if (error || !fs::is_directory(dir_)) {
        throw LinkDirError("cannot create the link folder " + dir_.string() + ": " +
                           (error ? error.message() : "not a folder"));
    }
    // Every name is checked before any stale link goes, so that a refusal
    // leaves the folder as it was.
    for (const sim::PortRole role : kRoles) {
        if (!IsLinkOrAbsent(LinkPath(role))) throw LinkDirError(NotALinkMessage(LinkPath(role)));
    }
    for (const sim::PortRole role : kRoles) RemoveLink(role);
}

LinkKeeper::~LinkKeeper() {
    while (!made_.empty()) Left(made_.begin()->first);
}

fs::path LinkKeeper::LinkPath(sim::PortRole role) const {
    return dir_ / sim::ToString(role);
}

bool LinkKeeper::Arrived(sim::PortRole role, const std::string& node) {
    const fs::path link = LinkPath(role);
    // Something put there since start-up is not ours to replace.
    if (!IsLinkOrAbsent(link)) {
        std::cerr << "firmora-sim: " << NotALinkMessage(link) << std::endl;
        made_.erase(role);
        return false;
    }
    // A hidden name of this process's own, so that two programs sharing the
    // folder cannot collide on it.
    const fs::path temporary = dir_ / ("." + sim::ToString(role) + ".new-" + std::to_string(::getpid()));
    std::error_code error;
    fs::remove(temporary, error);
    fs::create_symlink(node, temporary, error);
    if (!error) fs::rename(temporary, link, error);
    if (error) {
        std::cerr << "firmora-sim: cannot link " << link.string() << " to " << node << ": " << error.message()
                  << std::endl;
        std::error_code ignored;
        fs::remove(temporary, ignored);
        return false;
    }
    made_[role] = node;
    return true;
}

void LinkKeeper::Left(sim::PortRole role) {
    if (made_.erase(role) == 0) return;
    RemoveLink(role);
}

void LinkKeeper::RemoveLink(sim::PortRole role) {
    const fs::path link = LinkPath(role);
    if (!IsLinkOrAbsent(link)) return;
    std::error_code error;
    fs::remove(link, error);
    if (error) {
        std::cerr << "firmora-sim: cannot remove " << link.string() << ": " << error.message() << std::endl;
    }
}

}  // namespace firmora::simtool
