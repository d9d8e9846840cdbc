#include "monitor/TMonitorSchedule.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "support/MonitorWorld.h"

namespace quelvo {
namespace {

using test::MonitorWorld;

TEST(MonitorSchedule, ExpiryPassAndIntervalTexts) {
    MonitorWorld w;
    // One certificate ends on 08/12/2026, one ended the day before.
    const auto today = w.AddCompany("HOJE LTDA", "60746948000112", "h", false,
                                    testpki::Validity::Until("20261208"));
    w.Register(today, today.cnpj);
    const auto yesterday = w.AddCompany("ONTEM LTDA", "33000167000101", "o", false,
                                        testpki::Validity::Until("20261207"));
    w.Register(yesterday, yesterday.cnpj);
    TDateTime clock = TDateTime::FromDate(2026, 12, 8);
    TMonitorSchedule schedule(w.param, w.sync, TConsultasAmbiente::Of(w.AppDir()),
                              [&] { return clock; });
    const auto& e = w.param.Empresas;
    // A certificate is valid through the whole day it expires on.
    clock.Hour = 23;
    clock.Minute = 59;
    schedule.AtualizarVencimentos();
    EXPECT_EQ(e.Item(0)->Status(), (std::pair<int, std::string>{0, "Esperando..."}));
    EXPECT_EQ(e.Item(0)->Vencimento(), "08/12/2026");
    EXPECT_EQ(e.Item(1)->Status(), (std::pair<int, std::string>{2, "Certificado vencido"}));
    EXPECT_EQ(e.Item(1)->Vencimento(), "07/12/2026");
    clock = TDateTime::FromDate(2026, 12, 9);
    schedule.AtualizarVencimentos();
    EXPECT_EQ(e.Item(0)->Status(), (std::pair<int, std::string>{2, "Certificado vencido"}));

    EXPECT_EQ(schedule.Minutos(), 30);
    EXPECT_EQ(schedule.StatusPanel0(), "Esperando 30 minutos ...      ");
    EXPECT_EQ(schedule.StatusPanel1(), "");
    TMainSettings settings;
    settings.IntervaloMarcado = 6;
    schedule.SetInterval(settings);
    EXPECT_EQ(schedule.IntervalLabel(), "Empresas que o sistema irá verificar a cada 60 minutos");
    settings.IntervaloMarcado = -1;
    schedule.SetInterval(settings);
    EXPECT_EQ(schedule.IntervalLabel(), "Empresas que o sistema irá verificar a cada 5 minutos");
    w.param.Executando = true;
    w.param.Progresso = 12;
    w.param.StatusTexto.Set("Já tinha no temp.");
    EXPECT_EQ(schedule.StatusPanel0(), "Buscando 12");
    EXPECT_EQ(schedule.StatusPanel1(), "Já tinha no temp.");
    w.param.Executando = false;
    // Seen-lists that could not be saved stay in sight while no cycle runs.
    w.param.ErroGravacao.Set("Não foi possível gravar as listas");
    EXPECT_EQ(schedule.StatusPanel1(), "Não foi possível gravar as listas");
    w.param.ErroGravacao.Set("");
    EXPECT_EQ(schedule.StatusPanel1(), "");
}

TEST(MonitorSchedule, CommandsAndOneCycleAtATime) {
    MonitorWorld w;
    w.Register(w.a, w.a.cnpj);
    w.service.AddDocument(w.a.cnpj, 1, "<resNFe versao=\"1.01\"><chNFe>1</chNFe></resNFe>");
    auto& schedule = w.Schedule();

    // The service holds its answer: the first cycle runs while the commands are tried.
    w.service.ScriptQuery(w.a.cnpj, 0,
                          standin::TDfeStandIn::Script{standin::TDfeStandIn::Script::Kind::Held});
    EXPECT_TRUE(schedule.Tick());
    EXPECT_TRUE(w.param.Executando);  // counted as running from its creation
    EXPECT_FALSE(schedule.Tick());    // no second cycle
    EXPECT_EQ(schedule.VerificarAgora(), std::string("O sistema já está verificando."));
    // "Limpar Temp no Computador" during a cycle: refused before the question, nothing emptied
    // (the cycle records into the lists and saves them).
    const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (w.service.Queries().empty() && std::chrono::steady_clock::now() < ate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_FALSE(w.service.Queries().empty());  // the cycle is held in its first query
    w.param.ConsultadosNums.Add("111222333000181999");
    w.param.SalvarListas(w.AppDir());
    std::vector<std::string> informado;
    EXPECT_FALSE(schedule.LimparTemp(
        [](const std::string&) {
            ADD_FAILURE() << "asked during a cycle";
            return true;
        },
        [&](const std::string& texto) { informado.push_back(texto); }));
    EXPECT_EQ(informado, std::vector<std::string>{"O sistema está verificando as notas agora. "
                                                  "Limpe o TEMP quando a verificação terminar."});
    EXPECT_TRUE(w.param.ConsultadosNums.Contains("111222333000181999"));
    EXPECT_TRUE(std::filesystem::exists(w.dir.File("ConsultadosNums.dat")));
    // "Verificar Últimos 3 Meses" during a cycle: "Ativado" is unchecked and the wait gives up.
    std::vector<bool> ativado;
    const auto set = [&](bool on) {
        ativado.push_back(on);
        w.param.Ativo = on;
    };
    EXPECT_FALSE(schedule.VerificarUltimos3Meses(set, [] {}));
    EXPECT_EQ(ativado, std::vector<bool>{false});
    w.service.Release();
    schedule.WaitForWorkers();
    EXPECT_FALSE(w.param.Executando);

    // With no cycle running: switched on, lists and files emptied, a new cycle.
    w.param.Consultados.Add("x");
    w.param.SalvarListas(w.AppDir());
    ativado.clear();
    EXPECT_TRUE(schedule.VerificarUltimos3Meses(set, [] {}));
    EXPECT_EQ(ativado, std::vector<bool>{true});
    schedule.WaitForWorkers();
    EXPECT_FALSE(w.param.Consultados.Contains("x"));
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj).back(), 1);

    // "Limpar Temp no Computador" asks first.
    std::vector<std::string> asked;
    const auto nada = [](const std::string& texto) { ADD_FAILURE() << texto; };
    EXPECT_FALSE(schedule.LimparTemp(
        [&](const std::string& q) {
            asked.push_back(q);
            return false;
        },
        nada));
    EXPECT_TRUE(w.param.ConsultadosNums.Count() > 0);
    EXPECT_EQ(asked, std::vector<std::string>{
                         "Deseja realmente limpar o TEMP de notas nesse computador ?"});
    EXPECT_TRUE(schedule.LimparTemp([](const std::string&) { return true; }, nada));
    EXPECT_EQ(w.param.ConsultadosNums.Count(), 0u);
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("ConsultadosNums.dat")));
}

// Synchronised calls whose first call fails, as a program that cannot reach its own thread would.
class FailingStartSync : public test::RecordingSync {
public:
    using RecordingSync::RecordingSync;
    void InicioRodada(TConsultas&) override { throw std::runtime_error("sem janela"); }
};

TEST(MonitorSchedule, ACycleAlwaysEndsItsRunningFlag) {
    MonitorWorld w;
    w.Register(w.a, w.a.cnpj);
    {
        // The first call raises: nothing is queried, and the cycle still counts as ended.
        FailingStartSync sync(w.param, w.AppDir());
        TMonitorSchedule schedule(w.param, sync, TConsultasAmbiente::Of(w.AppDir()));
        EXPECT_TRUE(schedule.Tick());
        schedule.WaitForWorkers();
        EXPECT_FALSE(w.param.Executando);
        EXPECT_TRUE(w.service.Queries().empty());
        EXPECT_TRUE(std::filesystem::exists(w.dir.File("Consultados.dat")));  // FimRodada ran
        EXPECT_TRUE(schedule.Tick());  // so the next tick starts a cycle again
    }

    // An ending program: the cycle queries nothing, shows nothing, saves nothing, and ends.
    std::filesystem::remove(w.dir.File("Consultados.dat"));
    w.sync.Encerrar();
    EXPECT_FALSE(w.param.Ativo);
    w.param.Ativo = true;  // even a switch turned on again does not restart it
    w.Cycle();
    EXPECT_FALSE(w.param.Executando);
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_TRUE(w.sync.logs.empty());
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("Consultados.dat")));
}

}  // namespace
}  // namespace quelvo
