#include "dfe/TLeitor.h"

#include <algorithm>
#include <charconv>

#include "common/TextTrim.h"
#include "common/Utils.h"
#include "dfe/XmlText.h"

namespace quelvo {

namespace {

// Position and length of the closing tag "</close>" or, failing that, "</close:".
std::pair<size_t, size_t> FindClosing(std::string_view text, const std::string& close) {
    const std::string a = "</" + close + ">";
    if (const size_t at = text.find(a); at != std::string_view::npos) {
        return {at, a.size()};
    }
    const std::string b = "</" + close + ":";
    return {text.find(b), b.size()};
}

char Up(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
}

// Position of `needle` (already upper case) in `text`, comparing ASCII letters without regard
// to case.
size_t FindUpper(std::string_view text, std::string_view needle, size_t from = 0) {
    if (needle.empty() || text.size() < needle.size()) {
        return std::string_view::npos;
    }
    for (size_t i = from; i + needle.size() <= text.size(); ++i) {
        if (Up(text[i]) != needle[0]) {
            continue;
        }
        size_t k = 1;
        while (k < needle.size() && Up(text[i + k]) == needle[k]) {
            ++k;
        }
        if (k == needle.size()) {
            return i;
        }
    }
    return std::string_view::npos;
}

int Number(const std::string& raw, size_t from, size_t count, const std::string& tag) {
    int value = 0;
    const char* begin = raw.data() + from;
    if (from + count > raw.size()) {
        throw ELeitorError("Tag <" + tag + "> com data ou hora inválida: " + raw);
    }
    const auto [p, ec] = std::from_chars(begin, begin + count, value);
    if (ec != std::errc{} || p != begin + count) {
        throw ELeitorError("Tag <" + tag + "> com data ou hora inválida: " + raw);
    }
    return value;
}

TDateTime ParseDate(const std::string& raw, bool withTime, const std::string& tag) {
    if (raw.empty()) {
        return {};
    }
    TDateTime t =
        TDateTime::FromDate(Number(raw, 0, 4, tag), Number(raw, 5, 2, tag), Number(raw, 8, 2, tag));
    if (!IsValidDate(t.Year, t.Month, t.Day)) {
        throw ELeitorError("Tag <" + tag + "> com data ou hora inválida: " + raw);
    }
    if (withTime) {
        t.Hour = Number(raw, 11, 2, tag);
        t.Minute = Number(raw, 14, 2, tag);
        t.Second = Number(raw, 17, 2, tag);
        if (t.Hour > 23 || t.Minute > 59 || t.Second > 59) {
            throw ELeitorError("Tag <" + tag + "> com data ou hora inválida: " + raw);
        }
    }
    return t;
}

}  // namespace

std::string_view TLeitor::Parent(int level) const {
    // Level 1 searches the whole text itself: no copy of it is made.
    return level >= 2 && level <= 9 ? std::string_view(nivel_[static_cast<size_t>(level - 1)])
                                    : std::string_view(Arquivo);
}

const std::string& TLeitor::ExtractGroup(int level, const std::string& tag,
                                         const std::string& closingTag, int occurrence) {
    const std::string close = Trim(closingTag).empty() ? tag : Trim(closingTag);
    // Views into the parent level's text; only the result is copied.
    std::string_view text = Parent(level);
    for (int i = 1; i < occurrence; ++i) {
        const auto [at, len] = FindClosing(text, close);
        text = at == std::string_view::npos ? std::string_view() : text.substr(at + len);
    }
    return GroupIn(level, tag, close, text, nullptr);
}

std::string TLeitor::ExtractNextGroup(int level, const std::string& tag, size_t& position) {
    const std::string_view parent = Parent(level);
    const std::string_view text =
        position < parent.size() ? parent.substr(position) : std::string_view();
    size_t consumed = 0;
    const std::string& group = GroupIn(level, tag, tag, text, &consumed);
    position += consumed;
    return group;
}

const std::string& TLeitor::GroupIn(int level, const std::string& tag, const std::string& close,
                                    std::string_view text, size_t* consumed) {
    // Keep the text up to the end of the wanted element's closing tag.
    if (const auto [at, len] = FindClosing(text, close); at != std::string_view::npos) {
        text = text.substr(0, at + len);
    }
    if (consumed) {
        *consumed = text.size();
    }
    size_t start = text.find("<" + tag + ">");
    if (start == std::string_view::npos) {
        start = text.find("<" + tag + " ");
    }
    if (start == std::string_view::npos) {
        start = text.find("<" + tag + ":");
    }
    std::string result;
    if (start != std::string_view::npos) {
        const std::string_view from = text.substr(start);
        const auto [at, len] = FindClosing(from, close);
        result = std::string(at == std::string_view::npos ? from : from.substr(0, at + len));
        while (!result.empty() && result.back() == ' ') {
            result.pop_back();
        }
    }
    // A group may be most of a large answer: the level and Grupo are the only copies kept.
    if (level >= 1 && level <= 9) {
        nivel_[static_cast<size_t>(level)] = result;
    }
    Grupo = std::move(result);
    return Grupo;
}

std::string TLeitor::RawField(const std::string& tag, const std::string& stopTag) const {
    const std::string t = UpperAscii(Trim(tag));
    const std::string open = "<" + t + ">";
    const size_t a = FindUpper(Grupo, open);
    if (a == std::string::npos) {
        return {};
    }
    if (!Trim(stopTag).empty()) {
        const size_t s = FindUpper(Grupo, "<" + UpperAscii(Trim(stopTag)) + ">");
        if (s != std::string::npos && s < a) {
            return {};
        }
    }
    const size_t begin = a + open.size();
    std::string closing = "</";  // built in steps: GCC 12 warns falsely on "</" + t + ">"
    closing += t;
    closing += '>';
    const size_t end = FindUpper(Grupo, closing);
    if (end == std::string::npos || end < begin) {
        return {};
    }
    return Trim(std::string_view(Grupo).substr(begin, end - begin));
}

std::string TLeitor::ReadString(const std::string& tag, const std::string& stopTag) const {
    return Trim(DecodeEntities(RawField(tag, stopTag)));
}

long long TLeitor::ReadInteger(const std::string& tag, const std::string& stopTag) const {
    const std::string digits = OnlyDigits(RawField(tag, stopTag));
    long long value = 0;
    const auto [p, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    return ec == std::errc{} ? value : 0;
}

double TLeitor::ReadDecimal(const std::string& tag, const std::string& stopTag) const {
    const std::string raw = RawField(tag, stopTag);
    double value = 0;
    const auto [p, ec] = std::from_chars(raw.data(), raw.data() + raw.size(), value);
    return ec == std::errc{} && p == raw.data() + raw.size() ? value : 0;
}

TDateTime TLeitor::ReadDate(const std::string& tag, const std::string& stopTag) const {
    return ParseDate(RawField(tag, stopTag), false, tag);
}

TDateTime TLeitor::ReadDateTime(const std::string& tag, const std::string& stopTag) const {
    return ParseDate(RawField(tag, stopTag), true, tag);
}

TValorCampo TLeitor::ReadField(int tipo, const std::string& tag, const std::string& stopTag) const {
    switch (tipo) {
        case 0:
        case 4:
            return ReadString(tag, stopTag);
        case 1:
            return ReadInteger(tag, stopTag);
        case 2:
            return ReadDate(tag, stopTag);
        case 3:
            return ReadDateTime(tag, stopTag);
        case 5:
        case 6:
        case 7:
        case 8:
        case 10:
            return ReadDecimal(tag, stopTag);
        default:
            if (tipo <= 13) {
                return RawField(tag, stopTag);
            }
            throw ELeitorError("Tag <" + tag + "> com conteúdo inválido. " +
                               RawField(tag, stopTag));
    }
}

std::string TLeitor::ReadAttribute(const std::string& name) const {
    const std::string n = Trim(name);
    const size_t at = n.empty() ? std::string::npos : Grupo.find(n);
    if (at == std::string::npos) {
        return {};
    }
    // A view: the rest of a group may be the whole answer.
    std::string_view rest = std::string_view(Grupo).substr(at + n.size());
    rest.remove_prefix(std::min(rest.size(), rest.find_first_not_of(" \t\r\n")));
    const char quote = rest.find('"') != std::string::npos ? '"' : '\'';
    const size_t open = rest.find(quote);
    if (open == std::string::npos) {
        return {};
    }
    const size_t close = rest.find(quote, open + 1);
    std::string value(
        rest.substr(open + 1, close == std::string::npos ? std::string::npos : close - open - 1));
    value.erase(0, value.find_first_not_of(' '));
    return Trim(DecodeEntities(value));
}

}  // namespace quelvo
