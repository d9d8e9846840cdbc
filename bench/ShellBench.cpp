// The desktop program under load, offscreen:
// 1. a cycle over 100,000 NSUs that are all in ConsultadosNums: the time of one walk step (each
//    step's progress call crosses to the window's thread and back) and the longest pause of the
//    window's thread, seen by a 10 ms timer. Goals: at most twice the headless step
//    (tools/bench.sh walk_bench), at most 50 ms.
// 2. the start-up with 1,000 companies and 1,000,000 seen keys in each list: the time until the
//    window is shown, and until the start-up sequence has listed the companies. Goal: 1.5 s.
// 3. a cycle over 1,000 idle companies, each with its own certificate, 8 at a time, in the
//    desktop program and in the headless schedule (the stand-ins in a process of their own): the
//    CPU of each and the longest pause of the window's thread. Goals: the desktop at most 1.2x
//    the headless CPU, the window's pause under 50 ms.
#include <curl/curl.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QTreeWidget>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <thread>

#include "BenchFolder.h"
#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"
#include "cli/TConsoleSync.h"
#include "common/Utils.h"
#include "monitor/TConsultasEmpresas.h"
#include "monitor/TMonitorSchedule.h"
#include "shell/TAplicacao.h"
#include "shell/TF_Principal.h"
#include "support/RecordingMessageBoxes.h"

namespace {

using namespace quelvo;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Starts a 10 ms timer on the window's thread that keeps in `maiorPausa` the longest time between
// two of its ticks while a cycle runs, and hands every tick's moment to `aCadaTique`.
void MedirPausas(QTimer& relogio, double& maiorPausa,
                 std::function<void(Clock::time_point)> aCadaTique) {
    relogio.setTimerType(Qt::PreciseTimer);
    QObject::connect(&relogio, &QTimer::timeout,
                     [&maiorPausa, aCadaTique, anterior = Clock::time_point{}]() mutable {
                         const auto agora = Clock::now();
                         if (anterior != Clock::time_point{} && F_Principal->Param().Executando) {
                             maiorPausa =
                                 std::max(maiorPausa,
                                          std::chrono::duration<double>(agora - anterior).count());
                         }
                         anterior = agora;
                         aCadaTique(agora);
                     });
    relogio.start(10);
}

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
    Clock::time_point primeiroPasso{}, ultimoPasso{};
    int progressoInicial = 0, progressoFinal = 0;
    TAplicacao app({});
    F_Principal->Terminar = [] {};
    double maiorPausa = 0;
    QTimer relogio;
    MedirPausas(relogio, maiorPausa, [&](Clock::time_point agora) {
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

// Serves the window's thread the way the program's own event loop does (asleep until something
// happens), until `ate` holds: looked at every 10 ms.
void Aguardar(const std::function<bool()>& ate) {
    QEventLoop loop;
    QTimer olhar;
    QObject::connect(&olhar, &QTimer::timeout, [&] {
        if (ate()) {
            loop.quit();
        }
    });
    olhar.start(10);
    if (!ate()) {
        loop.exec();
    }
}

// A folder of `n` companies with a certificate each, 8 turns at a time, the sequential mode.
fs::path Escritorio(const char* nome, const testpki::TestPki& pki, const bench::ServidoresAParte& s,
                    int n) {
    const fs::path dir = bench::PastaDeBench(nome, pki, s.dfe, s.site);
    std::ofstream(dir / "Config.dat") << "[Config]\r\nUsuario=bench\r\nSenha=x\r\n"
                                      << "ConsultasSimultaneas=8\r\n";
    TCertificateStore store(dir.string() + "/certificados/", "");
    TConsultasEmpresas empresas;
    for (int i = 1; i <= n; ++i) {
        const auto issued =
            pki.IssueECnpj("EMPRESA " + std::to_string(i), bench::CnpjDeBench(30000000, i));
        const auto cert = store.ImportBytes(pki.Pkcs12(issued, "s", false), "s", "e.pfx");
        empresas.Inserir(bench::CnpjDeBench(30000000, i), "SP", "EMPRESA " + std::to_string(i),
                         cert.SerialNumber(), "s", "");
    }
    empresas.Salvar((dir / "Empresas2.dat").string());
    return dir;
}

void EscritorioNaJanelaESemJanela(const testpki::TestPki& pki,
                                  const bench::ServidoresAParte& servidores, int kEmpresas) {
    // The headless schedule first.
    double cpuSemJanela = 0;
    double paredeSemJanela = 0;
    {
        const fs::path dir = Escritorio("quelvo-shell-office-h", pki, servidores, kEmpresas);
        const std::string app = dir.string() + "/";
        TConsultasParam param;
        param.Empresas.Carregar(app + "Empresas2.dat");
        param.Usuario.Set("bench");
        param.Ativo = true;
        std::ostringstream saida;
        TConsoleSync sync(param, app, saida);
        TMonitorSchedule schedule(param, sync, TConsultasAmbiente::Of(app));
        // From the cycle's start, as for the desktop program below (the expiry pass of the tick
        // runs before it, in both).
        schedule.AtualizarVencimentos();
        const double cpu0 = bench::TempoDeCpu();
        const auto t0 = Clock::now();
        schedule.Tick();
        schedule.WaitForWorkers();
        paredeSemJanela = std::chrono::duration<double>(Clock::now() - t0).count();
        cpuSemJanela = bench::TempoDeCpu() - cpu0;
        fs::remove_all(dir);
    }
    // The desktop program on a folder made the same way.
    const fs::path dir = Escritorio("quelvo-shell-office-d", pki, servidores, kEmpresas);
    SetApplicationDir(dir.string() + "/");
    TAplicacao app({});
    F_Principal->Terminar = [] {};
    double maiorPausa = 0;
    QTimer relogio;
    MedirPausas(relogio, maiorPausa, [](Clock::time_point) {});
    app.Iniciar();
    Aguardar([] { return F_Principal->Param().Executando.load(); });
    const auto cpuDaJanela = [] {
        rusage u{};
        ::getrusage(RUSAGE_THREAD, &u);
        return u.ru_utime.tv_sec + u.ru_utime.tv_usec / 1e6 + u.ru_stime.tv_sec +
               u.ru_stime.tv_usec / 1e6;
    };
    const double cpu0 = bench::TempoDeCpu();
    const double janela0 = cpuDaJanela();
    const auto t0 = Clock::now();
    Aguardar([] { return !F_Principal->Param().Executando; });
    const double paredeJanela = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpuJanela = bench::TempoDeCpu() - cpu0;
    const double cpuDoFioDaJanela = cpuDaJanela() - janela0;
    std::printf("A cycle over %d idle companies, each with its own certificate, 8 at a time:\n",
                kEmpresas);
    std::printf("  headless: %.1f s, %.2f s CPU\n", paredeSemJanela, cpuSemJanela);
    std::printf("  desktop:  %.1f s, %.2f s CPU (%.2fx the headless CPU; goal: at most 1.2x)\n",
                paredeJanela, cpuJanela, cpuJanela / cpuSemJanela);
    std::printf("  of which the window's thread: %.2f s\n", cpuDoFioDaJanela);
    std::printf(
        "  longest pause of the window's thread during the cycle: %.1f ms (10 ms timer; goal: "
        "under 50 ms)\n",
        (maiorPausa - 0.010) * 1e3);
    F_Principal->Param().Ativo = false;
    fs::remove_all(dir);
}

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    const testpki::TestPki pki;
    // Before any thread: the stand-ins of the office scenario run in a process of their own.
    const auto servidores = bench::IniciarServidoresAParte(pki, std::chrono::milliseconds(300));
    curl_global_init(CURL_GLOBAL_DEFAULT);
    QApplication qapp(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    test::ScopedMessageBoxes boxes;
    // "shell_bench escritorio [N]": the office scenario alone.
    const bool soEscritorio = argc > 1 && std::string(argv[1]) == "escritorio";
    if (!soEscritorio) {
        Caminhada(pki);
        Partida(pki);
    }
    EscritorioNaJanelaESemJanela(pki, servidores,
                                 soEscritorio && argc > 2 ? std::atoi(argv[2]) : 1000);
    ::kill(servidores.pid, SIGTERM);
    ::waitpid(servidores.pid, nullptr, 0);
    curl_global_cleanup();
    return 0;
}
