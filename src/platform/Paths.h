#pragma once

#include <filesystem>
#include <string>
#include <string_view>

// Paths are UTF-8 text in the program. std::filesystem takes a narrow string in the system's own
// narrow encoding, which is UTF-8 on Linux but the ANSI code page on Windows (a folder named
// "Escritório" would be another folder there): every path handed to std::filesystem, or to a
// stream, goes through PathOf, and comes back through Utf8Of.
namespace quelvo::platform {

inline std::filesystem::path PathOf(std::string_view utf8) {
    return std::filesystem::path(
        std::u8string(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

// The path as UTF-8 text, with "/" between folders on both systems.
inline std::string Utf8Of(const std::filesystem::path& path) {
    const std::u8string text = path.generic_u8string();
    return std::string(reinterpret_cast<const char*>(text.data()), text.size());
}

}  // namespace quelvo::platform
