// Pictures of the desktop program as a user sees it, on a real X display (tools/screenshots.sh
// runs it under Xvfb): the main window after a cycle, the new-invoice pop-up on the screen, and
// each dialog. The demo's world stands in for the site and the national service.
#include <curl/curl.h>

#include <QApplication>
#include <QDialog>
#include <QElapsedTimer>
#include <QPixmap>
#include <QScreen>
#include <QThread>

#include <csignal>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

#include "TDemoWorld.h"
#include "certificates/CertificateAccess.h"
#include "certificates/TCertificateStore.h"
#include "common/DateTime.h"
#include "common/ProfileFile.h"
#include "common/Utils.h"
#include "monitor/TConsultasEmpresas.h"
#include "shell/TAplicacao.h"
#include "shell/TF_CadEmpresas.h"
#include "shell/TF_Certificados.h"
#include "shell/TF_ConfigProxy.h"
#include "shell/TF_Esperando.h"
#include "shell/TF_Nota_Emitida.h"
#include "shell/TF_Principal.h"
#include "shell/TF_Sobre.h"
#include "shell/TF_Usuario.h"
#include "shell/TQtMessageBoxes.h"

using namespace quelvo;
namespace fs = std::filesystem;

namespace {

void Servir(int ms) {
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
}

bool Gravar(const fs::path& arquivo, const QRect& area) {
    QScreen* tela = QGuiApplication::primaryScreen();
    const QPixmap figura = tela->grabWindow(0, area.x(), area.y(), area.width(), area.height());
    const bool ok = !figura.isNull() && figura.save(QString::fromStdString(arquivo.string()));
    std::cout << (ok ? "" : "FALHOU: ") << arquivo.string() << "\n";
    return ok;
}

// A window on the screen, as it stands there.
bool Fotografar(QWidget* janela, const fs::path& arquivo) {
    janela->show();
    janela->raise();
    Servir(400);
    const bool ok = Gravar(arquivo, janela->frameGeometry());
    janela->hide();
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "Uso: quelvo-screenshots PASTA-DAS-FIGURAS\n";
        return 2;
    }
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    const fs::path saida = fs::absolute(argv[1]);
    fs::create_directories(saida);

    // The demo's folder, ready as after the user's import, login and registrations.
    demo::TDemoWorld mundo(saida / "mundo");
    const std::string appDir = mundo.App().string() + "/";
    SetApplicationDir(appDir);
    TCertificateStore store(appDir + "certificados/");
    TConsultasEmpresas empresas;
    for (const auto& e : mundo.Empresas()) {
        const TCertificate cert = store.Import(e.pfx, e.senha);
        empresas.Inserir(e.cnpj, e.uf, cert.HolderName(), e.serie, e.senha,
                         FormatShortDate(cert.NotAfter()));
    }
    // One more, whose certificate is not on this computer: its row shows the error.
    empresas.Inserir("33.000.167/0001-01", "RJ", "MERCADO CENTRAL LTDA", "0A0B0C0D", "x", "");
    empresas.Salvar(appDir + "Empresas2.dat");
    TProfileFile config(appDir + "Config.dat");
    config.WriteString("Config", "Usuario", demo::TDemoWorld::kUsuario);
    config.WriteString("Config", "Senha", demo::TDemoWorld::kSenha);
    config.WriteBool("Config", "CheckMostrarNotificacao", true);
    InstallMessageBoxes(std::make_shared<TQtMessageBoxes>());

    int falhas = 0;
    {
        TAplicacao aplicacao({});
        F_Principal->Terminar = [] {};
        aplicacao.Iniciar();
        // The start-up, the monitoring start and the first cycle.
        Servir(300);
        for (int i = 0; i < 200 && F_Principal->Param().Executando; ++i) {
            Servir(50);
        }
        F_Principal->TimerAtualizaTimer();
        Servir(300);
        falhas += !Gravar(saida / "principal.png", F_Principal->frameGeometry());
        // The pop-up of the last new invoice, in its corner of the screen.
        falhas +=
            !Gravar(saida / "nota-emitida-tela.png", QGuiApplication::primaryScreen()->geometry());
        falhas += !Gravar(saida / "nota-emitida.png", F_Nota_Emitida->frameGeometry());
        F_Nota_Emitida->hide();

        falhas += !Fotografar(F_Usuario, saida / "login.png");
        falhas += !Fotografar(F_ConfigProxy, saida / "proxy.png");
        falhas += !Fotografar(F_CadEmpresas, saida / "inserir-empresa.png");
        auto escolhas = CertificateChoices(store);
        TF_Certificados certificados(store, escolhas);
        falhas += !Fotografar(&certificados, saida / "certificados.png");
        falhas += !Fotografar(F_Sobre, saida / "sobre.png");
        falhas += !Fotografar(F_Esperando, saida / "esperando.png");
    }
    curl_global_cleanup();
    return falhas == 0 ? 0 : 1;
}
