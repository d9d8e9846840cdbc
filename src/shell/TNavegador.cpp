#include "shell/TNavegador.h"

#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QDesktopServices>
#include <QStandardPaths>
#include <QTimer>
#include <QUrl>

#include <string>

#include "common/MessageBoxes.h"

namespace quelvo {

namespace {

// How long xdg-open is given to fail: one that is still running has started a browser (some
// desktops keep it waiting until the browser closes).
constexpr int kEsperaDecimos = 100;

int gEmAndamento = 0;  // touched on the window's thread only

AbridorDeEnderecos& Atual() {
    static AbridorDeEnderecos abridor;
    return abridor;
}

void SemNavegador() {
    ShowError(kSemNavegador);
}

// Starts `programa endereco` under a watcher process that ends with the program's exit status
// when it ends within the wait, and with 0 when it is still running then (the program goes on,
// adopted by the system, so that no process of ours is left to reap). Returns the watcher, or -1.
pid_t Vigiar(const std::string& programa, const std::string& endereco) {
    // Everything the children need is ready before the fork: after it they only call what is
    // safe in the child of a threaded process.
    std::string p = programa;
    std::string e = endereco;
    char* argv[] = {p.data(), e.data(), nullptr};
    const pid_t vigia = ::fork();
    if (vigia != 0) {
        return vigia;
    }
    const pid_t filho = ::fork();
    if (filho == 0) {
        ::execv(argv[0], argv);
        ::_exit(127);
    }
    if (filho < 0) {
        ::_exit(127);
    }
    const timespec decimo{0, 100'000'000};
    for (int i = 0; i < kEsperaDecimos; ++i) {
        int status = 0;
        if (::waitpid(filho, &status, WNOHANG) == filho) {
            ::_exit(WIFEXITED(status) ? WEXITSTATUS(status) : 1);
        }
        ::nanosleep(&decimo, nullptr);
    }
    ::_exit(0);
}

}  // namespace

AbridorDeEnderecos InstalarAbridorDeEnderecos(AbridorDeEnderecos abridor) {
    auto anterior = std::move(Atual());
    Atual() = std::move(abridor);
    return anterior;
}

int AberturasEmAndamento() {
    return gEmAndamento;
}

void AbrirEndereco(const std::string& endereco) {
    if (Atual()) {
        Atual()(endereco);
        return;
    }
    const QString xdgOpen = QStandardPaths::findExecutable(QStringLiteral("xdg-open"));
    if (xdgOpen.isEmpty()) {
        if (!QDesktopServices::openUrl(
                QUrl(QString::fromStdString(endereco), QUrl::TolerantMode))) {
            SemNavegador();
        }
        return;
    }
    const pid_t vigia = Vigiar(xdgOpen.toStdString(), endereco);
    if (vigia < 0) {
        SemNavegador();
        return;
    }
    // The watcher's end is looked for from the window's thread, without ever blocking it.
    ++gEmAndamento;
    auto* timer = new QTimer(QCoreApplication::instance());
    QObject::connect(timer, &QTimer::timeout, timer, [timer, vigia] {
        int status = 0;
        const pid_t r = ::waitpid(vigia, &status, WNOHANG);
        if (r == 0) {
            return;
        }
        timer->stop();
        timer->deleteLater();
        --gEmAndamento;
        if (r == vigia && !(WIFEXITED(status) && WEXITSTATUS(status) == 0)) {
            SemNavegador();
        }
    });
    timer->start(100);
}

}  // namespace quelvo
