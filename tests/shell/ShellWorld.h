#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "TSiteStandIn.h"
#include "common/Utils.h"
#include "monitor/TConsultasEmpresas.h"
#include "shell/TAplicacao.h"
#include "shell/TF_Principal.h"
#include "shell/TNavegador.h"
#include "support/DfeWorld.h"
#include "support/RecordingMessageBoxes.h"

namespace quelvo::test {

// Serves the window's events until `pronto` holds or the time is up; returns `pronto()`.
inline bool Esperar(const std::function<bool()>& pronto,
                    std::chrono::milliseconds limite = std::chrono::seconds(10)) {
    const auto fim = std::chrono::steady_clock::now() + limite;
    while (!pronto()) {
        if (std::chrono::steady_clock::now() > fim) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
}

// No cycle is running.
inline bool SemCiclo() {
    return !F_Principal->Param().Executando;
}

// Closes every modal window, the innermost first.
inline void FecharModais() {
    for (int i = 0; i < 10 && QApplication::activeModalWidget() != nullptr; ++i) {
        QApplication::activeModalWidget()->close();
        QApplication::processEvents();
    }
}

// Runs `acao` on the next modal window named `nome` once it is on the screen (a modal dialog
// runs its own loop, so the test's code must come from a timer). A fatal failure inside `acao`
// (an ASSERT_ returns from it before it answered the window) closes the modal windows, so the
// test goes on to report it instead of waiting on an open dialog until ctest's time-out. Gives up
// after ten seconds, as a failure.
inline void NoProximoModal(const QString& nome, std::function<void(QWidget*)> acao) {
    auto* timer = new QTimer(qApp);
    const auto fim = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, nome, acao, fim] {
        QWidget* modal = QApplication::activeModalWidget();
        const bool achou = modal != nullptr && modal->objectName() == nome && modal->isVisible();
        const bool desistiu = !achou && std::chrono::steady_clock::now() > fim;
        if (achou || desistiu) {
            timer->stop();
            timer->deleteLater();
        }
        if (achou) {
            acao(modal);
            if (::testing::Test::HasFatalFailure()) {
                FecharModais();
            }
        } else if (desistiu) {
            ADD_FAILURE() << "A janela " << nome.toStdString() << " não apareceu em 10 s.";
        }
    });
    timer->start(10);
}

// The desktop program's whole world: an application folder with two companies' certificates,
// stand-ins of the site (with a user) and of the national service, recorded message boxes and
// browser, and the program's seven forms on that folder.
class ShellWorld : public DfeWorld {
public:
    static constexpr const char* kUsuario = "ana@empresa.com";
    static constexpr const char* kSenha = "s&gredo";

    ShellWorld()
        : abridorAnterior(InstalarAbridorDeEnderecos(
              [this](const std::string& e) { enderecos.push_back(e); })) {
        site.AddUser(kUsuario, kSenha, "4242");
        UseSite(site.HostPort());
        SetApplicationDir(AppDir());
    }
    ~ShellWorld() {
        app.reset();
        InstalarAbridorDeEnderecos(abridorAnterior);
    }

    // Stores the site credentials as the login dialog does.
    void Credenciais(const std::string& usuario = kUsuario, const std::string& senha = kSenha) {
        // The one-NSU walk, one company at a time: the window's tests follow one walk in order.
        dir.Write("Config.dat", "[Config]\r\nUsuario=" + usuario + "\r\nSenha=" + senha +
                                    "\r\nConsultaSequencial=0\r\nConsultasSimultaneas=1\r\n");
    }

    // Registers companies in "Empresas2.dat", as an earlier run left them.
    void Registradas(const std::vector<Company>& empresas) {
        TConsultasEmpresas r;
        for (const auto& e : empresas) {
            r.Inserir(e.cnpj, "SP", e.name, e.serial, e.senha, "");
        }
        r.Salvar(dir.File("Empresas2.dat"));
    }

    // Creates the forms and shows the main window; returns once the start-up sequence has run
    // (a start-up that opens the login dialog must be answered with NoProximoModal first).
    TF_Principal& Iniciar(const QStringList& argumentos = {},
                          const std::function<void()>& antesDeMostrar = {}) {
        app = std::make_unique<TAplicacao>(argumentos);
        F_Principal->Terminar = [this] { ++terminou; };
        if (antesDeMostrar) {
            antesDeMostrar();
        }
        app->Iniciar();
        Esperar([] { return !F_Principal->PrimeiraExibicao; });
        QApplication::processEvents();
        return *F_Principal;
    }

    // Until the monitoring start's first cycle has run.
    bool PrimeiroCiclo() {
        return Esperar([this] {
            return !Achar<QTimer>(&app->Principal(), "Timer1")->isActive() &&
                   !app->Principal().Param().Executando;
        });
    }

    template <typename T>
    T* Achar(QObject* raiz, const char* nome) const {
        T* w = raiz->findChild<T*>(QString::fromLatin1(nome));
        if (w == nullptr) {
            throw std::runtime_error(std::string("sem o objeto ") + nome);
        }
        return w;
    }

    // The message boxes shown since the last call.
    std::vector<RecordingMessageBoxes::Shown> Caixas() {
        auto all = boxes->All();
        std::vector<RecordingMessageBoxes::Shown> out(all.begin() + vistas, all.end());
        vistas = all.size();
        return out;
    }

    // Site requests of the login command so far.
    int Logins() const {
        int n = 0;
        for (const auto& r : site.Requests()) {
            n += r.query.rfind("t=login&", 0) == 0;
        }
        return n;
    }

    standin::TSiteStandIn site;
    ScopedMessageBoxes boxes;
    size_t vistas = 0;
    std::vector<std::string> enderecos;
    AbridorDeEnderecos abridorAnterior;
    std::unique_ptr<TAplicacao> app;
    int terminou = 0;
};

}  // namespace quelvo::test
