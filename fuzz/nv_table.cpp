// The NV item list files (default, lte, vendor): "<number> <name>" a line.
//
// Properties: a list that loads has exactly the entries asked for, and each
// is the number and name of its own data line, in file order: a decimal
// number that fits a signed 32-bit integer and one name of letters, digits
// and '_'.

#include <charconv>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "platform/data_lines.h"
#include "platform/files.h"
#include "preserve/nv_tables.h"

namespace fs = std::filesystem;

namespace {

// The list file, held in memory: a disk write (flushed, as the tool's
// writes are) would cost more than the parse.
class OneFile final : public firmora::platform::Files {
public:
    explicit OneFile(std::string text) : text_(std::move(text)) {}
    bool ReplaceAtomically(const fs::path&, std::string_view) override { return false; }
    bool ReplaceFromSource(const fs::path&, firmora::platform::ByteSource&) override { return false; }
    std::optional<std::string> ReadWhole(const fs::path&, uint64_t maxBytes,
                                         firmora::platform::ReadRefusal& refusal) override {
        if (text_.size() > maxBytes) {
            refusal = firmora::platform::ReadRefusal::TooLarge;
            return std::nullopt;
        }
        return text_;
    }
    firmora::platform::FileKind KindOf(const fs::path&) override { return firmora::platform::FileKind::Regular; }
    std::optional<uint64_t> SizeOf(const fs::path&) override { return text_.size(); }

private:
    std::string text_;
};

std::vector<std::string_view> Words(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while ((at = line.find_first_not_of(" \t", at)) != std::string_view::npos) {
        const size_t end = std::min(line.find_first_of(" \t", at), line.size());
        words.push_back(line.substr(at, end - at));
        at = end;
    }
    return words;
}

bool IsName(std::string_view name) {
    if (name.empty()) return false;
    for (char c : name) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::vector<std::string_view> lines;
    firmora::platform::ForEachDataLine(text, [&](size_t, std::string_view line) {
        lines.push_back(line);
        return true;
    });

    OneFile files(text);
    std::string error;
    const auto table = firmora::preserve::LoadNvTableFile(files, "fuzz.nvtable", lines.size(), error);
    if (!table) {
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(table->size() == lines.size());
    for (size_t i = 0; i < lines.size(); ++i) {
        const std::vector<std::string_view> words = Words(lines[i]);
        FUZZ_CHECK(words.size() == 2);
        int64_t number = -1;
        const auto [end, ec] = std::from_chars(words[0].data(), words[0].data() + words[0].size(), number);
        FUZZ_CHECK(ec == std::errc() && end == words[0].data() + words[0].size());
        FUZZ_CHECK(number >= 0 && number <= INT32_MAX && (*table)[i].number == number);
        FUZZ_CHECK(IsName(words[1]) && (*table)[i].name == words[1]);
    }
    return 0;
}
