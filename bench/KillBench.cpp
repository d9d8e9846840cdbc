// `quelvo-monitor --ciclo` killed with SIGKILL at random moments during a first reading of a few
// hundred summaries, then one last whole cycle: how many uploads were repeated per kill (goal: at
// most one, the upload in flight), whether any file was damaged, and whether every summary
// reached the site.
// Usage: kill_bench [sequencial|nsu] [KILLS]
// The sequential mode reads 400 summaries of one company; the one-NSU walk 80 companies with 5
// summaries each (a CNPJ may have 19 one-document queries an hour).
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>

#include "BenchFolder.h"
#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"
#include "certificates/TCertificateStore.h"
#include "monitor/TConsultasEmpresas.h"
#include "monitor/TSeenList.h"

namespace {

using namespace quelvo;

std::string Chave(int n) {
    const std::string s = std::to_string(n);
    return "35261160746948000112550010" + std::string(9 - s.size(), '0') + s + "100000000" + "1";
}

int Ciclo(const std::string& app) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        std::freopen("/dev/null", "w", stdout);
        ::execl(QUELVO_MONITOR, QUELVO_MONITOR, "--pasta", app.c_str(), "--ciclo", nullptr);
        ::_exit(127);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace

int main(int argc, char** argv) {
    const bool sequencial = argc < 2 || std::string(argv[1]) != "nsu";
    const int mortes = argc > 2 ? std::atoi(argv[2]) : 40;
    const int empresas = sequencial ? 1 : 80;
    const int porEmpresa = sequencial ? 400 : 5;

    const testpki::TestPki pki;
    standin::TDfeStandIn service(pki);
    service.SetDelay(std::chrono::milliseconds(5));
    standin::TSiteStandIn site;
    site.AddUser("bench", "x", "1");
    const auto dir = bench::PastaDeBench("quelvo-kill-bench", pki, site, service);
    const std::string app = dir.string() + "/";
    TCertificateStore store(app + "certificados/", "");
    TConsultasEmpresas registro;
    int total = 0;
    for (int i = 1; i <= empresas; ++i) {
        const std::string cnpj = bench::CnpjDeBench(20000000, i);
        const auto issued = pki.IssueECnpj("EMPRESA", cnpj);
        const auto cert = store.ImportBytes(pki.Pkcs12(issued, "s", false), "s", "e.pfx");
        registro.Inserir(cnpj, "SP", "EMPRESA", cert.SerialNumber(), "s", "");
        for (int n = 1; n <= porEmpresa; ++n) {
            standin::ResumoNFe r;
            r.chNFe = Chave(++total);
            r.cnpjEmitente = "60746948000112";
            r.xNome = "FORNECEDOR";
            service.AddDocument(cnpj, n, standin::ResNFeXml(r));
        }
    }
    registro.Salvar(app + "Empresas2.dat");
    std::ofstream(app + "Config.dat")
        << "[Config]\r\nUsuario=bench\r\nSenha=x\r\n"
        << "ConsultaSequencial=" << (sequencial ? 1 : 0) << "\r\nConsultasSimultaneas=1\r\n";

    // Kills at random moments of a run, while it still has work to do.
    std::mt19937 random(12345);
    int mortas = 0;
    for (int i = 0; i < mortes && site.Uploads().size() < static_cast<size_t>(total); ++i) {
        const size_t antes = site.Uploads().size();
        const pid_t pid = ::fork();
        if (pid == 0) {
            std::freopen("/dev/null", "w", stdout);
            ::execl(QUELVO_MONITOR, QUELVO_MONITOR, "--pasta", app.c_str(), "--ciclo", nullptr);
            ::_exit(127);
        }
        // Once it has started uploading, a random number of uploads later (0 to 15).
        const size_t alvo = antes + 1 + std::uniform_int_distribution<int>(0, 15)(random);
        int status = 0;
        bool terminou = false;
        while (site.Uploads().size() < alvo) {
            if (::waitpid(pid, &status, WNOHANG) == pid) {
                terminou = true;
                break;
            }
            std::this_thread::sleep_for(std::chrono::microseconds(200));
        }
        if (!terminou) {
            std::this_thread::sleep_for(
                std::chrono::microseconds(std::uniform_int_distribution<int>(0, 3000)(random)));
            ::kill(pid, SIGKILL);
            ::waitpid(pid, &status, 0);
            mortas += WIFSIGNALED(status) ? 1 : 0;
        }
    }
    const int fim = Ciclo(app);

    std::map<std::string, int> vezes;
    for (const auto& u : site.Uploads()) {
        ++vezes[u.chNFe];
    }
    int repetidos = 0;
    int maisVezes = 0;
    for (const auto& [k, n] : vezes) {
        repetidos += n - 1;
        maisVezes = std::max(maisVezes, n);
    }
    int danificados = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir)) {
        danificados += e.path().filename().string().find(".danificado-") != std::string::npos;
    }
    TSeenList consultados;
    consultados.LoadFromFile(app + "Consultados.dat");
    std::printf(
        "%s mode, %d summaries (%d companies): %d kills landed\n"
        "  repeated uploads: %d (%.2f per kill; goal at most 1), most uploads of one key: %d\n"
        "  after a last whole cycle (exit %d): %zu of %d summaries at the site, %zu keys in "
        "Consultados.dat, %d damaged files set aside\n",
        sequencial ? "sequential" : "one-NSU", total, empresas, mortas, repetidos,
        mortas ? static_cast<double>(repetidos) / mortas : 0.0, maisVezes, fim, vezes.size(), total,
        consultados.Count(), danificados);
    std::filesystem::remove_all(dir);
    return 0;
}
