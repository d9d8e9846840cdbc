#pragma once

#include <string>
#include <string_view>

namespace quelvo {

// Without the blanks, tabs and line breaks at both ends.
inline std::string Trim(std::string_view s) {
    const size_t b = s.find_first_not_of(" \t\r\n");
    if (b == std::string_view::npos) {
        return {};
    }
    return std::string(s.substr(b, s.find_last_not_of(" \t\r\n") - b + 1));
}

// ASCII letters in upper case; every other byte as it is (so positions stay).
inline std::string UpperAscii(std::string_view s) {
    std::string out(s);
    for (auto& c : out) {
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 32);
        }
    }
    return out;
}

}  // namespace quelvo
