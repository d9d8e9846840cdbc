#include "common/TFolderLock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <string_view>
#include <system_error>

namespace quelvo {

namespace {

std::string LockPath(const std::string& appDir) {
    return appDir + TFolderLock::kFileName;
}

}  // namespace

TFolderLock::~TFolderLock() {
    if (fd_ >= 0) {
        ::close(fd_);  // releases the lock
    }
}

std::unique_ptr<TFolderLock> TFolderLock::TryAcquire(const std::string& appDir,
                                                     const std::string& program) {
    const std::string path = LockPath(appDir);
    // Opening an existing file changes nothing in it: a refused program leaves the folder as
    // it found it.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(),
                                "Não foi possível abrir o arquivo " + path);
    }
    auto lock = std::make_unique<TFolderLock>(Fd{fd});
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return nullptr;
        }
        throw std::system_error(errno, std::generic_category(),
                                "Não foi possível travar o arquivo " + path);
    }
    const std::string who = program + " " + std::to_string(::getpid()) + "\n";
    // Who holds it is a courtesy for the others' messages; the lock itself is what counts.
    if (::ftruncate(fd, 0) == 0) {
        [[maybe_unused]] const ssize_t n = ::pwrite(fd, who.data(), who.size(), 0);
    }
    return lock;
}

TFolderLock::Holder TFolderLock::CurrentHolder(const std::string& appDir) {
    Holder holder;
    const int fd = ::open(LockPath(appDir).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return holder;
    }
    char buf[256];
    const ssize_t n = ::pread(fd, buf, sizeof buf, 0);
    ::close(fd);
    if (n <= 0) {
        return holder;
    }
    const std::string_view text(buf, static_cast<size_t>(n));
    const size_t blank = text.find(' ');
    const size_t end = text.find('\n');
    if (blank == std::string_view::npos || end == std::string_view::npos || end < blank) {
        return holder;
    }
    pid_t pid = 0;
    const auto [p, ec] = std::from_chars(text.data() + blank + 1, text.data() + end, pid);
    if (ec != std::errc{} || p != text.data() + end || pid <= 0) {
        return holder;
    }
    holder.program = std::string(text.substr(0, blank));
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
