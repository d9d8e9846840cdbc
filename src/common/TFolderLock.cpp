#include "common/TFolderLock.h"

#include <charconv>
#include <string_view>
#include <system_error>

#include "common/SafeFile.h"
#include "platform/Process.h"

namespace quelvo {

namespace {

std::string LockPath(const std::string& appDir) {
    return appDir + TFolderLock::kFileName;
}

}  // namespace

std::unique_ptr<TFolderLock> TFolderLock::TryAcquire(const std::string& appDir,
                                                     const std::string& program) {
    auto file = platform::TryLockFile(LockPath(appDir));
    if (!file) {
        return nullptr;
    }
    // Who holds it is a courtesy for the others' messages; the lock itself is what counts.
    file->SetContent(program + " " + std::to_string(platform::ProcessId()) + "\n");
    return std::make_unique<TFolderLock>(std::move(file));
}

TFolderLock::Holder TFolderLock::CurrentHolder(const std::string& appDir) {
    Holder holder;
    std::string text;
    try {
        text = ReadFileStart(LockPath(appDir), 256);
    } catch (const std::system_error&) {
        return holder;
    }
    const size_t blank = text.find(' ');
    const size_t end = text.find('\n');
    if (blank == std::string::npos || end == std::string::npos || end < blank) {
        return holder;
    }
    long pid = 0;
    const auto [p, ec] = std::from_chars(text.data() + blank + 1, text.data() + end, pid);
    if (ec != std::errc{} || p != text.data() + end || pid <= 0) {
        return holder;
    }
    holder.program = text.substr(0, blank);
    holder.pid = pid;
    return holder;
}

std::string TFolderLock::Describe(const Holder& holder) {
    if (holder.program.empty()) {
        return "outro programa";
    }
    return holder.program + ", processo " + std::to_string(holder.pid);
}

}  // namespace quelvo
