#pragma once

#include <sys/resource.h>

#include <csignal>
#include <stdexcept>

namespace quelvo::test {

// While it lives, no file of this process can grow past `bytes`: a write past that fails with
// EFBIG, as it would on a full disk (and also for root, whom permissions do not stop). SIGXFSZ
// is ignored meanwhile, so the write returns its error instead of ending the process.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        if (::getrlimit(RLIMIT_FSIZE, &old_) != 0) {
            throw std::runtime_error("getrlimit failed");
        }
        oldHandler_ = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = old_;
        small.rlim_cur = bytes;
        if (::setrlimit(RLIMIT_FSIZE, &small) != 0) {
            std::signal(SIGXFSZ, oldHandler_);
            throw std::runtime_error("setrlimit failed");
        }
    }
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;
    ~FileSizeLimit() {
        ::setrlimit(RLIMIT_FSIZE, &old_);
        std::signal(SIGXFSZ, oldHandler_);
    }

private:
    struct rlimit old_ {};
    void (*oldHandler_)(int) = nullptr;
};

}  // namespace quelvo::test
