// A walk over 100,000 NSUs that are all in ConsultadosNums (no query is made), with the headless
// program's synchronised calls: the time of one walk step (lookup, temp-folder scan, progress
// call). Goal: at most 1 us per step, with no system call.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BenchFolder.h"
#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"
#include "cli/TConsoleSync.h"
#include "monitor/TMonitorSchedule.h"

namespace {

using namespace quelvo;
using Clock = std::chrono::steady_clock;

// The headless calls, timing the first and the last step of the walk.
class TimedSync : public TConsoleSync {
public:
    using TConsoleSync::TConsoleSync;
    void AtualizaProgresso(TConsultas& worker) override {
        const auto now = Clock::now();
        if (steps_++ == 0) {
            first_ = now;
        }
        last_ = now;
        TConsoleSync::AtualizaProgresso(worker);
    }
    long steps_ = 0;
    Clock::time_point first_, last_;
};

}  // namespace

int main() {
    constexpr int kNsus = 100000;
    const testpki::TestPki pki;
    standin::TDfeStandIn service(pki);
    standin::TSiteStandIn site;
    site.AddUser("bench", "x", "1");
    const std::string cnpj = "11222333000181";
    service.SetMaxNsu(cnpj, kNsus);

    const auto dir = bench::PastaDeBench("quelvo-walk-bench", pki, site, service);
    const std::string app = dir.string() + "/";
    TCertificateStore store(app + "certificados/");
    const auto issued = pki.IssueECnpj("EMPRESA BENCH", cnpj);
    const std::string serial =
        store.ImportBytes(pki.Pkcs12(issued, "1", false), "1", "b.pfx").SerialNumber();

    TConsultasParam param;
    param.Usuario.Set("bench");
    param.Ativo = true;
    param.Empresas.Inserir(cnpj, "SP", "EMPRESA BENCH", serial, "1", "");
    for (int n = 1; n <= kNsus; ++n) {
        param.ConsultadosNums.Add(cnpj + std::to_string(n));
    }
    // The one-NSU walk, one company.
    std::ofstream(app + "Config.dat") << "[Config]\r\nConsultaSequencial=0\r\n";
    std::ostringstream out;
    TimedSync sync(param, app, out);
    {
        TMonitorSchedule schedule(param, sync, TConsultasAmbiente::Of(app));
        const auto t0 = Clock::now();
        schedule.Tick();
        schedule.WaitForWorkers();
        const double total = std::chrono::duration<double>(Clock::now() - t0).count();
        const double walk = std::chrono::duration<double>(sync.last_ - sync.first_).count();
        std::printf("Walk over %d NSUs already in ConsultadosNums (headless calls):\n", kNsus);
        std::printf("  steps: %ld, service queries: %zu\n", sync.steps_, service.Queries().size());
        std::printf("  time per walk step: %.2f us (goal: at most 1 us)\n",
                    walk / static_cast<double>(sync.steps_ - 1) * 1e6);
        std::printf("  whole cycle: %.3f s\n", total);
    }
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return 0;
}
