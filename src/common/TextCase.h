#pragma once

#include <cstddef>
#include <string_view>

namespace quelvo {

// Comparison of UTF-8 texts without regard to letter case, for the ASCII letters and the
// accented Latin letters of Windows-1252 (À..Þ against à..þ). Folding keeps the byte length, so
// both functions run without allocating.
bool SameTextIgnoringCase(std::string_view a, std::string_view b);
size_t HashIgnoringCase(std::string_view text);

}  // namespace quelvo
