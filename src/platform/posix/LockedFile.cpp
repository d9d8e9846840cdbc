#include "platform/LockedFile.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>

namespace quelvo::platform {

namespace {

class FlockedFile : public LockedFile {
public:
    explicit FlockedFile(int fd) : fd_(fd) {}
    FlockedFile(const FlockedFile&) = delete;
    FlockedFile& operator=(const FlockedFile&) = delete;
    ~FlockedFile() override { ::close(fd_); }  // releases the lock

    void SetContent(const std::string& text) override {
        if (::ftruncate(fd_, 0) == 0) {
            [[maybe_unused]] const ssize_t n = ::pwrite(fd_, text.data(), text.size(), 0);
        }
    }

private:
    int fd_;
};

}  // namespace

std::unique_ptr<LockedFile> TryLockFile(const std::string& path) {
    // Opening an existing file changes nothing in it: a refused program leaves it as it was.
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        throw std::system_error(errno, std::generic_category(),
                                "Não foi possível abrir o arquivo " + path);
    }
    auto file = std::make_unique<FlockedFile>(fd);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        if (errno == EWOULDBLOCK) {
            return nullptr;
        }
        throw std::system_error(errno, std::generic_category(),
                                "Não foi possível travar o arquivo " + path);
    }
    return file;
}

}  // namespace quelvo::platform
