// The desktop program under load, offscreen:
// 1. a cycle over 100,000 NSUs that are all in ConsultadosNums: the time of one walk step (each
//    step's progress call crosses to the window's thread and back) and the longest pause of the
//    window's thread, seen by a 10 ms timer. Goals: at most twice the headless step
//    (tools/bench.sh walk_bench), at most 50 ms.
// 2. the start-up with 1,000 companies and 1,000,000 seen keys in each list: the time until the
//    window is shown, and until the start-up sequence has listed the companies. Goal: 1.5 s.
#include <curl/curl.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "BenchFolder.h"
#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"
#include "common/Utils.h"
#include "monitor/TConsultasEmpresas.h"
#include "shell/TAplicacao.h"
#include "shell/TF_Principal.h"
#include "support/RecordingMessageBoxes.h"

namespace {

using namespace quelvo;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

void Servir(const std::function<bool()>& ate) {
    while (!ate()) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }
}

// An application folder wired to the stand-ins, logged in, as the application folder.
fs::path Pasta(const char* nome, const testpki::TestPki& pki, standin::TSiteStandIn& site,
               standin::TDfeStandIn& service) {
    const fs::path dir = bench::PastaDeBench(nome, pki, site, service);
    std::ofstream(dir / "Config.dat") << "[Config]\r\nUsuario=bench\r\nSenha=x\r\n"
                                      << "ConsultaSequencial=0\r\n";
    SetApplicationDir(dir.string() + "/");
    return dir;
}

void Caminhada(const testpki::TestPki& pki) {
    constexpr int kNsus = 100000;
    standin::TDfeStandIn service(pki);
    standin::TSiteStandIn site;
    site.AddUser("bench", "x", "1");
    const std::string cnpj = "11222333000181";
    service.SetMaxNsu(cnpj, kNsus);
    const fs::path dir = Pasta("quelvo-shell-walk", pki, site, service);
    TCertificateStore store(dir.string() + "/certificados/");
    const auto issued = pki.IssueECnpj("EMPRESA BENCH", cnpj);
    const std::string serial =
        store.ImportBytes(pki.Pkcs12(issued, "1", false), "1", "b.pfx").SerialNumber();
    TConsultasEmpresas empresas;
    empresas.Inserir(cnpj, "SP", "EMPRESA BENCH", serial, "1", "");
    empresas.Salvar((dir / "Empresas2.dat").string());
    {
        std::ofstream nums(dir / "ConsultadosNums.dat", std::ios::binary);
        for (int n = 1; n <= kNsus; ++n) {
            nums << cnpj << n << "\r\n";
        }
    }

    // The window's thread: a 10 ms timer notes every tick, and the progress it sees.
    Clock::time_point anterior{};
    double maiorPausa = 0;
    Clock::time_point primeiroPasso{}, ultimoPasso{};
    int progressoInicial = 0, progressoFinal = 0;
    TAplicacao app({});
    F_Principal->Terminar = [] {};
    QTimer relogio;
    relogio.setTimerType(Qt::PreciseTimer);
    QObject::connect(&relogio, &QTimer::timeout, [&] {
        const auto agora = Clock::now();
        if (anterior != Clock::time_point{} && F_Principal->Param().Executando) {
            maiorPausa =
                std::max(maiorPausa, std::chrono::duration<double>(agora - anterior).count());
        }
        anterior = agora;
        const int p = F_Principal->Param().Progresso;
        if (F_Principal->Param().Executando && p > 0) {
            if (primeiroPasso == Clock::time_point{}) {
                primeiroPasso = agora;
                progressoInicial = p;
            }
            ultimoPasso = agora;
            progressoFinal = p;
        }
    });
    relogio.start(10);
    app.Iniciar();
    Servir([&] { return !service.Queries().empty(); });
    const auto inicio = Clock::now();
    Servir([&] { return !F_Principal->Param().Executando; });
    const double ciclo = std::chrono::duration<double>(Clock::now() - inicio).count();
    const double passos = progressoFinal - progressoInicial;
    const double porPasso =
        std::chrono::duration<double>(ultimoPasso - primeiroPasso).count() / passos;
    std::printf("Cycle over %d NSUs already in ConsultadosNums, in the desktop program:\n", kNsus);
    std::printf("  service queries: %zu\n", service.Queries().size());
    std::printf("  time per walk step: %.2f us (goal: at most 2x the headless walk_bench step)\n",
                porPasso * 1e6);
    std::printf(
        "  longest pause of the window's thread during the cycle: %.1f ms (10 ms timer; "
        "goal: at most 50 ms)\n",
        (maiorPausa - 0.010) * 1e3);
    std::printf("  whole cycle after the first query: %.3f s\n", ciclo);
    fs::remove_all(dir);
}

void Partida(const testpki::TestPki& pki) {
    constexpr int kEmpresas = 1000;
    constexpr int kChaves = 1000000;
    standin::TDfeStandIn service(pki);
    standin::TSiteStandIn site;
    site.AddUser("bench", "x", "1");
    const fs::path dir = Pasta("quelvo-shell-start", pki, site, service);
    TConsultasEmpresas empresas;
    for (int i = 0; i < kEmpresas; ++i) {
        char cnpj[32];
        std::snprintf(cnpj, sizeof cnpj, "%02d.%03d.%03d/0001-%02d", i / 1000000 % 100,
                      i / 1000 % 1000, i % 1000, i % 100);
        empresas.Inserir(cnpj, "SP", "EMPRESA " + std::to_string(i), "0A" + std::to_string(i), "s",
                         "01/01/2030");
    }
    empresas.Salvar((dir / "Empresas2.dat").string());
    {
        std::ofstream chaves(dir / "Consultados.dat", std::ios::binary);
        std::ofstream nums(dir / "ConsultadosNums.dat", std::ios::binary);
        char buf[64];
        for (int n = 0; n < kChaves; ++n) {
            std::snprintf(buf, sizeof buf, "35261160746948000112550010%09d1%08d", n, n);
            chaves << buf << "\r\n";
            nums << "11222333000181" << n << "\r\n";
        }
    }
    const auto inicio = Clock::now();
    TAplicacao app({});
    F_Principal->Terminar = [] {};
    app.Iniciar();
    Servir([] { return F_Principal->isVisible(); });
    const double mostrada = std::chrono::duration<double>(Clock::now() - inicio).count();
    auto* lista = F_Principal->findChild<QTreeWidget*>("ListViewEmpresas");
    Servir([&] { return lista->topLevelItemCount() == kEmpresas; });
    const double listada = std::chrono::duration<double>(Clock::now() - inicio).count();
    std::printf("Start-up with %d companies and %d keys in each seen-list:\n", kEmpresas, kChaves);
    std::printf("  until the window is shown: %.3f s (goal: at most 1.5 s)\n", mostrada);
    std::printf("  until the start-up sequence has listed the companies: %.3f s\n", listada);
    F_Principal->Param().Ativo = false;
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication qapp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    test::ScopedMessageBoxes boxes;
    const testpki::TestPki pki;
    Caminhada(pki);
    Partida(pki);
    curl_global_cleanup();
    return 0;
}
