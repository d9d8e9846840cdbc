// Preloaded into a program under test (LD_PRELOAD), it ends the program at a known moment of its
// writes: QUELVO_TEST_KILL_AT_RENAME="<file name>:<n>" makes the n-th rename onto a file of that
// name (the last step of a whole-file write: the new content sits complete in its temporary file)
// end the process with SIGKILL instead of taking place. The kept file is left as it was and the
// temporary file beside it, as a crash or a power cut at that moment would leave them. Any other
// rename passes unchanged.
#include <dlfcn.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

std::atomic<long> gRenames{0};

// Whether this rename onto `target` is the one the test named.
bool IsTheOne(const char* target) {
    const char* wanted = std::getenv("QUELVO_TEST_KILL_AT_RENAME");
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
    return std::strlen(file) == length && std::strncmp(file, wanted, length) == 0 &&
           ++gRenames == n;
}

}  // namespace

extern "C" int rename(const char* from, const char* to) noexcept {
    if (IsTheOne(to)) {
        ::kill(::getpid(), SIGKILL);
        ::pause();
    }
    using Rename = int (*)(const char*, const char*);
    static const auto real = reinterpret_cast<Rename>(::dlsym(RTLD_NEXT, "rename"));
    return real(from, to);
}
