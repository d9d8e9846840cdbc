#pragma once

#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quelvo {

// A failed write of a profile file: "Unable to write to <full path>".
class EProfileWriteError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// An INI ("profile") file such as "Config.dat", with the access rules the program has always
// relied on:
// - section and key names match without regard to letter case (first match wins);
// - a read gives the text after the first "=", blanks around it and one pair of enclosing
//   quotes removed, cut to 2047 characters; a missing file, section or key gives the default;
// - a write replaces the key where it stands, or appends it to its section, adding the section at
//   the end of the file; every write reaches the file at once;
// - a written section, key or value never spans lines: CR and LF are dropped from it;
// - a file that exists but cannot be read is never rebuilt from nothing: reads give the
//   defaults, writes fail.
// The file is Windows-1252 on disk and UTF-8 in this interface. Every write replaces the file
// atomically. Safe to share between threads.
class TProfileFile {
public:
    explicit TProfileFile(const std::string& path);

    const std::string& FileName() const { return path_; }

    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view def = {}) const;
    void WriteString(std::string_view section, std::string_view key, std::string_view value);

    // Whole numbers in decimal or in hexadecimal after "$", "0x" or "0X"; anything else gives
    // the default.
    long ReadInteger(std::string_view section, std::string_view key, long def) const;
    bool ReadBool(std::string_view section, std::string_view key, bool def) const;
    void WriteBool(std::string_view section, std::string_view key, bool value);

    // The longest value a read returns, in characters of the file.
    static constexpr size_t kMaxValue = 2047;

private:
    std::vector<std::string> ReadLines() const;
    // The lines a write starts from; EProfileWriteError when the file is there but unreadable.
    std::vector<std::string> ReadLinesForWrite() const;
    std::string path_;
    mutable std::mutex mutex_;
};

// Parses an integer the way the profile reader does; false when the text is not a number.
bool ParseProfileInteger(std::string_view text, long& value);

}  // namespace quelvo
