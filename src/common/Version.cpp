#include "common/Version.h"

#include <array>
#include <charconv>
#include <optional>

namespace quelvo {

namespace {
constexpr size_t kPrefixSize = sizeof("QUELVO-FILEVERSION=") - 1;

// The four numbers of "a.b.c.d", each 0..65535, and nothing else.
std::optional<std::array<unsigned, 4>> Numbers(std::string_view v) {
    std::array<unsigned, 4> n{};
    const char* p = v.data();
    const char* end = v.data() + v.size();
    for (size_t i = 0; i < n.size(); ++i) {
        if (i > 0) {
            if (p == end || *p != '.') {
                return std::nullopt;
            }
            ++p;
        }
        const auto [next, ec] = std::from_chars(p, end, n[i]);
        if (ec != std::errc{} || n[i] > 0xFFFF) {
            return std::nullopt;
        }
        p = next;
    }
    if (p != end) {
        return std::nullopt;
    }
    return n;
}
}  // namespace

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

bool NewerVersion(std::string_view candidate, std::string_view current) {
    const auto novo = Numbers(candidate);
    if (!novo) {
        return false;
    }
    if (current.empty()) {
        return true;
    }
    const auto atual = Numbers(current);
    return atual && *novo > *atual;
}

}  // namespace quelvo
