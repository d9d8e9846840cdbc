#include "common/TextCase.h"

namespace quelvo {

namespace {

// The folded form of byte `cur`, given the byte before it. In UTF-8 the capitals U+00C0..U+00DE
// are C3 80..C3 9E, their small letters C3 A0..C3 BE; U+00D7 (C3 97) is the multiplication sign.
inline unsigned char Fold(unsigned char prev, unsigned char cur) {
    if (cur >= 'A' && cur <= 'Z') {
        return static_cast<unsigned char>(cur + 32);
    }
    if (prev == 0xC3 && cur >= 0x80 && cur <= 0x9E && cur != 0x97) {
        return static_cast<unsigned char>(cur + 32);
    }
    return cur;
}

}  // namespace

bool SameTextIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    unsigned char pa = 0;
    unsigned char pb = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        const auto ca = static_cast<unsigned char>(a[i]);
        const auto cb = static_cast<unsigned char>(b[i]);
        if (Fold(pa, ca) != Fold(pb, cb)) {
            return false;
        }
        pa = ca;
        pb = cb;
    }
    return true;
}

size_t HashIgnoringCase(std::string_view text) {
    // FNV-1a over the folded bytes, then a final mix so that the low bits spread well.
    unsigned long long h = 1469598103934665603ULL;
    unsigned char prev = 0;
    for (char c : text) {
        const auto cur = static_cast<unsigned char>(c);
        h ^= Fold(prev, cur);
        h *= 1099511628211ULL;
        prev = cur;
    }
    h ^= h >> 32;
    h *= 0xd6e8feb86659fd93ULL;
    h ^= h >> 32;
    return static_cast<size_t>(h);
}

}  // namespace quelvo
