#pragma once

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

}  // namespace quelvo::test
