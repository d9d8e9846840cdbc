#include "common/Version.h"

namespace quelvo {

namespace {
constexpr size_t kPrefixSize = sizeof("QUELVO-FILEVERSION=") - 1;
}

// The marker that every executable carries. Kept even when unreferenced, so that FileVersion
// finds it in any build. Its prefix is taken from this very array at run time, so no other copy of
// the prefix ends up in the binary to be found first.
extern "C" {
[[gnu::used]] const char quelvo_version_marker[] = "QUELVO-FILEVERSION=" QUELVO_VERSION;
}

std::string_view VersionMarkerPrefix() {
    return std::string_view(quelvo_version_marker, kPrefixSize);
}

std::string ProgramVersion() {
    return std::string(quelvo_version_marker + kPrefixSize);
}

}  // namespace quelvo
