#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <filesystem>
#include <string>
#include <vector>

namespace quelvo::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class TempDir {
public:
    TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    ~TempDir();

    const std::filesystem::path& path() const { return path_; }
    // Full path of a file inside the folder.
    std::string File(const std::string& name) const { return (path_ / name).string(); }
    // Writes raw bytes to a file inside the folder and returns its path.
    std::string Write(const std::string& name, const std::string& bytes) const;
    std::string Read(const std::string& name) const;
    // The names of the files in the folder that start with `prefix`, in order.
    std::vector<std::string> Named(const std::string& prefix) const;

private:
    std::filesystem::path path_;
};

// The permission bits of a file or folder in octal ("600", "2770"); a missing one fails the test.
std::string ModeOf(const std::string& path);

// Sets the process's umask for the life of the object, so that the modes a test checks are the
// ones the code asked for, not what a lenient umask left of them.
class Umask {
public:
    explicit Umask(mode_t mask) : before_(::umask(mask)) {}
    Umask(const Umask&) = delete;
    Umask& operator=(const Umask&) = delete;
    ~Umask() { ::umask(before_); }

private:
    mode_t before_;
};

}  // namespace quelvo::test
