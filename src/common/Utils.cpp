#include "common/Utils.h"

#include <algorithm>
#include <charconv>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <system_error>
#include <utility>

#include "common/LocalDoAplicativo.h"
#include "common/SafeFile.h"
#include "common/Version.h"
#include "common/Win1252.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/Process.h"

namespace quelvo {

namespace {

std::mutex gDirMutex;
std::string gAppDir;

std::string WithSlash(std::string dir) {
    if (dir.empty() || dir.back() != '/') {
        dir += '/';
    }
    return dir;
}

// Reads "a.b.c.d" (each 0..65535) at the start of `s`.
bool ParseVersion(std::string_view s, std::string& out) {
    unsigned parts[4];
    const char* p = s.data();
    const char* end = s.data() + s.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0) {
            if (p == end || *p != '.') {
                return false;
            }
            ++p;
        }
        const auto [next, ec] = std::from_chars(p, end, parts[i]);
        if (ec != std::errc{} || parts[i] > 0xFFFF) {
            return false;
        }
        p = next;
    }
    out = std::to_string(parts[0]) + "." + std::to_string(parts[1]) + "." +
          std::to_string(parts[2]) + "." + std::to_string(parts[3]);
    return true;
}

// The longest name a program marker holds.
constexpr size_t kMaxProgramName = 32;

// The name of the program marker whose prefix starts at `at`: lower-case letters, digits and "-",
// ended by a NUL; "" when the bytes there are no marker (the prefix alone, as the reader's own
// copy of it is, or a name cut short).
std::string_view ProgramNameAt(std::string_view bytes, size_t at) {
    const size_t start = at + sizeof(QUELVO_PROGRAM_MARKER_PREFIX) - 1;
    size_t end = start;
    while (end < bytes.size() && end - start <= kMaxProgramName &&
           ((bytes[end] >= 'a' && bytes[end] <= 'z') || (bytes[end] >= '0' && bytes[end] <= '9') ||
            bytes[end] == '-')) {
        ++end;
    }
    if (end == start || end - start > kMaxProgramName || end == bytes.size() ||
        bytes[end] != '\0') {
        return {};
    }
    return bytes.substr(start, end - start);
}

// Looks at every program marker in `bytes` that starts before `limit` and whose name, if any,
// lies whole inside `bytes`; `name` keeps the one name found, `ambiguous` turns true at a second
// one. Returns where the first marker not looked at starts (or where a prefix cut by the end of
// `bytes` may start).
size_t ScanProgramMarkers(std::string_view bytes, bool last, std::string& name, bool& ambiguous) {
    const std::string_view prefix = QUELVO_PROGRAM_MARKER_PREFIX;
    size_t at = 0;
    while ((at = bytes.find(prefix, at)) != std::string_view::npos) {
        if (!last && bytes.size() - at < prefix.size() + kMaxProgramName + 1) {
            return at;  // its name may go on in the next block
        }
        const std::string_view found = ProgramNameAt(bytes, at);
        if (!found.empty()) {
            if (name.empty()) {
                name = found;
            } else if (name != found) {
                ambiguous = true;
            }
        }
        at += prefix.size();
    }
    return bytes.size() < prefix.size() ? 0 : bytes.size() - (prefix.size() - 1);
}

}  // namespace

std::string ApplicationDir() {
    std::lock_guard lock(gDirMutex);
    if (gAppDir.empty()) {
        gAppDir = LocalDoAplicativo(RunningExecutable()).pasta;
    }
    return gAppDir;
}

void SetApplicationDir(const std::string& dir) {
    std::lock_guard lock(gDirMutex);
    gAppDir = WithSlash(
        platform::Utf8Of(std::filesystem::absolute(platform::PathOf(dir)).lexically_normal()));
}

std::string RunningExecutable() {
    return platform::ExecutablePath();
}

std::string KeepChars(std::string_view text, std::string_view allowed) {
    std::string out;
    size_t pos = 0;
    while (pos < text.size()) {
        const size_t start = pos;
        NextCodePoint(text, pos);
        const auto ch = text.substr(start, pos - start);
        if (allowed.find(ch) != std::string_view::npos) {
            out += ch;
        }
    }
    return out;
}

std::string OnlyDigits(std::string_view text) {
    return KeepChars(text, "0123456789");
}

std::string UFCode(std::string_view uf) {
    static constexpr std::pair<std::string_view, std::string_view> kCodes[] = {
        {"AC", "12"}, {"AL", "27"}, {"AM", "13"}, {"AP", "16"}, {"BA", "29"}, {"CE", "23"},
        {"DF", "53"}, {"ES", "32"}, {"GO", "52"}, {"MA", "21"}, {"MG", "31"}, {"MS", "50"},
        {"MT", "51"}, {"PA", "15"}, {"PB", "25"}, {"PE", "26"}, {"PI", "22"}, {"PR", "41"},
        {"RJ", "33"}, {"RN", "24"}, {"RO", "11"}, {"RR", "14"}, {"RS", "43"}, {"SC", "42"},
        {"SE", "28"}, {"SP", "35"}, {"TO", "17"},
    };
    for (const auto& [code, ibge] : kCodes) {
        if (code == uf) {
            return std::string(ibge);
        }
    }
    return {};
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' || text[i] == '\n') {
            lines.emplace_back(text.substr(start, i - start));
            if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
                ++i;
            }
            start = i + 1;
        }
    }
    if (start < text.size()) {
        lines.emplace_back(text.substr(start));
    }
    return lines;
}

void SaveTextFile(const std::string& fileName, std::string_view text) {
    std::string out;
    out.reserve(text.size() + 64);
    for (const auto& line : SplitLines(text)) {
        out += line;
        out += "\r\n";
    }
    WriteFileAtomic(fileName, out, 0600);
}

std::string LoadTextFile(const std::string& fileName) {
    std::string out;
    for (const auto& line : SplitLines(ReadWholeFile(fileName))) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void EnsureDir(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(platform::PathOf(dir), ec);
}

std::string FileVersion(const std::string& path) {
    try {
        std::ifstream in(platform::PathOf(path), std::ios::binary);
        if (!in) {
            return {};
        }
        const std::string_view prefix = VersionMarkerPrefix();
        // Scan in blocks; keep a tail so that a marker cut by a block boundary is still seen.
        constexpr size_t kBlock = 1 << 20;
        constexpr size_t kTail = 64;
        std::string window;
        std::string chunk(kBlock, '\0');
        while (in) {
            in.read(chunk.data(), static_cast<std::streamsize>(kBlock));
            const auto got = static_cast<size_t>(in.gcount());
            if (got == 0) {
                break;
            }
            window.append(chunk.data(), got);
            const bool last = !in;
            size_t at = 0;
            while ((at = window.find(prefix, at)) != std::string::npos) {
                const size_t valueStart = at + prefix.size();
                if (!last && window.size() - valueStart < kTail) {
                    break;  // the value may continue in the next block
                }
                std::string version;
                if (ParseVersion(std::string_view(window).substr(valueStart, kTail), version)) {
                    return version;
                }
                at = valueStart;
            }
            if (window.size() > kTail + prefix.size()) {
                window.erase(0, window.size() - (kTail + prefix.size()));
            }
        }
    } catch (...) {
        // An unreadable file has no version.
    }
    return {};
}

std::string VersionInBytes(std::string_view bytes) {
    const std::string_view prefix = VersionMarkerPrefix();
    constexpr size_t kTail = 64;
    for (size_t at = bytes.find(prefix); at != std::string_view::npos;
         at = bytes.find(prefix, at + prefix.size())) {
        std::string version;
        if (ParseVersion(bytes.substr(at + prefix.size(), kTail), version)) {
            return version;
        }
    }
    return {};
}

std::string ProgramInBytes(std::string_view bytes) {
    std::string name;
    bool ambiguous = false;
    ScanProgramMarkers(bytes, true, name, ambiguous);
    return ambiguous ? std::string() : name;
}

std::string FileProgram(const std::string& path) {
    try {
        std::ifstream in(platform::PathOf(path), std::ios::binary);
        if (!in) {
            return {};
        }
        std::string name;
        bool ambiguous = false;
        // In blocks, keeping from each what the next may complete.
        constexpr size_t kBlock = 1 << 20;
        std::string window;
        std::string chunk(kBlock, '\0');
        while (in) {
            in.read(chunk.data(), static_cast<std::streamsize>(kBlock));
            const auto got = static_cast<size_t>(in.gcount());
            window.append(chunk.data(), got);
            const bool last = !in;
            window.erase(0, ScanProgramMarkers(window, last, name, ambiguous));
        }
        return in.bad() || ambiguous ? std::string() : name;
    } catch (...) {
        return {};  // an unreadable file says no program
    }
}

TDateTime FileCreationTime(const std::string& path) {
    const auto t = platform::CreationTime(path);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
    return TDateTime::FromTimeT(static_cast<std::time_t>(ms / 1000), static_cast<int>(ms % 1000));
}

}  // namespace quelvo
