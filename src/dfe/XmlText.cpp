#include "dfe/XmlText.h"

#include <algorithm>
#include <charconv>
#include <optional>
#include <utility>
#include "common/TextTrim.h"

#include "common/Win1252.h"

namespace quelvo {

namespace {

// Every occurrence, left to right, in one pass that builds a new text: replacing in place would
// move the rest of the text at each occurrence (quadratic in a long answer full of entities).
void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
    size_t at = from.empty() ? std::string::npos : s.find(from);
    if (at == std::string::npos) {
        return;
    }
    std::string out;
    out.reserve(s.size());
    size_t done = 0;
    while (at != std::string::npos) {
        out.append(s, done, at - done);
        out.append(to);
        done = at + from.size();
        at = s.find(from, done);
    }
    out.append(s, done);
    s.swap(out);
}

std::string TrimBlanks(std::string_view s) {
    const size_t b = s.find_first_not_of(' ');
    if (b == std::string_view::npos) {
        return {};
    }
    return std::string(s.substr(b, s.find_last_not_of(' ') - b + 1));
}

}  // namespace

namespace {

char UpperChar(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// Where `upperNeedle` (in capitals) first occurs in `text`, ASCII letters compared without
// regard to case; no upper-case copy of a long answer is made.
size_t FindNoCase(std::string_view text, std::string_view upperNeedle, size_t from = 0) {
    if (upperNeedle.empty() || text.size() < upperNeedle.size()) {
        return std::string_view::npos;
    }
    const char first = upperNeedle[0];
    const char firstLower = first >= 'A' && first <= 'Z' ? static_cast<char>(first + 32) : first;
    for (size_t i = from; i + upperNeedle.size() <= text.size(); ++i) {
        if (text[i] != first && text[i] != firstLower) {
            continue;
        }
        size_t k = 1;
        while (k < upperNeedle.size() && UpperChar(text[i + k]) == upperNeedle[k]) {
            ++k;
        }
        if (k == upperNeedle.size()) {
            return i;
        }
    }
    return std::string_view::npos;
}

}  // namespace

std::string ElementContent(std::string_view text, std::string_view name) {
    const std::string n = UpperAscii(name);
    auto find = [&](const std::string& startKey, const std::string& endKey) -> std::string {
        const size_t start = FindNoCase(text, startKey);
        const size_t end = FindNoCase(text, endKey);
        if (start == std::string::npos || end == std::string::npos) {
            return {};
        }
        const size_t gt = text.find('>', start);
        if (gt == std::string::npos || end < gt + 2) {
            return {};
        }
        return std::string(text.substr(gt + 1, end - 1 - (gt + 1)));
    };
    if (FindNoCase(text, "/" + n) != std::string::npos) {
        return find("<" + n, "/" + n);
    }
    return find("<NS2:" + n, "/NS2:" + n);
}

std::string ContentBetween(std::string_view text, std::string_view start, std::string_view end) {
    const size_t a = text.find(start);
    if (a == std::string_view::npos) {
        return {};
    }
    const auto rest = text.substr(a + start.size());
    return std::string(rest.substr(0, rest.find(end)));
}

std::string ZeroPadded(long long number, int width) {
    const std::string all = std::string(static_cast<size_t>(width), '0') + std::to_string(number);
    return all.substr(all.size() - static_cast<size_t>(width));
}

std::string EncodeFieldText(std::string_view text, bool removeBlanks, bool removeAccents) {
    static const std::pair<unsigned long, char> kPlain[] = {
        {0xE0, 'a'}, {0xE2, 'a'}, {0xEA, 'e'}, {0xF4, 'o'}, {0xFB, 'u'}, {0xE3, 'a'}, {0xF5, 'o'},
        {0xE1, 'a'}, {0xE9, 'e'}, {0xED, 'i'}, {0xF3, 'o'}, {0xFA, 'u'}, {0xE7, 'c'}, {0xFC, 'u'},
        {0xEE, 'i'}, {0xE4, 'a'}, {0xEB, 'e'}, {0xEF, 'i'}, {0xF6, 'o'}, {0xE8, 'e'}, {0xEC, 'i'},
        {0xF2, 'o'}, {0xF9, 'u'}, {0xC0, 'A'}, {0xC2, 'A'}, {0xCA, 'E'}, {0xD4, 'O'}, {0xDB, 'U'},
        {0xC3, 'A'}, {0xD5, 'O'}, {0xC1, 'A'}, {0xC9, 'E'}, {0xCD, 'I'}, {0xD3, 'O'}, {0xDA, 'U'},
        {0xC7, 'C'}, {0xDC, 'U'}, {0xCE, 'I'}, {0xC4, 'A'}, {0xCB, 'E'}, {0xCF, 'I'}, {0xD6, 'O'},
        {0xC8, 'E'}, {0xCC, 'I'}, {0xD2, 'O'}, {0xD9, 'U'},
    };
    std::string s;
    if (removeAccents) {
        size_t pos = 0;
        while (pos < text.size()) {
            const long cp = NextCodePoint(text, pos);
            if (cp >= 32 && cp <= 126) {
                s += static_cast<char>(cp);
                continue;
            }
            const auto it = std::find_if(std::begin(kPlain), std::end(kPlain), [&](const auto& p) {
                return static_cast<long>(p.first) == cp;
            });
            s += it != std::end(kPlain) ? it->second : ' ';
        }
    } else {
        s = std::string(text);
    }
    ReplaceAll(s, "&", "&amp;");
    ReplaceAll(s, "<", "&lt;");
    ReplaceAll(s, ">", "&gt;");
    ReplaceAll(s, "\"", "&quot;");
    ReplaceAll(s, "'", "&#39;");
    if (removeBlanks) {
        std::string collapsed;
        for (char c : s) {
            if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ') {
                continue;
            }
            collapsed += c;
        }
        s = collapsed;
    }
    return TrimBlanks(s);
}

std::string DecodeEntities(std::string_view text) {
    std::string s(text);
    ReplaceAll(s, "&amp;", "&");
    ReplaceAll(s, "&lt;", "<");
    ReplaceAll(s, "&gt;", ">");
    ReplaceAll(s, "&quot;", "\"");
    ReplaceAll(s, "&#39;", "'");
    size_t at = s.find("&#x");
    if (at == std::string::npos) {
        return s;
    }
    std::string out;
    out.reserve(s.size());
    size_t done = 0;
    while (at != std::string::npos) {
        const size_t semi = s.find(';', at);
        if (semi == std::string::npos) {
            break;
        }
        unsigned long cp = 0;
        const auto [p, ec] = std::from_chars(s.data() + at + 3, s.data() + semi, cp, 16);
        if (ec != std::errc{} || p != s.data() + semi || cp == 0 || cp > 0x10FFFF) {
            at = s.find("&#x", at + 3);
            continue;
        }
        out.append(s, done, at - done);
        AppendUtf8(out, cp);
        done = semi + 1;
        at = s.find("&#x", done);
    }
    out.append(s, done);
    return out;
}

namespace {

// The content of the first element whose local name (after any "prefix:") is `name`; nothing
// when there is none or it is not closed.
std::optional<std::string_view> LocalElement(std::string_view text, std::string_view name) {
    for (size_t lt = text.find('<'); lt != std::string_view::npos; lt = text.find('<', lt + 1)) {
        const size_t at = lt + 1;
        const size_t end = text.find_first_of(" \t\r\n/>", at);
        if (end == std::string_view::npos) {
            return std::nullopt;
        }
        const std::string_view qname = text.substr(at, end - at);
        const std::string_view prefix = qname.substr(0, qname.find(':') + 1);
        if (qname.substr(prefix.size()) != name) {
            continue;
        }
        const size_t gt = text.find('>', end);
        if (gt == std::string_view::npos || text[gt - 1] == '/') {
            return std::nullopt;
        }
        const std::string closing = "</" + std::string(qname) + ">";
        const size_t close = text.find(closing, gt + 1);
        if (close == std::string_view::npos) {
            return std::nullopt;
        }
        return text.substr(gt + 1, close - gt - 1);
    }
    return std::nullopt;
}

}  // namespace

std::string SoapFaultReason(std::string_view text) {
    const auto fault = LocalElement(text, "Fault");
    if (!fault) {
        return {};
    }
    if (const auto reason = LocalElement(*fault, "Reason")) {
        if (const auto t = LocalElement(*reason, "Text")) {
            return Trim(*t);
        }
    }
    if (const auto s = LocalElement(*fault, "faultstring")) {
        return Trim(*s);
    }
    return {};
}

namespace {

bool CheckDigits(std::string_view digits, size_t length, const int* weights1, const int* weights2) {
    if (digits.size() != length ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; })) {
        return false;
    }
    const auto digit = [&](size_t count, const int* weights) {
        int sum = 0;
        for (size_t i = 0; i < count; ++i) {
            sum += (digits[i] - '0') * weights[i];
        }
        const int rest = sum % 11;
        return rest < 2 ? 0 : 11 - rest;
    };
    return digit(length - 2, weights1) == digits[length - 2] - '0' &&
           digit(length - 1, weights2) == digits[length - 1] - '0';
}

}  // namespace

bool ValidCPF(std::string_view digits) {
    static const int w1[] = {10, 9, 8, 7, 6, 5, 4, 3, 2};
    static const int w2[] = {11, 10, 9, 8, 7, 6, 5, 4, 3, 2};
    return CheckDigits(digits, 11, w1, w2);
}

bool ValidCNPJ(std::string_view digits) {
    static const int w1[] = {5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    static const int w2[] = {6, 5, 4, 3, 2, 9, 8, 7, 6, 5, 4, 3, 2};
    return CheckDigits(digits, 14, w1, w2);
}

std::string DecodeText(std::string s, bool decodeEntities, bool isUtf8) {
    if (decodeEntities && s.find('&') != std::string::npos) {
        ReplaceAll(s, "&amp;", "&");
        ReplaceAll(s, "&lt;", "<");
        ReplaceAll(s, "&gt;", ">");
        ReplaceAll(s, "&quot;", "\"");
        ReplaceAll(s, "&#39;", "'");
        static const std::pair<const char*, const char*> kNamed[] = {
            {"&aacute;", "á"}, {"&Aacute;", "Á"}, {"&acirc;", "â"},  {"&Acirc;", "Â"},
            {"&atilde;", "ã"}, {"&Atilde;", "Ã"}, {"&agrave;", "à"}, {"&Agrave;", "À"},
            {"&eacute;", "é"}, {"&Eacute;", "É"}, {"&ecirc;", "ê"},  {"&Ecirc;", "Ê"},
            {"&iacute;", "í"}, {"&Iacute;", "Í"}, {"&oacute;", "ó"}, {"&Oacute;", "Ó"},
            {"&otilde;", "õ"}, {"&Otilde;", "Õ"}, {"&ocirc;", "ô"},  {"&Ocirc;", "Ô"},
            {"&uacute;", "ú"}, {"&Uacute;", "Ú"}, {"&uuml;", "ü"},   {"&Uuml;", "Ü"},
            {"&ccedil;", "ç"}, {"&Ccedil;", "Ç"},
        };
        for (const auto& [from, to] : kNamed) {
            ReplaceAll(s, from, to);
        }
        ReplaceAll(s, "&apos;", "'");
    } else if (!decodeEntities) {
        ReplaceAll(s, "&", "&amp;");
        ReplaceAll(s, "<", "&lt;");
        ReplaceAll(s, ">", "&gt;");
        ReplaceAll(s, "\"", "&quot;");
        ReplaceAll(s, "'", "&#39;");
    }
    // Characters Windows-1252 cannot hold become "?"; an answer in ASCII has none.
    const bool ascii = std::all_of(s.begin(), s.end(),
                                   [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    if (isUtf8 && !ascii) {
        return Win1252ToUtf8(Utf8ToWin1252(s));
    }
    return s;
}

}  // namespace quelvo
