#pragma once

#include <filesystem>
#include <string>

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

private:
    std::filesystem::path path_;
};

}  // namespace quelvo::test
