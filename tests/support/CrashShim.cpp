// Preloaded into a program under test (LD_PRELOAD), it ends the program at a known moment of its
// writes, or makes the machine around it fail as a real one can:
// - QUELVO_TEST_KILL_AT_RENAME="<file name>:<n>" makes the n-th rename onto a file of that name
//   (the last step of a whole-file write: the new content sits complete in its temporary file)
//   end the process with SIGKILL instead of taking place. The kept file is left as it was and
//   the temporary file beside it, as a crash at that moment would leave them.
// - QUELVO_TEST_KILL_AT_APPEND="<file name>:<n>" makes the first write after the n-th opening of
//   a file of that name for appending write half its bytes and end the process: the file ends
//   with a line cut short, as a crash in the middle of an append leaves it.
// - QUELVO_TEST_KILL_AFTER_APPEND="<file name>:<n>": that write goes whole, then the process
//   ends.
// - QUELVO_TEST_DURABLE_DIR="<folder>" keeps there, under each file's name, what of the file has
//   reached the disk: its content at each fsync or fdatasync (a temporary file's copy follows it
//   when it is renamed onto a kept file). A power cut keeps those copies and, of what was only
//   written, whatever the kernel happened to write: the test puts the copies back.
// - QUELVO_TEST_FAIL_THREADS="<n>": from the n-th thread that a thread other than the main one
//   starts, pthread_create fails with EAGAIN, as under a limit of tasks.
// Anything else passes unchanged.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::atomic<long> gRenames{0};
std::atomic<long> gAppends{0};
std::atomic<long> gAppendsAfter{0};
std::atomic<int> gAppendFd{-1};
std::atomic<int> gAfterAppendFd{-1};
std::atomic<long> gThreads{0};

template <typename F>
F Real(const char* name) {
    return reinterpret_cast<F>(::dlsym(RTLD_NEXT, name));
}

const char* Basename(const char* path) {
    const char* slash = std::strrchr(path, '/');
    return slash != nullptr ? slash + 1 : path;
}

// Whether this rename (or opening for appending) of `target` is the one the test named.
bool IsTheOne(const char* target, const char* variable, std::atomic<long>& count) {
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
    const char* file = Basename(target);
    return std::strlen(file) == length && std::strncmp(file, wanted, length) == 0 && ++count == n;
}

[[noreturn]] void Die() {
    ::kill(::getpid(), SIGKILL);
    for (;;) {
        ::pause();
    }
}

// The durable copy of a file of this name, or "" when the test keeps none.
std::string DurableCopy(const char* path) {
    const char* dir = std::getenv("QUELVO_TEST_DURABLE_DIR");
    if (dir == nullptr || path == nullptr) {
        return "";
    }
    return std::string(dir) + "/" + Basename(path);
}

// What the disk holds of the file behind `fd` once a flush of it returned.
void KeepDurable(int fd) {
    struct stat st {};
    if (std::getenv("QUELVO_TEST_DURABLE_DIR") == nullptr || ::fstat(fd, &st) != 0 ||
        !S_ISREG(st.st_mode)) {
        return;
    }
    char path[4096];
    const std::string link = "/proc/self/fd/" + std::to_string(fd);
    const ssize_t n = ::readlink(link.c_str(), path, sizeof path - 1);
    if (n <= 0) {
        return;
    }
    path[n] = '\0';
    using Open = int (*)(const char*, int, ...);
    static const auto realOpen = Real<Open>("open");
    const int in = realOpen(path, O_RDONLY | O_CLOEXEC);
    const std::string copy = DurableCopy(path);
    const std::string temp = copy + ".copiando";
    const int out = realOpen(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (in < 0 || out < 0) {
        std::fprintf(stderr, "crash shim: cannot keep %s\n", path);
        std::abort();
    }
    char buf[65536];
    ssize_t got = 0;
    while ((got = ::read(in, buf, sizeof buf)) > 0) {
        if (::write(out, buf, static_cast<size_t>(got)) != got) {
            std::abort();
        }
    }
    ::close(in);
    ::close(out);
    using Rename = int (*)(const char*, const char*);
    Real<Rename>("rename")(temp.c_str(), copy.c_str());
}

int OpenWith(const char* name, const char* path, int flags, mode_t mode) {
    using Open = int (*)(const char*, int, ...);
    static const auto realOpen = Real<Open>("open");
    static const auto realOpen64 = Real<Open>("open64");
    const auto real = std::strcmp(name, "open") == 0 ? realOpen : realOpen64;
    const int fd = real(path, flags, mode);
    if (fd >= 0 && (flags & O_APPEND) != 0) {
        if (IsTheOne(path, "QUELVO_TEST_KILL_AT_APPEND", gAppends)) {
            gAppendFd = fd;
        }
        if (IsTheOne(path, "QUELVO_TEST_KILL_AFTER_APPEND", gAppendsAfter)) {
            gAfterAppendFd = fd;
        }
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
    static const auto real = Real<Write>("write");
    if (fd >= 0 && fd == gAppendFd.load()) {
        real(fd, bytes, n > 1 ? n / 2 : n);
        Die();
    }
    const ssize_t written = real(fd, bytes, n);
    if (fd >= 0 && fd == gAfterAppendFd.load()) {
        Die();
    }
    return written;
}

extern "C" int fsync(int fd) {
    using Sync = int (*)(int);
    static const auto real = Real<Sync>("fsync");
    const int rc = real(fd);
    if (rc == 0) {
        KeepDurable(fd);
    }
    return rc;
}

extern "C" int fdatasync(int fd) {
    using Sync = int (*)(int);
    static const auto real = Real<Sync>("fdatasync");
    const int rc = real(fd);
    if (rc == 0) {
        KeepDurable(fd);
    }
    return rc;
}

extern "C" int rename(const char* from, const char* to) noexcept {
    if (IsTheOne(to, "QUELVO_TEST_KILL_AT_RENAME", gRenames)) {
        Die();
    }
    using Rename = int (*)(const char*, const char*);
    static const auto real = Real<Rename>("rename");
    const int rc = real(from, to);
    // A flushed temporary file renamed onto a kept file: that content is the kept file's now.
    const std::string copy = DurableCopy(from);
    if (rc == 0 && !copy.empty() && ::access(copy.c_str(), F_OK) == 0) {
        real(copy.c_str(), DurableCopy(to).c_str());
    }
    return rc;
}

extern "C" int pthread_create(pthread_t* thread, const pthread_attr_t* attr, void* (*start)(void*),
                              void* arg) {
    using Create = int (*)(pthread_t*, const pthread_attr_t*, void* (*)(void*), void*);
    static const auto real = Real<Create>("pthread_create");
    const char* from = std::getenv("QUELVO_TEST_FAIL_THREADS");
    if (from != nullptr && ::syscall(SYS_gettid) != ::getpid() &&
        ++gThreads >= std::strtol(from, nullptr, 10)) {
        return EAGAIN;
    }
    return real(thread, attr, start, arg);
}
