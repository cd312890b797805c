#pragma once
// The line rules of the tool's shipped data files (NV item lists, the port
// role table): an editor's byte order mark before the first line is no part
// of it, a CR before the LF is dropped, blank lines and lines whose first
// non-blank character is '#' are skipped.

#include <cstddef>
#include <string_view>

namespace firmora::platform {

// Calls `visit(lineNumber, line)` for each data line, line numbers counted
// from 1 over every line; stops and returns false when `visit` does.
template <typename Visit>
bool ForEachDataLine(std::string_view text, Visit visit) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    size_t lineNumber = 0;
    size_t pos = 0;
    while (pos < text.size()) {
        size_t end = text.find('\n', pos);
        if (end == std::string_view::npos) end = text.size();
        std::string_view line = text.substr(pos, end - pos);
        pos = end + 1;
        ++lineNumber;
        if (line.ends_with('\r')) line.remove_suffix(1);
        const size_t first = line.find_first_not_of(" \t");
        if (first == std::string_view::npos || line[first] == '#') continue;
        if (!visit(lineNumber, line)) return false;
    }
    return true;
}

}  // namespace firmora::platform
