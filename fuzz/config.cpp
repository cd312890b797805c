// The configuration parse: Config.ini into the download options.
//
// Properties: the parse is a function of the text alone; it stops on an
// error exactly when it shows one box, captioned "Warning", whose text is
// the error it returns; and what it stores prints as visible text.

#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "package/config_parser.h"
#include "package/download_options.h"
#include "package/options_json.h"
#include "platform/dialogs.h"

namespace {

struct Parsed {
    firmora::package::ConfigParseResult result;
    std::string options;  // as OptionsToText prints them
    firmora::platform::ScriptedDialogs dialogs;
};

void Parse(std::string_view text, Parsed& parsed) {
    firmora::package::DownloadOptions options;
    parsed.result = firmora::package::ParseConfigText(text, options, parsed.dialogs);
    parsed.options = firmora::package::OptionsToText(options);
    // Whatever the file held, the options print and dump as text.
    (void)firmora::package::OptionsToJson(options).dump(2, ' ', false,
                                                        nlohmann::ordered_json::error_handler_t::replace);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    Parsed first;
    Parse(text, first);
    Parsed second;
    Parse(text, second);
    FUZZ_CHECK(first.options == second.options);
    FUZZ_CHECK(first.result.stoppedOnError == second.result.stoppedOnError);
    FUZZ_CHECK(first.result.errorText == second.result.errorText);

    const auto& shown = first.dialogs.shown();
    if (first.result.stoppedOnError) {
        FUZZ_CHECK(!first.result.errorText.empty());
        FUZZ_CHECK(shown.size() == 1 && shown[0].caption == "Warning" && shown[0].text == first.result.errorText);
    } else {
        FUZZ_CHECK(first.result.errorText.empty() && shown.empty());
    }
    for (char c : first.options) {
        const auto byte = static_cast<unsigned char>(c);
        FUZZ_CHECK(byte == '\n' || (byte >= 0x20 && byte != 0x7F));
    }
    return 0;
}
