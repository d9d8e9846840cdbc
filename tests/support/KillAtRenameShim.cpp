// Preloaded into a program under test (LD_PRELOAD), it ends the program at a known moment of its
// writes:
// - QUELVO_TEST_KILL_AT_RENAME="<file name>:<n>" makes the n-th rename onto a file of that name
//   (the last step of a whole-file write: the new content sits complete in its temporary file)
//   end the process with SIGKILL instead of taking place. The kept file is left as it was and
//   the temporary file beside it, as a crash or a power cut at that moment would leave them.
// - QUELVO_TEST_KILL_AT_APPEND="<file name>:<n>" makes the first write after the n-th opening of
//   a file of that name for appending write half its bytes and end the process: the file ends
//   with a line cut short, as a crash in the middle of an append leaves it.
// Anything else passes unchanged.
#include <dlfcn.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <cstdarg>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> gRenames{0};
std::atomic<long> gAppends{0};
std::atomic<int> gAppendFd{-1};

// Whether this rename (or opening for appending) of `target` is the one the test named.
bool IsTheOne(const char* target, const char* variable = "QUELVO_TEST_KILL_AT_RENAME",
              std::atomic<long>& count = gRenames) {
    const char* wanted = std::getenv(variable);
    if (wanted == nullptr || target == nullptr) {
        return false;
    }
    const char* colon = std::strrchr(wanted, ':');
    if (colon == nullptr) {
        return false;
    }
    const size_t length = static_cast<size_t>(colon - wanted);
    const long n = std::strtol(colon + 1, nullptr, 10);
    const char* slash = std::strrchr(target, '/');
    const char* file = slash != nullptr ? slash + 1 : target;
    return std::strlen(file) == length && std::strncmp(file, wanted, length) == 0 && ++count == n;
}

int OpenWith(const char* name, const char* path, int flags, mode_t mode) {
    using Open = int (*)(const char*, int, ...);
    static const auto realOpen = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open"));
    static const auto realOpen64 = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open64"));
    const auto real = std::strcmp(name, "open") == 0 ? realOpen : realOpen64;
    const int fd = real(path, flags, mode);
    if (fd >= 0 && (flags & O_APPEND) != 0 &&
        IsTheOne(path, "QUELVO_TEST_KILL_AT_APPEND", gAppends)) {
        gAppendFd = fd;
    }
    return fd;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    return OpenWith("open", path, flags, mode);
}

extern "C" int open64(const char* path, int flags, ...) {
    va_list args;
    va_start(args, flags);
    const mode_t mode = (flags & O_CREAT) != 0 ? static_cast<mode_t>(va_arg(args, int)) : 0;
    va_end(args);
    return OpenWith("open64", path, flags, mode);
}

extern "C" ssize_t write(int fd, const void* bytes, size_t n) {
    using Write = ssize_t (*)(int, const void*, size_t);
    static const auto real = reinterpret_cast<Write>(::dlsym(RTLD_NEXT, "write"));
    if (fd >= 0 && fd == gAppendFd.load()) {
        real(fd, bytes, n > 1 ? n / 2 : n);
        ::kill(::getpid(), SIGKILL);
        ::pause();
    }
    return real(fd, bytes, n);
}

extern "C" int rename(const char* from, const char* to) noexcept {
    if (IsTheOne(to)) {
        ::kill(::getpid(), SIGKILL);
        ::pause();
    }
    using Rename = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}
