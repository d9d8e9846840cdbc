// Cycles of the headless program's schedule over many idle companies, each with a certificate
// of its own (as in an accounting office), against a stand-in of the national service that adds a
// delay to every answer (0.3 s, about the live round trip). The stand-ins run in a process of
// their own, so that the CPU and memory measured are the program's alone. Two cycles: the
// first of a run (every PKCS#12 file opened once), and a second one as every later cycle.
// Usage: scale_bench COMPANIES SIMULTANEOUS [DELAY_MS] [sequencial|nsu]
// Goals (K = SIMULTANEOUS, 300 ms): 1,000 companies at most 60 s with K = 8; 5,000 at most
// 4 minutes with K = 8 and 90 s with K = 32; at most 5 ms of CPU per idle company in a cycle;
// at most 150 MB at 5,000 companies.
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "BenchFolder.h"
#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"
#include "certificates/TCertificateStore.h"
#include "cli/TConsoleSync.h"
#include "monitor/TMonitorSchedule.h"

namespace {

using namespace quelvo;
using Clock = std::chrono::steady_clock;

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr,
                     "Uso: scale_bench EMPRESAS SIMULTANEAS [DEMORA_MS] [sequencial|nsu]\n");
        return 2;
    }
    const int empresas = std::atoi(argv[1]);
    const int simultaneas = std::atoi(argv[2]);
    const int demora = argc > 3 ? std::atoi(argv[3]) : 300;
    const bool sequencial = argc <= 4 || std::string(argv[4]) != "nsu";

    const testpki::TestPki pki;  // made before the fork: both processes know the authority
    const auto servidores = bench::IniciarServidoresAParte(pki, std::chrono::milliseconds(demora));
    const auto dir =
        bench::PastaDeBench("quelvo-scale-bench", pki, servidores.dfe, servidores.site);
    std::ofstream(dir / "Config.dat") << "[Config]\r\nConsultaSequencial=" << (sequencial ? 1 : 0)
                                      << "\r\nConsultasSimultaneas=" << simultaneas << "\r\n";
    const std::string app = dir.string() + "/";

    // Every company its own certificate and PKCS#12 file.
    const auto inicioPreparo = Clock::now();
    TConsultasParam param;
    {
        TCertificateStore store(app + "certificados/", "");
        for (int i = 1; i <= empresas; ++i) {
            const std::string cnpj = bench::CnpjDeBench(10000000, i);
            const auto issued = pki.IssueECnpj("EMPRESA " + std::to_string(i), cnpj);
            const std::string senha = "s" + std::to_string(i);
            const auto cert = store.ImportBytes(pki.Pkcs12(issued, senha, false), senha, "e.pfx");
            param.Empresas.Inserir(cnpj, "SP", "EMPRESA " + std::to_string(i), cert.SerialNumber(),
                                   senha, "");
        }
    }
    const double preparo = std::chrono::duration<double>(Clock::now() - inicioPreparo).count();
    param.Usuario.Set("bench");
    param.Ativo = true;
    std::ostringstream saida;
    TConsoleSync sync(param, app, saida);
    TMonitorSchedule schedule(param, sync, TConsultasAmbiente::Of(app));
    // The peak memory from here on: what the certificates' making took is not the program's.
    std::ofstream("/proc/self/clear_refs") << "5";
    std::printf("%d companies, K = %d, %d ms per answer, %s mode (set-up %.1f s)\n", empresas,
                simultaneas, demora, sequencial ? "sequential" : "one-NSU", preparo);
    for (int ciclo = 1; ciclo <= 2; ++ciclo) {
        const double cpu0 = bench::TempoDeCpu();
        const auto t0 = Clock::now();
        schedule.Tick();
        schedule.WaitForWorkers();
        const double parede = std::chrono::duration<double>(Clock::now() - t0).count();
        const double cpu = bench::TempoDeCpu() - cpu0;
        int esperando = 0;
        for (const auto& e : param.Empresas.Itens()) {
            esperando += e->Estado() == kEstadoErro ? 0 : 1;
        }
        std::printf(
            "  cycle %d: %.1f s wall, %.2f s CPU (%.2f ms per company), %d companies "
            "without error\n",
            ciclo, parede, cpu, 1000.0 * cpu / empresas, esperando);
    }
    std::ifstream status("/proc/self/status");
    for (std::string linha; std::getline(status, linha);) {
        if (linha.rfind("VmHWM:", 0) == 0) {
            std::printf("  peak memory of the program during the cycles: %.1f MB\n",
                        std::stod(linha.substr(6)) / 1024.0);
        }
    }
    ::kill(servidores.pid, SIGTERM);
    ::waitpid(servidores.pid, nullptr, 0);
    std::filesystem::remove_all(dir);
    return 0;
}
