#pragma once
// The Config.ini the tool carries for its generic MDM9x15 package, as the
// Windows INI text it is shipped as (every line ends in "\r\n").

#include <string_view>

namespace firmora::package {

std::string_view DefaultConfigText();

}  // namespace firmora::package
