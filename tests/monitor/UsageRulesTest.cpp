// The monitoring against a national service that enforces its usage rules: the default mode's
// walk stops at the first 656 and the CNPJ rests, also across a restart of the program.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>

#include "common/SafeFile.h"
#include "support/Documentos.h"
#include "support/MonitorWorld.h"

namespace quelvo {
namespace {

using test::Chave;
using test::Resumo;
using namespace std::chrono_literals;
using standin::ResumoNFe;
using standin::TDfeStandIn;
using test::MonitorWorld;

std::vector<long long> Range(long long from, long long downTo) {
    std::vector<long long> out;
    for (long long n = from; n >= downTo; --n) {
        out.push_back(n);
    }
    return out;
}

// The lines a test's cycles logged that start with `prefix`.
std::vector<std::string> LogsStartingWith(const MonitorWorld& w, const std::string& prefix) {
    std::vector<std::string> out;
    for (const auto& l : w.sync.logs) {
        if (l.rfind(prefix, 0) == 0) {
            out.push_back(l);
        }
    }
    return out;
}

// A second run of the program on the same folder: all it knows comes from the files.
struct SecondRun {
    explicit SecondRun(MonitorWorld& w) : sync(param, w.AppDir()) {
        w.param.Empresas.Salvar(w.dir.File("Empresas2.dat"));
        w.param.SalvarListas(w.AppDir());
        param.Empresas.Carregar(w.dir.File("Empresas2.dat"));
        param.CarregarListas(w.AppDir());
        param.Usuario.Set("ana@empresa.com");
        param.Ativo = true;
        schedule = std::make_unique<TMonitorSchedule>(param, sync, w.Ambiente());
    }
    void Cycle() {
        schedule->Tick();
        schedule->WaitForWorkers();
    }
    TConsultasParam param;
    test::RecordingSync sync;
    std::unique_ptr<TMonitorSchedule> schedule;
};

std::chrono::system_clock::time_point Local(int y, int mo, int d, int h, int mi, int s) {
    std::tm tm{};
    tm.tm_year = y - 1900;
    tm.tm_mon = mo - 1;
    tm.tm_mday = d;
    tm.tm_hour = h;
    tm.tm_min = mi;
    tm.tm_sec = s;
    tm.tm_isdst = -1;
    return std::chrono::system_clock::from_time_t(std::mktime(&tm));
}

TEST(UsageRules, RestEndsAndTheirTexts) {
    const auto fim = Local(2026, 12, 10, 14, 35, 20);
    const struct {
        int cStat;
        std::chrono::system_clock::time_point fim, agora;
        const char* text;
    } cases[] = {
        {656, fim, fim - 30min, "Consumo indevido: nova consulta após 14:35"},
        {137, fim, fim - 59min, "Aguardando novos documentos: nova consulta após 14:35"},
        {656, Local(2026, 12, 11, 0, 20, 0), Local(2026, 12, 10, 23, 50, 0),
         "Consumo indevido: nova consulta após 11/12/2026 00:20"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TDescansos::Texto({c.fim, c.cStat}, c.agora), c.text);
    }

    test::TempDir dir;
    TDescansos descansos(dir.path().string() + "/");
    const auto agora = Local(2026, 12, 10, 14, 0, 0);
    // Stored while the clock was five hours ahead: never more than an hour from now.
    descansos.Descansar("11222333000181", agora + 5h, 656);
    descansos.Descansar("45997418000153", agora - 1s, 137);
    EXPECT_EQ(descansos.Ativo("11222333000181", agora, 1h)->fim, agora + 1h);
    EXPECT_EQ(descansos.Ativo("11222333000181", agora + 4h, 1h)->cStat, 656);
    EXPECT_EQ(descansos.Ativo("11222333000181", agora + 5h, 1h), std::nullopt);
    EXPECT_EQ(descansos.Ativo("45997418000153", agora, 1h), std::nullopt);
    EXPECT_EQ(descansos.Ativo("33000167000101", agora, 1h), std::nullopt);
}

TEST(UsageRules, TheWalkStopsAtTheFirst656AndTheCnpjRests) {
    MonitorWorld w;
    w.UseUsageRules();
    const std::string d = w.a.cnpj;
    w.Register(w.a, "11.222.333/0001-81");
    w.Register(w.b, w.b.cnpj);
    for (int n = 1; n <= 60; ++n) {
        w.service.AddDocument(d, n, standin::ResNFeXml(Resumo(n)));
    }
    w.service.AddDocument(w.b.cnpj, 1, standin::ResNFeXml(Resumo(500)));

    // NSU 0 and 19 NSUs of the walk use the hour's 20 queries; the 21st is refused and ends the
    // turn at once.
    const auto inicio = w.clock.Now();
    w.Cycle();
    std::vector<long long> expected = {0};
    const auto walked = Range(60, 41);
    expected.insert(expected.end(), walked.begin(), walked.end());
    EXPECT_EQ(w.QueriedNsus(d), expected);
    EXPECT_EQ(w.service.UsageOf(d).consumoIndevido, 1);
    EXPECT_EQ(w.site.Uploads().size(), 20u);  // 19 of A's, B's one
    const auto a = w.param.Empresas.Item(0);
    EXPECT_EQ(a->Status(), (std::pair<int, std::string>{
                               2, std::string("656 - ") + TDfeStandIn::kMotivoLimiteConsultas}));
    const std::string quando = TDescansos::Quando(inicio + 1h, inicio);
    EXPECT_EQ(LogsStartingWith(w, "Consumo indevido"),
              std::vector<std::string>{"Consumo indevido para o CNPJ: 11.222.333/0001-81 (656 - " +
                                       std::string(TDfeStandIn::kMotivoLimiteConsultas) +
                                       "). Nova consulta após " + quando +
                                       ". 19 novas notas foram inseridas antes."});
    // The other company is not held up.
    EXPECT_EQ(w.param.Empresas.Item(1)->Situacao(), "1 novas notas foi inseridas");

    // Within the hour the CNPJ is not queried; its status says until when (with the date once
    // the rest ends on another day than the moment the status is shown).
    const auto descansando = [&] {
        return "Consumo indevido: nova consulta após " +
               TDescansos::Quando(inicio + 1h, w.clock.Now());
    };
    w.service.ClearQueries();
    w.clock.Advance(20min);
    w.Cycle();
    EXPECT_TRUE(w.QueriedNsus(d).empty());
    EXPECT_EQ(a->Status(), (std::pair<int, std::string>{2, descansando()}));
    EXPECT_EQ(w.QueriedNsus(w.b.cnpj), (std::vector<long long>{0}));

    // Nor after a restart of the program.
    w.clock.Advance(20min);
    {
        SecondRun again(w);
        again.Cycle();
        EXPECT_TRUE(w.QueriedNsus(d).empty());
        EXPECT_EQ(again.param.Empresas.Item(0)->Status(),
                  (std::pair<int, std::string>{2, descansando()}));
    }

    // After the hour the walk goes on where it stopped, past what it recorded.
    w.clock.Advance(21min);
    w.service.ClearQueries();
    w.Cycle();
    expected = {0};
    const auto next = Range(41, 22);
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_EQ(w.QueriedNsus(d), expected);
    EXPECT_EQ(w.service.UsageOf(d).consumoIndevido, 2);
    EXPECT_EQ(w.service.UsageOf(d).duringBlock, 0);
    EXPECT_EQ(w.site.Uploads().size(), 39u);
}

TEST(UsageRules, ASummaryHandledForAnotherCompanyIsNotQueriedAgain) {
    MonitorWorld w;
    w.UseUsageRules();
    w.Register(w.a, w.a.cnpj);
    w.Register(w.b, w.b.cnpj);
    // The same invoice reaches both companies.
    w.service.AddDocument(w.a.cnpj, 3, standin::ResNFeXml(Resumo(7)));
    w.service.AddDocument(w.b.cnpj, 1, standin::ResNFeXml(Resumo(7)));
    w.Cycle();
    EXPECT_EQ(w.site.Uploads().size(), 1u);
    EXPECT_TRUE(w.param.ConsultadosNums.Contains(w.b.cnpj + "1"));
    EXPECT_EQ(w.param.Empresas.Item(1)->Situacao().rfind("Nenhuma nova nota", 0), 0u);

    w.service.ClearQueries();
    w.Cycle();
    EXPECT_EQ(w.QueriedNsus(w.b.cnpj), (std::vector<long long>{0}));
    EXPECT_EQ(w.site.Uploads().size(), 1u);
}

TEST(UsageRules, DamagedAndUnreadableRestFiles) {
    MonitorWorld w;
    w.UseUsageRules();
    w.Register(w.a, w.a.cnpj);
    w.Register(w.b, w.b.cnpj);
    // B rests; a line of garbage and one cut short around it.
    const auto fim = std::chrono::duration_cast<std::chrono::milliseconds>(
                         (w.clock.Now() + 30min).time_since_epoch())
                         .count();
    const std::string damaged =
        "lixo\r\n" + w.b.cnpj + ";" + std::to_string(fim) + ";656\r\n" + w.a.cnpj + ";17\r\n";
    w.dir.Write("Descansos.dat", damaged);
    w.Cycle();
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj), (std::vector<long long>{0}));
    EXPECT_TRUE(w.QueriedNsus(w.b.cnpj).empty());
    EXPECT_EQ(
        w.param.Empresas.Item(1)->Situacao().rfind("Consumo indevido: nova consulta após ", 0), 0u);
    const std::string path = w.dir.File("Descansos.dat");
    EXPECT_EQ(w.sync.logs.at(0),
              "O arquivo " + path +
                  " tinha 2 linhas danificadas, deixadas de lado; uma cópia do arquivo como estava "
                  "foi guardada em " +
                  path + ".danificado.");
    EXPECT_EQ(w.dir.Read("Descansos.dat.danificado"), damaged);

    // A file that cannot be read is not guessed at: no query, and the company says why.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    w.service.ClearQueries();
    TMonitorSchedule schedule(w.param, w.sync, w.Ambiente());
    schedule.Tick();
    schedule.WaitForWorkers();
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(w.param.Empresas.Item(0)->Status(),
              (std::pair<int, std::string>{
                  2, "Não foi possível ler o arquivo " + path + ": não é um arquivo comum"}));
    EXPECT_TRUE(std::filesystem::is_directory(path));
}

}  // namespace
}  // namespace quelvo
