#pragma once

#include <memory>
#include <string>

#include "platform/LockedFile.h"

namespace quelvo {

// The advisory lock that keeps one program at a time on an application folder's files: both the
// desktop program and the headless one hold it for their whole run. The lock file also says who
// holds it ("quelvo-monitor 1234"), for whoever finds it taken. The lock goes with the process,
// however the process ends.
class TFolderLock {
public:
    static constexpr const char* kFileName = "Quelvo.lock";

    // Who holds a folder's lock, as the holder wrote itself into the file.
    struct Holder {
        std::string program;  // empty when the file does not say
        long pid = 0;
    };

    TFolderLock(const TFolderLock&) = delete;
    TFolderLock& operator=(const TFolderLock&) = delete;
    ~TFolderLock() = default;

    // Takes the folder's lock for `program`; nothing when another process holds it. The folder
    // must exist. Raises std::system_error when the lock file cannot be opened or locked.
    static std::unique_ptr<TFolderLock> TryAcquire(const std::string& appDir,
                                                   const std::string& program);
    // The holder of the folder's lock as its file says; empty when nobody wrote one.
    static Holder CurrentHolder(const std::string& appDir);
    // "quelvo-monitor, processo 1234", or a plain "outro programa" when the file says nothing.
    static std::string Describe(const Holder& holder);

    explicit TFolderLock(std::unique_ptr<platform::LockedFile> file) : file_(std::move(file)) {}

private:
    std::unique_ptr<platform::LockedFile> file_;
};

}  // namespace quelvo
