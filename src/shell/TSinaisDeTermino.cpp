#include "shell/TSinaisDeTermino.h"

#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace quelvo {

namespace {

int gPar[2] = {-1, -1};

void AoSinal(int) {
    const char b = 1;
    [[maybe_unused]] const ssize_t n = ::write(gPar[0], &b, 1);
}

}  // namespace

TSinaisDeTermino::TSinaisDeTermino(std::function<void()> aoTerminar, QObject* parent)
    : QObject(parent), aoTerminar_(std::move(aoTerminar)) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0, gPar) != 0) {
        return;  // without the pair the signals keep their default effect
    }
    notifier_ = std::make_unique<QSocketNotifier>(gPar[1], QSocketNotifier::Read);
    connect(notifier_.get(), &QSocketNotifier::activated, this, [this] {
        char buf[16];
        while (::read(gPar[1], buf, sizeof buf) > 0) {
        }
        aoTerminar_();
    });
    struct sigaction sa = {};
    sa.sa_handler = AoSinal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = SA_RESTART;
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        ::sigaction(sig, &sa, nullptr);
    }
}

TSinaisDeTermino::~TSinaisDeTermino() {
    for (const int sig : {SIGTERM, SIGINT, SIGHUP}) {
        std::signal(sig, SIG_DFL);
    }
    notifier_.reset();
    for (int& fd : gPar) {
        if (fd >= 0) {
            ::close(fd);
            fd = -1;
        }
    }
}

}  // namespace quelvo
