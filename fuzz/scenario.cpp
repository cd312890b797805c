// Scenario files of the virtual modem, loaded as firmora-sim loads them: from
// a file in a folder that also holds the shipped scenarios, so that
// "extends" reaches them.
//
// Properties: a file either loads or is refused with std::runtime_error
// whose message names the file (and, for text that is not JSON, a line and
// column inside the text); one that loads is an object with its "extends"
// resolved and at least one device; written back as JSON and loaded again,
// it is the same scenario.

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>

#include "fuzz_check.h"
#include "scratch_folder.h"
#include "sim/virtual_modem.h"

namespace {

namespace fs = std::filesystem;

// The fuzzer's own folder, holding copies of the shipped scenarios.
const fs::path& Folder() {
    static const ScratchFolder folder("firmora-fuzz-scenario-");
    static const bool copied = [] {
        for (const auto& entry : fs::directory_iterator(FIRMORA_SCENARIOS)) {
            fs::copy_file(entry.path(), folder.path() / entry.path().filename(), fs::copy_options::overwrite_existing);
        }
        return true;
    }();
    (void)copied;
    return folder.path();
}

void Write(const fs::path& file, const std::string& text) {
    std::ofstream(file, std::ios::binary | std::ios::trunc) << text;
}

size_t Lines(const std::string& text) { return 1 + static_cast<size_t>(std::count(text.begin(), text.end(), '\n')); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    const fs::path file = Folder() / "fuzzed.json";
    Write(file, text);
    firmora::sim::Scenario scenario;
    try {
        scenario = firmora::sim::Scenario::Load(file.string());
    } catch (const std::runtime_error& e) {
        const std::string message = e.what();
        FUZZ_CHECK(message.find(file.string()) != std::string::npos ||
                   message.find("scenario file not found: ") == 0);
        const size_t at = message.find(file.string() + ": not valid JSON at line ");
        if (at != std::string::npos) {
            const size_t line = std::stoul(message.substr(at + file.string().size() + 25));
            FUZZ_CHECK(line >= 1 && line <= Lines(text));
        }
        return 0;
    }
    FUZZ_CHECK(scenario.json.is_object() && !scenario.json.contains("extends"));
    FUZZ_CHECK(!scenario.Devices().empty());

    const fs::path again = Folder() / "written.json";
    Write(again, scenario.json.dump(2));
    const firmora::sim::Scenario reloaded = firmora::sim::Scenario::Load(again.string());
    FUZZ_CHECK(reloaded.json == scenario.json);
    FUZZ_CHECK(reloaded.Devices().size() == scenario.Devices().size());
    return 0;
}
