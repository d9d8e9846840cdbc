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

// The service applies its usage rules; A (registered with the mask) has 60 new summaries, B one.
void SixtyNewForAOneForB(MonitorWorld& w) {
    w.UseUsageRules();
    w.Register(w.a, "11.222.333/0001-81");
    w.Register(w.b, w.b.cnpj);
    for (int n = 1; n <= 60; ++n) {
        w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(Resumo(n)));
    }
    w.service.AddDocument(w.b.cnpj, 1, standin::ResNFeXml(Resumo(500)));
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
        schedule = std::make_unique<TMonitorSchedule>(param, sync, w.Ambiente(), w.DateClock());
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
    return test::TestClock::Local(y, mo, d, h, mi, s);
}

long long Ms(std::chrono::system_clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count();
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
        {TDescansos::kLimiteProprio, fim, fim - 5min,
         "Limite de consultas por hora atingido: nova consulta após 14:35"},
        {656, Local(2026, 12, 11, 0, 20, 0), Local(2026, 12, 10, 23, 50, 0),
         "Consumo indevido: nova consulta após 11/12/2026 00:20"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(TDescansos::Texto({c.fim, c.cStat}, c.agora), c.text);
    }
}

// A stored end further than an hour away (a clock that was ahead and was corrected, a damaged
// value that is still digits) is brought to an hour from the first moment it is read, on disk,
// so the rest ends within that hour; a value no clock can hold is a damaged line.
TEST(UsageRules, ARestStoredTooFarAheadEndsWithinTheHour) {
    const auto agora = Local(2026, 12, 10, 14, 0, 0);
    const std::string cnpj = "11222333000181";
    const struct {
        const char* what;
        std::string fim;
        bool damaged;
    } cases[] = {
        {"five hours ahead", std::to_string(Ms(agora + 5h)), false},
        {"the year 2255", "8993865600000", false},
        {"past what the clock holds", "9300000000000", true},
        {"far past it", "99999999999999999", true},
        {"negative", "-5", true},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const std::string line = cnpj + ";" + c.fim + ";656\r\n";
        dir.Write("Descansos.dat", line);
        {
            TDescansos descansos(dir.path().string() + "/");
            const auto rest = descansos.Ativo(cnpj, agora, 1h);
            if (c.damaged) {
                EXPECT_EQ(rest, std::nullopt) << c.what;
                EXPECT_NE(descansos.TomarAviso().find("1 linha danificada"), std::string::npos)
                    << c.what;
                continue;
            }
            ASSERT_TRUE(rest) << c.what;
            EXPECT_EQ(rest->fim, agora + 1h) << c.what;
            EXPECT_EQ(descansos.Ativo(cnpj, agora + 30min, 1h)->fim, agora + 1h) << c.what;
        }
        // A later run finds the corrected end: the CNPJ is free after that hour.
        TDescansos later(dir.path().string() + "/");
        EXPECT_EQ(later.Ativo(cnpj, agora + 59min, 1h)->fim, agora + 1h) << c.what;
        EXPECT_EQ(later.Ativo(cnpj, agora + 1h, 1h), std::nullopt) << c.what;
        EXPECT_EQ(later.Ativo(cnpj, agora + 4h, 1h), std::nullopt) << c.what;
    }

    test::TempDir dir;
    TDescansos descansos(dir.path().string() + "/");
    descansos.Descansar("45997418000153", agora - 1s, 137);
    EXPECT_EQ(descansos.Ativo("45997418000153", agora, 1h), std::nullopt);
    EXPECT_EQ(descansos.Ativo("33000167000101", agora, 1h), std::nullopt);
}

// The CNPJ's own budget of one-document queries: 19 in any hour, kept across runs, with a clock
// set back never holding it for longer than an hour.
TEST(UsageRules, TheBudgetOfQueriesPerHour) {
    test::TempDir dir;
    const std::string app = dir.path().string() + "/";
    const std::string cnpj = "11222333000181";
    const auto t0 = Local(2026, 12, 10, 14, 0, 0);
    {
        TDescansos descansos(app);
        for (int i = 0; i < TDescansos::kConsultasPorHora; ++i) {
            EXPECT_EQ(descansos.LimiteAtingido(cnpj, t0 + i * 1min, 1h), std::nullopt) << i;
            descansos.RegistrarConsulta(cnpj, t0 + i * 1min, 1h);
        }
        const auto limite = descansos.LimiteAtingido(cnpj, t0 + 19min, 1h);
        ASSERT_TRUE(limite);
        EXPECT_EQ(limite->fim, t0 + 1h);
        EXPECT_EQ(limite->cStat, TDescansos::kLimiteProprio);
        // A rest and its end leave the count as it was.
        descansos.Descansar(cnpj, t0 + 50min, 656);
    }
    TDescansos again(app);
    EXPECT_EQ(again.Ativo(cnpj, t0 + 20min, 1h)->cStat, 656);
    EXPECT_EQ(again.LimiteAtingido(cnpj, t0 + 59min, 1h)->fim, t0 + 1h);
    // One query leaves the hour: one more may be sent.
    EXPECT_EQ(again.LimiteAtingido(cnpj, t0 + 1h, 1h), std::nullopt);
    again.RegistrarConsulta(cnpj, t0 + 1h, 1h);
    EXPECT_EQ(again.LimiteAtingido(cnpj, t0 + 1h, 1h)->fim, t0 + 1h + 1min);

    // Moments from a clock that was ahead count from now.
    test::TempDir other;
    std::string moments;
    for (int i = 0; i < TDescansos::kConsultasPorHora; ++i) {
        moments += (i ? "," : "") + std::to_string(Ms(t0 + 5h));
    }
    other.Write("Descansos.dat", cnpj + ";0;0;" + moments + "\r\n");
    TDescansos ahead(other.path().string() + "/");
    EXPECT_EQ(ahead.LimiteAtingido(cnpj, t0, 1h)->fim, t0 + 1h);
    EXPECT_EQ(ahead.LimiteAtingido(cnpj, t0 + 1h, 1h), std::nullopt);
}

// The walk never sends more than the CNPJ's budget in an hour: the service is never given a
// reason for a 656, however often the user asks for a check.
TEST(UsageRules, TheWalkKeepsToItsBudgetOfQueries) {
    MonitorWorld w;
    SixtyNewForAOneForB(w);
    const std::string d = w.a.cnpj;

    // NSU 0 and 18 NSUs of the walk use the budget, at 10:00.
    w.Cycle();
    std::vector<long long> expected = {0};
    const auto walked = Range(60, 43);
    expected.insert(expected.end(), walked.begin(), walked.end());
    EXPECT_EQ(w.QueriedNsus(d), expected);
    EXPECT_EQ(w.site.Uploads().size(), 19u);  // 18 of A's, B's one
    const auto a = w.param.Empresas.Item(0);
    const std::pair<int, std::string> limite{
        0, "Limite de consultas por hora atingido: nova consulta após 11:00"};
    EXPECT_EQ(a->Status(), limite);
    EXPECT_EQ(LogsStartingWith(w, "Limite"),
              std::vector<std::string>{"Limite de consultas por hora atingido para o CNPJ: "
                                       "11.222.333/0001-81. Nova consulta após 11:00. 18 novas "
                                       "notas foram inseridas antes."});
    EXPECT_EQ(w.param.Empresas.Item(1)->Situacao(), "1 novas notas foi inseridas");

    // "Verificar Agora" again and again, and a restart: nothing more is sent within the hour.
    w.service.ClearQueries();
    for (int i = 0; i < 5; ++i) {
        w.clock.Advance(5min);
        EXPECT_EQ(w.Schedule().VerificarAgora(), std::nullopt);
        w.Schedule().WaitForWorkers();
        EXPECT_TRUE(w.QueriedNsus(d).empty()) << i;
        EXPECT_EQ(a->Status(), limite);
    }
    {
        SecondRun again(w);
        again.Cycle();
        EXPECT_TRUE(w.QueriedNsus(d).empty());
        EXPECT_EQ(again.param.Empresas.Item(0)->Status(), limite);
    }

    // After the hour the walk goes on where it stopped.
    w.clock.Advance(35min);
    w.service.ClearQueries();
    w.Cycle();
    expected = {0};
    const auto next = Range(42, 25);
    expected.insert(expected.end(), next.begin(), next.end());
    EXPECT_EQ(w.QueriedNsus(d), expected);
    EXPECT_EQ(w.site.Uploads().size(), 37u);
    EXPECT_EQ(w.service.UsageOf(d).consumoIndevido, 0);
}

// Another program may query the same CNPJ: a 656 still ends the turn at once, and the CNPJ rests
// for the hour, also across a restart. Its status says until when, with the date while the rest
// ends on another day than the moment the status is shown: a 656 at 23:30 rests past midnight.
TEST(UsageRules, A656EndsTheTurnAndTheCnpjRests) {
    const struct {
        int hora, minuto;
        const char* logged;      // the end, as the log line at the 656 gives it
        const char* after20min;  // the status 20 minutes later
        const char* after40min;  // and after a restart 40 minutes later
    } cases[] = {
        {10, 0, "11:00", "11:00", "11:00"},
        {23, 30, "09/12/2026 00:30", "09/12/2026 00:30", "00:30"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        MonitorWorld w;
        w.clock.Set(test::TestClock::Local(2026, 12, 8, c.hora, c.minuto, 0));
        SixtyNewForAOneForB(w);
        const std::string d = w.a.cnpj;
        w.service.ScriptQuery(
            d, 55, {TDfeStandIn::Script::Kind::Status, 656, TDfeStandIn::kMotivoLimiteConsultas});

        w.Cycle();
        EXPECT_EQ(w.QueriedNsus(d), (std::vector<long long>{0, 60, 59, 58, 57, 56, 55}));
        EXPECT_EQ(w.site.Uploads().size(), 6u);  // 5 of A's, B's one
        const auto a = w.param.Empresas.Item(0);
        EXPECT_EQ(a->Status(),
                  (std::pair<int, std::string>{
                      2, std::string("656 - ") + TDfeStandIn::kMotivoLimiteConsultas}));
        EXPECT_EQ(LogsStartingWith(w, "Consumo indevido"),
                  std::vector<std::string>{
                      "Consumo indevido para o CNPJ: 11.222.333/0001-81 (656 - " +
                      std::string(TDfeStandIn::kMotivoLimiteConsultas) + "). Nova consulta após " +
                      c.logged + ". 5 novas notas foram inseridas antes."});
        // The other company is not held up.
        EXPECT_EQ(w.param.Empresas.Item(1)->Situacao(), "1 novas notas foi inseridas");

        // Within the hour the CNPJ is not queried; its status says until when.
        w.service.ClearQueries();
        w.clock.Advance(20min);
        w.Cycle();
        EXPECT_TRUE(w.QueriedNsus(d).empty());
        EXPECT_EQ(a->Status(),
                  (std::pair<int, std::string>{
                      2, std::string("Consumo indevido: nova consulta após ") + c.after20min}));
        EXPECT_EQ(w.QueriedNsus(w.b.cnpj), (std::vector<long long>{0}));

        // Nor after a restart of the program.
        w.clock.Advance(20min);
        {
            SecondRun again(w);
            again.Cycle();
            EXPECT_TRUE(w.QueriedNsus(d).empty());
            EXPECT_EQ(again.param.Empresas.Item(0)->Status(),
                      (std::pair<int, std::string>{
                          2, std::string("Consumo indevido: nova consulta após ") + c.after40min}));
        }

        // After the hour the walk goes on where it stopped, past what it recorded.
        w.clock.Advance(21min);
        w.service.ClearQueries();
        w.Cycle();
        std::vector<long long> expected = {0};
        const auto next = Range(55, 38);
        expected.insert(expected.end(), next.begin(), next.end());
        EXPECT_EQ(w.QueriedNsus(d), expected);
        EXPECT_EQ(w.service.UsageOf(d).duringBlock, 0);
        EXPECT_EQ(w.site.Uploads().size(), 24u);
    }
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
    const auto aside = w.dir.Named("Descansos.dat.danificado-");
    ASSERT_EQ(aside.size(), 1u);
    EXPECT_EQ(w.sync.logs.at(0),
              "O arquivo " + path +
                  " tinha 2 linhas danificadas, deixadas de lado; uma cópia do arquivo como estava "
                  "foi guardada em " +
                  w.dir.File(aside[0]) + ".");
    EXPECT_EQ(w.dir.Read(aside[0]), damaged);

    // A file that cannot be read is not guessed at: no query, and the company says why.
    std::filesystem::remove(path);
    std::filesystem::create_directory(path);
    w.service.ClearQueries();
    TMonitorSchedule schedule(w.param, w.sync, w.Ambiente(), w.DateClock());
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
