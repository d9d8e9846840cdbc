// quelvo: the desktop program. A window with the company list and the log, an icon in the tray,
// and the same engine as the headless program.
#include <curl/curl.h>

#include <QApplication>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <string>

#include "common/LocalDoAplicativo.h"
#include "common/Utils.h"
#include "common/Version.h"
#include "monitor/TMonitorUpdate.h"
#include "shell/TAplicacao.h"
#include "shell/TF_Principal.h"
#include "shell/TInstanciaUnica.h"
#include "shell/TQtMessageBoxes.h"
#include "shell/TSinaisDeTermino.h"

using namespace quelvo;

QUELVO_PROGRAM_MARKER("quelvo");

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], TMonitorUpdate::kOpcaoVerificar) == 0) {
        // The installing script asks, right before it moves a download over this executable,
        // whether the download is still a release of this program later than this one. No
        // window, no other copy asked to end: only the answer.
        return TMonitorUpdate::OpcaoVerificar(argv[2], std::cerr);
    }
    // Once, before any thread starts. A peer that closes its connection is an error of that
    // call, never the end of the program.
    std::signal(SIGPIPE, SIG_IGN);
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QString::fromUtf8(kAppTitle));
    // The window hides into the tray; the program ends only through its exit paths.
    QApplication::setQuitOnLastWindowClosed(false);
    InstallMessageBoxes(std::make_shared<TQtMessageBoxes>());
    // From the start: a request to end that comes early is served once the window runs.
    const auto finalizar = [] {
        if (F_Principal != nullptr) {
            ComErroPadrao([] { F_Principal->FinalizarAplicao1Click(); });
        }
    };
    TSinaisDeTermino sinais(finalizar);

    // Before anything is read: an older copy saves its files first.
    std::unique_ptr<TInstanciaUnica> instancia;
    try {
        // An installed copy's folder is made on its first start.
        CriarPastaDoAplicativo(ApplicationDir());
        std::string motivo;
        instancia = TInstanciaUnica::Assumir(ApplicationDir(), motivo);
        if (!instancia) {
            ShowError(motivo);
            return 1;
        }
    } catch (const std::exception& e) {
        ShowError(e.what());
        return 1;
    }

    int code = 0;
    {
        std::unique_ptr<TAplicacao> criada;
        try {
            criada = std::make_unique<TAplicacao>(app.arguments().mid(1));
        } catch (const std::exception& e) {
            // A file of the folder that cannot be read is left as it is: say so and end.
            ShowError(e.what());
            return 1;
        }
        TAplicacao& aplicacao = *criada;
        instancia->AoPedirFinalizacao(finalizar);
        aplicacao.Iniciar();
        code = app.exec();
        if (aplicacao.Principal().Schedule().HasRunningWorkers() ||
            aplicacao.Principal().Atualizacao().Verificando()) {
            // A cycle or an update check still waits on a server: exiting never waits for
            // them, they end with the process. Everything the program keeps was saved before
            // the loop ended (or, after an accepted update, is not to be written).
            std::fflush(nullptr);
            std::_Exit(code);
        }
    }
    instancia.reset();
    curl_global_cleanup();
    return code;
}
