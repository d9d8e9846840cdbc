#include "common/ProfileFile.h"

#include <charconv>
#include <climits>
#include <filesystem>
#include <optional>

#include "common/SafeFile.h"
#include "common/Utils.h"
#include "common/Win1252.h"
#include "platform/Files.h"
#include "platform/Paths.h"

namespace quelvo {

namespace {

// Case folding of Windows-1252 letters (ASCII and the accented Latin-1 range).
unsigned char Fold(unsigned char c) {
    if ((c >= 'A' && c <= 'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) {
        return static_cast<unsigned char>(c + 32);
    }
    return c;
}

bool SameName(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    const auto blank = [](char c) { return c == ' ' || c == '\t'; };
    while (!s.empty() && blank(s.front())) {
        s.remove_prefix(1);
    }
    while (!s.empty() && blank(s.back())) {
        s.remove_suffix(1);
    }
    return s;
}

// The section name of a "[name]" line.
std::optional<std::string_view> SectionName(std::string_view line) {
    line = Trim(line);
    if (line.empty() || line.front() != '[') {
        return std::nullopt;
    }
    const size_t close = line.find(']');
    if (close == std::string_view::npos) {
        return std::nullopt;
    }
    return Trim(line.substr(1, close - 1));
}

// The key name of a "key=value" line.
std::optional<std::string_view> KeyName(std::string_view line) {
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos || SectionName(line)) {
        return std::nullopt;
    }
    return Trim(line.substr(0, eq));
}

struct Place {
    long sectionLine = -1;  // the "[section]" line, -1 when the section is missing
    long keyLine = -1;      // the key's line, -1 when the key is missing
    long lastLine = -1;     // the last non-blank line of the section
};

Place Find(const std::vector<std::string>& lines, std::string_view section, std::string_view key) {
    Place place;
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (const auto name = SectionName(lines[i])) {
            if (inside) {
                break;  // the first matching section ends here
            }
            inside = SameName(*name, section);
            if (inside) {
                place.sectionLine = place.lastLine = static_cast<long>(i);
            }
            continue;
        }
        if (!inside) {
            continue;
        }
        if (!Trim(lines[i]).empty()) {
            place.lastLine = static_cast<long>(i);
        }
        if (const auto k = KeyName(lines[i]); k && SameName(*k, key)) {
            place.keyLine = static_cast<long>(i);
            return place;
        }
    }
    return place;
}

// A line break inside a written text would start new lines of the file, and so new keys or
// sections (a pasted password "abc\r\n[Config]\r\nUsuario=x"): CR and LF are dropped.
std::string SingleLine(std::string text) {
    std::erase_if(text, [](char c) { return c == '\r' || c == '\n'; });
    return text;
}

}  // namespace

bool ParseProfileInteger(std::string_view text, long& value) {
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    int base = 10;
    if (!text.empty() && text.front() == '$') {
        base = 16;
        text.remove_prefix(1);
    } else if (text.size() >= 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        text.remove_prefix(2);
    }
    if (text.empty()) {
        return false;
    }
    unsigned long long magnitude = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), magnitude, base);
    if (ec != std::errc{} || p != text.data() + text.size()) {
        return false;
    }
    // Hexadecimal text may spell a 32-bit pattern (as $FFFFFFFF); decimal must fit.
    if (base == 16 && magnitude <= 0xFFFFFFFFULL) {
        value = static_cast<long>(static_cast<int>(static_cast<unsigned>(magnitude)));
        value = negative ? -value : value;
        return true;
    }
    if (magnitude > static_cast<unsigned long long>(INT_MAX) + (negative ? 1 : 0)) {
        return false;
    }
    value = negative ? -static_cast<long>(magnitude) : static_cast<long>(magnitude);
    return true;
}

TProfileFile::TProfileFile(const std::string& path)
    : path_(
          platform::Utf8Of(std::filesystem::absolute(platform::PathOf(path)).lexically_normal())) {}

std::vector<std::string> TProfileFile::ReadLines() const {
    if (!FileExists(path_)) {
        return {};
    }
    try {
        return SplitLines(ReadWholeFile(path_));
    } catch (const std::system_error&) {
        return {};  // an unreadable file reads like a missing one
    }
}

std::string TProfileFile::ReadString(std::string_view section, std::string_view key,
                                     std::string_view def) const {
    std::lock_guard lock(mutex_);
    const auto lines = ReadLines();
    const std::string sectionCp = Utf8ToWin1252(section);
    const std::string keyCp = Utf8ToWin1252(key);
    const Place place = Find(lines, sectionCp, keyCp);
    if (place.keyLine < 0) {
        return std::string(def);
    }
    const std::string& line = lines[static_cast<size_t>(place.keyLine)];
    std::string_view value = Trim(std::string_view(line).substr(line.find('=') + 1));
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') &&
        value.back() == value.front()) {
        value = value.substr(1, value.size() - 2);
    }
    return Win1252ToUtf8(value.substr(0, kMaxValue));
}

std::vector<std::string> TProfileFile::ReadLinesForWrite() const {
    // A file that is there but cannot be read is no empty file: writing it would rebuild it
    // from nothing and lose every other key.
    platform::FileInfo info;
    bool link = false;
    std::error_code ec;
    if (!platform::LinkStatusOf(path_, info, link, ec)) {
        if (ec == std::errc::no_such_file_or_directory) {
            return {};
        }
        throw EProfileWriteError("Unable to write to " + path_);
    }
    try {
        return SplitLines(ReadWholeFile(path_));
    } catch (const std::system_error& e) {
        if (e.code() == std::errc::no_such_file_or_directory) {
            return {};  // a link to nothing, or removed in the meantime
        }
        throw EProfileWriteError("Unable to write to " + path_);
    }
}

void TProfileFile::WriteString(std::string_view section, std::string_view key,
                               std::string_view value) {
    std::lock_guard lock(mutex_);
    auto lines = ReadLinesForWrite();
    const std::string sectionCp = SingleLine(Utf8ToWin1252(section));
    const std::string keyCp = SingleLine(Utf8ToWin1252(key));
    const std::string valueCp = SingleLine(Utf8ToWin1252(value));
    const Place place = Find(lines, sectionCp, keyCp);
    if (place.keyLine >= 0) {
        std::string& line = lines[static_cast<size_t>(place.keyLine)];
        line = line.substr(0, line.find('=') + 1) + valueCp;
    } else if (place.sectionLine >= 0) {
        lines.insert(lines.begin() + place.lastLine + 1, keyCp + "=" + valueCp);
    } else {
        lines.push_back("[" + sectionCp + "]");
        lines.push_back(keyCp + "=" + valueCp);
    }
    std::string text;
    for (const auto& line : lines) {
        text += line;
        text += "\r\n";
    }
    try {
        WriteFileAtomic(path_, text);
    } catch (const std::system_error&) {
        throw EProfileWriteError("Unable to write to " + path_);
    }
}

long TProfileFile::ReadInteger(std::string_view section, std::string_view key, long def) const {
    long value = 0;
    return ParseProfileInteger(ReadString(section, key), value) ? value : def;
}

bool TProfileFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
    return ReadInteger(section, key, def ? 1 : 0) != 0;
}

void TProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

}  // namespace quelvo
