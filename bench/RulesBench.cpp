// 1,000 new documents of one CNPJ behind a stand-in of the national service that enforces its
// usage rules and adds 50 ms to every answer: how many requests, how many 656 answers (and how
// many queries during a block) and how long until every summary is on the site, in both query
// modes.
//
// The service and the worker share a clock that the benchmark moves by 5 minutes after every
// cycle (the shortest interval a user can choose): the hours the rules impose pass at once, while
// every query still takes its real time. "Until all are uploaded" is the time on that clock:
// the intervals waited plus the real time of the cycles.
//
// Goals: sequential mode at most 1 request per 45 documents and no 656; default mode no query
// during a block.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "BenchFolder.h"
#include "TDfeStandIn.h"
#include "TSiteStandIn.h"
#include "TestPki.h"
#include "cli/TConsoleSync.h"
#include "common/ConsultaSequencial.h"
#include "monitor/TMonitorSchedule.h"

namespace {

using namespace quelvo;
using Clock = std::chrono::steady_clock;

std::string Chave(int n) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "3526116074694800011255001%09d1%09d", n, n);
    return buf;
}

constexpr auto kInterval = std::chrono::minutes(5);

// The wall clock of the service and the worker: it moves only when the benchmark moves it.
class BenchClock {
public:
    std::chrono::system_clock::time_point Now() const {
        return std::chrono::system_clock::time_point(std::chrono::milliseconds(ms_.load()));
    }
    void Advance(std::chrono::milliseconds by) { ms_ += by.count(); }

private:
    std::atomic<long long> ms_{std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count()};
};

struct Result {
    size_t requests = 0;
    int consumoIndevido = 0;
    int duringBlock = 0;
    int cycles = 0;
    int blockedCycles = 0;    // cycles that found the CNPJ resting
    double cycleSeconds = 0;  // real time spent in cycles
    double hours = 0;         // on the shared clock, until every summary was uploaded
    size_t uploaded = 0;
};

Result Run(const testpki::TestPki& pki, bool sequencial, int documents) {
    const std::string cnpj = "11222333000181";
    standin::TDfeStandIn service(pki);
    standin::TSiteStandIn site;
    site.AddUser("bench", "x", "1");
    BenchClock clock;
    service.EnforceUsageRules(std::chrono::hours(1));
    service.SetClock([&] { return clock.Now(); });
    service.SetDelay(std::chrono::milliseconds(50));
    for (int n = 1; n <= documents; ++n) {
        standin::ResumoNFe r;
        r.chNFe = Chave(n);
        r.cnpjEmitente = "60746948000112";
        r.xNome = "FORNECEDOR";
        service.AddDocument(cnpj, n, standin::ResNFeXml(r));
    }

    const auto dir = bench::PastaDeBench(
        std::string("quelvo-rules-bench-") + (sequencial ? "s" : "n"), pki, site, service);
    const std::string app = dir.string() + "/";
    {
        TProfileFile config(app + "Config.dat");
        GravarConsultaSequencial(config, sequencial);
    }
    TCertificateStore store(app + "certificados/");
    const auto issued = pki.IssueECnpj("EMPRESA BENCH", cnpj);
    const std::string serial =
        store.ImportBytes(pki.Pkcs12(issued, "1", false), "1", "b.pfx").SerialNumber();

    TConsultasParam param;
    param.Usuario.Set("bench");
    param.Ativo = true;
    param.Empresas.Inserir(cnpj, "SP", "EMPRESA BENCH", serial, "1", "");
    std::ostringstream out;
    TConsoleSync sync(param, app, out);
    TConsultasAmbiente ambiente = TConsultasAmbiente::Of(app);
    ambiente.relogio = [&] { return clock.Now(); };
    Result result;
    {
        TMonitorSchedule schedule(param, sync, ambiente);
        const auto start = clock.Now();
        while (result.uploaded < static_cast<size_t>(documents) && result.cycles < 100000) {
            const auto t0 = Clock::now();
            schedule.Tick();
            schedule.WaitForWorkers();
            const auto spent = Clock::now() - t0;
            result.cycleSeconds += std::chrono::duration<double>(spent).count();
            clock.Advance(std::chrono::duration_cast<std::chrono::milliseconds>(spent));
            ++result.cycles;
            result.blockedCycles +=
                param.Empresas.Item(0)->Situacao().find("nova consulta após") != std::string::npos;
            result.uploaded = 0;
            for (const auto& u : site.Uploads()) {
                result.uploaded += u.answer == "OK";
            }
            if (result.uploaded < static_cast<size_t>(documents)) {
                clock.Advance(kInterval);
            }
        }
        result.hours = std::chrono::duration<double>(clock.Now() - start).count() / 3600.0;
    }
    const auto usage = service.UsageOf(cnpj);
    result.requests = service.Queries().size();
    result.consumoIndevido = usage.consumoIndevido;
    result.duringBlock = usage.duringBlock;
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
    return result;
}

void Print(const char* mode, const Result& r, int documents) {
    std::printf("%s mode:\n", mode);
    std::printf("  summaries uploaded: %zu of %d\n", r.uploaded, documents);
    std::printf("  service requests: %zu (%.1f documents per request)\n", r.requests,
                r.requests ? static_cast<double>(documents) / static_cast<double>(r.requests) : 0);
    std::printf("  656 answers: %d, queries during a block: %d\n", r.consumoIndevido,
                r.duringBlock);
    char until[32];
    if (r.hours < 1) {
        std::snprintf(until, sizeof until, "%.1f s", r.hours * 3600);
    } else {
        std::snprintf(until, sizeof until, "%.1f h", r.hours);
    }
    std::printf(
        "  until all are uploaded: %s (%d cycles 5 minutes apart, %d of them found the "
        "CNPJ resting; %.1f s of real time in cycles)\n",
        until, r.cycles, r.blockedCycles, r.cycleSeconds);
}

}  // namespace

int main(int argc, char** argv) {
    const int documents = argc > 1 ? std::atoi(argv[1]) : 1000;
    const testpki::TestPki pki;
    std::printf("%d new documents of one CNPJ, 50 ms per answer, usage rules enforced\n",
                documents);
    const Result seq = Run(pki, true, documents);
    Print("Sequential", seq, documents);
    const Result nsu = Run(pki, false, documents);
    Print("Default (one NSU per query)", nsu, documents);
    const bool seqOk =
        seq.consumoIndevido == 0 && seq.requests * 45 <= static_cast<size_t>(documents) + 44;
    std::printf(
        "Goals: sequential at most 1 request per 45 documents and no 656: %s; default "
        "mode no query during a block: %s\n",
        seqOk ? "met" : "NOT MET", nsu.duringBlock == 0 ? "met" : "NOT MET");
    return 0;
}
