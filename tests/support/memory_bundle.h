#pragma once
// A ResourceBundle held in memory for tests: entries added by type and name,
// looked up without regard to case as the archive's are, every opened entry
// recorded in order, and entries that fail part-way through their bytes.

#include <algorithm>
#include <cctype>
#include <map>
#include <string>
#include <vector>

#include "platform/resource_bundle.h"

namespace firmora::testing {

class MemoryBundle final : public platform::ResourceBundle {
public:
    void Add(const std::string& type, const std::string& name, std::string bytes) {
        entries_[Key(type, name)] = {type, name, std::move(bytes), false};
    }
    // An entry whose read fails after its first half, as a damaged archive's does.
    void AddDamaged(const std::string& type, const std::string& name, std::string bytes) {
        Add(type, name, std::move(bytes));
        entries_[Key(type, name)].damaged = true;
    }

    std::unique_ptr<platform::ByteSource> Open(std::string_view type, std::string_view name,
                                               std::string& error) override {
        const auto found = entries_.find(Key(std::string(type), std::string(name)));
        if (found == entries_.end()) {
            error = "The package carries no " + platform::BundleEntryPath(type, name);
            return nullptr;
        }
        opened_.push_back(found->second.type + "/" + found->second.name);
        return std::make_unique<Source>(found->second);
    }

    std::vector<platform::BundleEntry> Entries() const override {
        std::vector<platform::BundleEntry> all;
        for (const auto& [key, entry] : entries_) all.push_back({entry.type, entry.name, entry.bytes.size()});
        return all;
    }

    // "TYPE/NAME" of every entry opened, in order, as it was added.
    const std::vector<std::string>& opened() const { return opened_; }

private:
    struct Entry {
        std::string type;
        std::string name;
        std::string bytes;
        bool damaged;
    };

    class Source final : public platform::ByteSource {
    public:
        explicit Source(const Entry& entry) : entry_(entry) {}
        int64_t Read(std::span<char> buffer) override {
            const size_t end = entry_.damaged ? entry_.bytes.size() / 2 : entry_.bytes.size();
            if (entry_.damaged && at_ == end) return -1;
            const size_t count = std::min(buffer.size(), end - at_);
            std::copy_n(entry_.bytes.data() + at_, count, buffer.data());
            at_ += count;
            return static_cast<int64_t>(count);
        }
        std::string Error() const override { return "CRC error"; }

    private:
        const Entry& entry_;
        size_t at_ = 0;
    };

    static std::string Key(std::string type, const std::string& name) {
        type += '/';
        type += name;
        std::transform(type.begin(), type.end(), type.begin(), [](unsigned char c) { return std::tolower(c); });
        return type;
    }

    std::map<std::string, Entry> entries_;
    std::vector<std::string> opened_;
};

}  // namespace firmora::testing
