#pragma once

#include <memory>
#include <string>

namespace quelvo::platform {

// A file held under an exclusive advisory lock for as long as the object lives: only one process
// at a time holds it, and the lock goes with the process however it ends (flock on Linux,
// LockFileEx on Windows). The lock covers no byte of the content: any process may still read
// what the holder wrote into the file.
class LockedFile {
public:
    virtual ~LockedFile() = default;
    // Replaces the file's content with the text (a courtesy for the others; errors are ignored).
    virtual void SetContent(const std::string& text) = 0;
};

// Opens (creating, 0600) and locks the file; nothing when another process holds the lock. Raises
// std::system_error when the file cannot be opened or locked.
std::unique_ptr<LockedFile> TryLockFile(const std::string& path);

}  // namespace quelvo::platform
