#pragma once

#include <string>
#include <string_view>

namespace quelvo {

// The version of this build, "1.6.0.0" style.
std::string ProgramVersion();

// The bytes that open the version marker in an executable; FileVersion looks for them.
std::string_view VersionMarkerPrefix();

}  // namespace quelvo
