#include "sim/efs_tree.h"

#include <algorithm>

namespace firmora::sim {

namespace {

std::string ParentOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

std::string NameOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool TooLong(std::string_view raw) { return raw.size() > EfsTree::kMaxPathBytes; }

uint32_t Access(uint32_t flags) { return flags & kEfsOpenAccessMask; }
bool MayRead(uint32_t flags) { return Access(flags) == 0 || Access(flags) == 2; }
bool MayWrite(uint32_t flags) { return Access(flags) == 1 || Access(flags) == 2; }

}  // namespace

EfsTree::EfsTree(uint32_t epoch, uint64_t capacity) : epoch_(epoch), capacity_(capacity) {
    root_.folder = true;
    root_.mode = kEfsFolderMode;
    root_.accessTime = root_.modifyTime = root_.changeTime = epoch;
}

std::string EfsTree::Normalize(std::string_view path) {
    std::string out;
    size_t pos = 0;
    while (pos <= path.size()) {
        size_t end = path.find('/', pos);
        if (end == std::string_view::npos) end = path.size();
        const std::string_view part = path.substr(pos, end - pos);
        if (!part.empty() && part != ".") {
            if (!out.empty()) out += '/';
            out += part;
        }
        pos = end + 1;
    }
    return out;
}

std::string EfsTree::Below(const std::string& folder) { return folder.empty() ? std::string() : folder + "/"; }

template <typename Fn>
void EfsTree::ForEachChild(const std::string& folder, Fn&& fn) const {
    const std::string prefix = Below(folder);
    for (auto it = nodes_.lower_bound(prefix); it != nodes_.end() && it->first.starts_with(prefix); ++it) {
        if (it->first.find('/', prefix.size()) == std::string::npos) fn(it->first, it->second);
    }
}

bool EfsTree::HasChildren(const std::string& folder) const {
    const std::string prefix = Below(folder);
    const auto it = nodes_.lower_bound(prefix);
    return it != nodes_.end() && it->first.starts_with(prefix);
}

const EfsTree::Node* EfsTree::Find(const std::string& path) const {
    if (path.empty()) return &root_;
    const auto it = nodes_.find(path);
    return it == nodes_.end() ? nullptr : &it->second;
}

EfsTree::Node* EfsTree::Find(const std::string& path) {
    return const_cast<Node*>(static_cast<const EfsTree*>(this)->Find(path));
}

int32_t EfsTree::ParentError(const std::string& path) const {
    const Node* parent = Find(ParentOf(path));
    if (!parent) return kEfsENOENT;
    return parent->folder ? kEfsOk : kEfsENOTDIR;
}

uint32_t EfsTree::Seconds(uint64_t nowMs) const { return epoch_ + static_cast<uint32_t>(nowMs / 1000); }

void EfsTree::Touch(const std::string& path, uint32_t seconds) {
    Node* parent = Find(ParentOf(path));
    if (!parent) return;
    parent->modifyTime = seconds;
    parent->changeTime = seconds;
}

bool EfsTree::IsOpen(const std::string& path) const {
    return std::any_of(descriptors_.begin(), descriptors_.end(),
                       [&path](const auto& entry) { return entry.second.path == path; });
}

EfsStat EfsTree::StatOf(const std::string& path, const Node& node) const {
    EfsStat stat;
    stat.mode = node.mode;
    stat.size = node.folder ? 0 : static_cast<uint32_t>(node.content.size());
    stat.linkCount = 1;
    if (node.folder) {
        // Like a POSIX folder: its name, its "." and the ".." of each subfolder.
        stat.linkCount = 2;
        ForEachChild(path, [&stat](const std::string&, const Node& child) {
            if (child.folder) ++stat.linkCount;
        });
    }
    stat.accessTime = node.accessTime;
    stat.modifyTime = node.modifyTime;
    stat.changeTime = node.changeTime;
    return stat;
}

bool EfsTree::AddFolder(std::string_view raw) {
    const std::string path = Normalize(raw);
    size_t end = 0;
    while (end < path.size()) {
        end = path.find('/', end + 1);
        if (end == std::string::npos) end = path.size();
        const std::string prefix = path.substr(0, end);
        const auto [it, added] = nodes_.try_emplace(prefix);
        if (added) {
            it->second.folder = true;
            it->second.mode = kEfsFolderMode;
            it->second.accessTime = it->second.modifyTime = it->second.changeTime = epoch_;
        } else if (!it->second.folder) {
            return false;
        }
    }
    return true;
}

bool EfsTree::AddFile(std::string_view raw, std::vector<uint8_t> content) {
    const std::string path = Normalize(raw);
    if (path.empty() || !AddFolder(ParentOf(path))) return false;
    Node& node = nodes_[path];
    if (node.folder) return false;
    node.mode = kEfsFileMode;
    node.content = std::move(content);
    node.accessTime = node.modifyTime = node.changeTime = epoch_;
    return true;
}

bool EfsTree::IsFile(std::string_view path) const {
    const Node* node = Find(Normalize(path));
    return node && !node->folder;
}

bool EfsTree::IsFolder(std::string_view path) const {
    const Node* node = Find(Normalize(path));
    return node && node->folder;
}

std::optional<std::vector<uint8_t>> EfsTree::FileContent(std::string_view path) const {
    const Node* node = Find(Normalize(path));
    if (!node || node->folder) return std::nullopt;
    return node->content;
}

std::vector<std::string> EfsTree::Names(std::string_view folder) const {
    std::vector<std::string> names;
    ForEachChild(Normalize(folder), [&names](const std::string& path, const Node&) { names.push_back(NameOf(path)); });
    return names;
}

uint64_t EfsTree::UsedBytes() const {
    uint64_t used = 0;
    for (const auto& [path, node] : nodes_) used += node.content.size();
    return used;
}

EfsTree::OpenResult EfsTree::Open(std::string_view raw, uint32_t flags, uint32_t mode, uint64_t nowMs) {
    if (TooLong(raw)) return {-1, kEfsENAMETOOLONG};
    if (Access(flags) == 3) return {-1, kEfsEINVAL};
    if (descriptors_.size() >= kMaxDescriptors) return {-1, kEfsEMFILE};
    const std::string path = Normalize(raw);
    const uint32_t now = Seconds(nowMs);
    if (Node* node = Find(path)) {
        if (node->folder) return {-1, kEfsEISDIR};
        if ((flags & kEfsOpenCreate) && (flags & kEfsOpenExclusive)) return {-1, kEfsEEXIST};
        if ((flags & kEfsOpenTruncate) && MayWrite(flags) && !node->content.empty()) {
            node->content.clear();
            node->modifyTime = node->changeTime = now;
        }
    } else {
        if (!(flags & kEfsOpenCreate)) return {-1, kEfsENOENT};
        if (const int32_t err = ParentError(path)) return {-1, err};
        Node& created = nodes_[path];
        created.mode = kEfsTypeFile | (mode & kEfsPermissionBits);
        created.accessTime = created.modifyTime = created.changeTime = now;
        Touch(path, now);
    }
    int32_t fd = 0;
    while (descriptors_.count(fd)) ++fd;
    descriptors_[fd] = Descriptor{path, flags};
    return {fd, kEfsOk};
}

int32_t EfsTree::Close(int32_t fd) { return descriptors_.erase(fd) ? kEfsOk : kEfsEBADF; }

EfsTree::ReadResult EfsTree::Read(int32_t fd, uint32_t offset, uint32_t count, uint64_t nowMs) {
    const auto it = descriptors_.find(fd);
    if (it == descriptors_.end() || !MayRead(it->second.flags)) return {-1, kEfsEBADF, {}};
    Node* node = Find(it->second.path);
    if (!node) return {-1, kEfsEBADF, {}};
    const size_t size = node->content.size();
    const size_t take = offset >= size ? 0 : std::min<size_t>({count, kMaxReadBytes, size - offset});
    node->accessTime = Seconds(nowMs);
    const auto begin = node->content.begin() + static_cast<std::ptrdiff_t>(offset < size ? offset : size);
    return {static_cast<int32_t>(take), kEfsOk, std::vector<uint8_t>(begin, begin + static_cast<std::ptrdiff_t>(take))};
}

EfsTree::WriteResult EfsTree::Write(int32_t fd, uint32_t offset, std::span<const uint8_t> data, uint64_t nowMs) {
    const auto it = descriptors_.find(fd);
    if (it == descriptors_.end() || !MayWrite(it->second.flags)) return {-1, kEfsEBADF};
    Node* node = Find(it->second.path);
    if (!node) return {-1, kEfsEBADF};
    if (data.empty()) return {0, kEfsOk};

    const uint64_t size = node->content.size();
    const uint64_t start = (it->second.flags & kEfsOpenAppend) ? size : offset;
    // Growth (a gap before `start` included) must fit in what is left.
    const uint64_t used = UsedBytes();
    const uint64_t room = capacity_ > used ? capacity_ - used : 0;
    const uint64_t limit = size + room;  // the file may grow up to here
    if (start >= limit) return {-1, kEfsENOSPC};
    const uint64_t count = std::min<uint64_t>(data.size(), limit - start);

    if (start + count > size) node->content.resize(static_cast<size_t>(start + count), 0);
    std::copy_n(data.begin(), static_cast<size_t>(count), node->content.begin() + static_cast<std::ptrdiff_t>(start));
    node->modifyTime = node->changeTime = Seconds(nowMs);
    return {static_cast<int32_t>(count), count < data.size() ? kEfsENOSPC : kEfsOk};
}

int32_t EfsTree::Unlink(std::string_view raw, uint64_t nowMs) {
    if (TooLong(raw)) return kEfsENAMETOOLONG;
    const std::string path = Normalize(raw);
    const Node* node = Find(path);
    if (!node) return ParentError(path) == kEfsENOTDIR ? kEfsENOTDIR : kEfsENOENT;
    if (node->folder) return kEfsEISDIR;
    // An open file stays whole until it is closed.
    if (IsOpen(path)) return kEfsEBUSY;
    nodes_.erase(path);
    Touch(path, Seconds(nowMs));
    return kEfsOk;
}

int32_t EfsTree::MakeDir(std::string_view raw, uint32_t mode, uint64_t nowMs) {
    if (TooLong(raw)) return kEfsENAMETOOLONG;
    const std::string path = Normalize(raw);
    if (Find(path)) return kEfsEEXIST;
    if (const int32_t err = ParentError(path)) return err;
    const uint32_t now = Seconds(nowMs);
    Node& folder = nodes_[path];
    folder.folder = true;
    folder.mode = kEfsTypeFolder | (mode & kEfsPermissionBits);
    folder.accessTime = folder.modifyTime = folder.changeTime = now;
    Touch(path, now);
    return kEfsOk;
}

int32_t EfsTree::RemoveDir(std::string_view raw, uint64_t nowMs) {
    if (TooLong(raw)) return kEfsENAMETOOLONG;
    const std::string path = Normalize(raw);
    if (path.empty()) return kEfsEBUSY;
    const Node* node = Find(path);
    if (!node) return ParentError(path) == kEfsENOTDIR ? kEfsENOTDIR : kEfsENOENT;
    if (!node->folder) return kEfsENOTDIR;
    if (HasChildren(path)) return kEfsENOTEMPTY;
    nodes_.erase(path);
    Touch(path, Seconds(nowMs));
    return kEfsOk;
}

EfsTree::StatResult EfsTree::Stat(std::string_view raw) const {
    if (TooLong(raw)) return {kEfsENAMETOOLONG, {}};
    const std::string path = Normalize(raw);
    const Node* node = Find(path);
    if (!node) return {ParentError(path) == kEfsENOTDIR ? kEfsENOTDIR : kEfsENOENT, {}};
    return {kEfsOk, StatOf(path, *node)};
}

EfsTree::OpenDirResult EfsTree::OpenDir(std::string_view raw) {
    if (TooLong(raw)) return {0, kEfsENAMETOOLONG};
    const std::string path = Normalize(raw);
    const Node* node = Find(path);
    if (!node) return {0, kEfsENOENT};
    if (!node->folder) return {0, kEfsENOTDIR};
    if (listings_.size() >= kMaxListings) return {0, kEfsEMFILE};
    Listing listing{path, {}};
    ForEachChild(path, [&](const std::string& childPath, const Node& child) {
        listing.entries.push_back(EfsEntry{NameOf(childPath), child.folder, StatOf(childPath, child)});
    });
    uint32_t handle = 1;
    while (listings_.count(handle)) ++handle;
    listings_[handle] = std::move(listing);
    return {handle, kEfsOk};
}

EfsTree::ReadDirResult EfsTree::ReadDir(uint32_t handle, uint32_t sequence) const {
    const auto it = listings_.find(handle);
    if (it == listings_.end()) return {kEfsEBADF, std::nullopt};
    if (sequence == 0) return {kEfsEINVAL, std::nullopt};
    const std::vector<EfsEntry>& entries = it->second.entries;
    if (sequence > entries.size()) return {kEfsOk, std::nullopt};
    return {kEfsOk, entries[sequence - 1]};
}

int32_t EfsTree::CloseDir(uint32_t handle) { return listings_.erase(handle) ? kEfsOk : kEfsEBADF; }

std::optional<std::string> EfsTree::DescriptorPath(int32_t fd) const {
    const auto it = descriptors_.find(fd);
    if (it == descriptors_.end()) return std::nullopt;
    return it->second.path;
}

std::optional<std::string> EfsTree::ListingPath(uint32_t handle) const {
    const auto it = listings_.find(handle);
    if (it == listings_.end()) return std::nullopt;
    return it->second.path;
}

void EfsTree::CloseAll() {
    descriptors_.clear();
    listings_.clear();
}

}  // namespace firmora::sim
