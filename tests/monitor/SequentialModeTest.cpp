// The sequential mode: distNSU from the stored ultNSU, 50 documents per answer, against a service
// that enforces its usage rules.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "common/ConsultaSequencial.h"
#include "common/ProfileFile.h"
#include "dfe/Compression.h"
#include "monitor/TUltimosNSU.h"
#include "support/Documentos.h"
#include "support/FakeDfeService.h"
#include "support/MonitorWorld.h"

namespace quelvo {
namespace {

using test::Chave;
using namespace std::chrono_literals;
using standin::ResumoNFe;
using standin::TDfeStandIn;
using test::MonitorWorld;

ResumoNFe Resumo(int n) {
    return test::Resumo(n, "FORNECEDOR " + std::to_string(n));
}

// The ultNSU of every distNSU the service received for a party ("" marks a consNSU).
std::vector<std::string> DistNsus(const MonitorWorld& w, const std::string& cnpj) {
    std::vector<std::string> out;
    for (const auto& q : w.service.Queries()) {
        if (q.cnpj == cnpj) {
            out.push_back(q.ultNSU);
        }
    }
    return out;
}

std::string Nsu15(int n) {
    std::string s = std::to_string(n);
    return std::string(15 - s.size(), '0') + s;
}

class SequentialMode : public ::testing::Test {
protected:
    void SetUp() override {
        w.UseUsageRules();
        TProfileFile config(w.dir.File("Config.dat"));
        GravarConsultaSequencial(config, true);
        w.Register(w.a, "11.222.333/0001-81");
    }
    MonitorWorld w;
    const std::string d = w.a.cnpj;
};

TEST_F(SequentialMode, ReadsInBatchesUploadsRestsAndKeepsWhatTheSiteMissed) {
    // 120 documents: summaries, with an event at NSU 10 and a full invoice at NSU 20.
    for (int n = 1; n <= 120; ++n) {
        if (n == 10) {
            w.service.AddDocument(d, n, standin::ResEventoXml(Chave(3), d), "resEvento_v1.00.xsd");
        } else if (n == 20) {
            w.service.AddDocument(d, n, standin::NfeProcXml(Resumo(n), d), "procNFe_v3.10.xsd");
        } else {
            w.service.AddDocument(d, n, standin::ResNFeXml(Resumo(n)));
        }
    }
    // The site fails on one summary.
    w.site.ScriptUpload(Chave(77), standin::Response{500, "", {}, "erro"});

    w.Cycle();
    EXPECT_EQ(DistNsus(w, d), (std::vector<std::string>{Nsu15(0), Nsu15(50), Nsu15(100)}));
    for (const auto& q : w.service.Queries()) {
        EXPECT_EQ(q.nsu, "");  // no consNSU
    }
    EXPECT_EQ(w.site.Uploads().size(), 118u);
    EXPECT_EQ(w.sync.notes.size(), 117u);
    const auto empresa = w.param.Empresas.Item(0);
    EXPECT_EQ(empresa->Status(), (std::pair<int, std::string>{0, "117 novas notas foi inseridas"}));
    EXPECT_EQ(w.sync.logs.at(1), "117 novas notas foi inseridas para o CNPJ: 11.222.333/0001-81");
    // As in the default mode: every handled document recorded under its own NSU, the failed
    // summary under none.
    EXPECT_EQ(w.param.ConsultadosNums.Count(), 119u);
    EXPECT_TRUE(w.param.ConsultadosNums.Contains(d + "10"));
    EXPECT_TRUE(w.param.ConsultadosNums.Contains(d + "120"));
    EXPECT_FALSE(w.param.ConsultadosNums.Contains(d + "77"));
    EXPECT_TRUE(w.param.Consultados.Contains(Chave(20)));  // the full invoice, not uploaded
    EXPECT_FALSE(w.param.Consultados.Contains(Chave(77)));
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 120);
    const std::string pendente = w.dir.Read("EnviosPendentes.dat");
    ASSERT_EQ(pendente.rfind(d + ";77;", 0), 0u) << pendente;
    EXPECT_EQ(DecodeBase64(pendente.substr(d.size() + 4)).rfind("<resNFe ", 0), 0u);
    EXPECT_EQ(w.service.UsageOf(d).consumoIndevido, 0);

    // Next turn, within the rest: the missed summary goes to the site without any query.
    w.service.ClearQueries();
    w.sync.logs.clear();
    w.clock.Advance(10min);  // 10:10
    w.Cycle();
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(w.site.Uploads().back().chNFe, Chave(77));
    EXPECT_EQ(w.site.Uploads().back().answer, "OK");
    EXPECT_EQ(w.dir.Read("EnviosPendentes.dat"), "");
    EXPECT_TRUE(w.param.ConsultadosNums.Contains(d + "77"));
    EXPECT_EQ(empresa->Status(), (std::pair<int, std::string>{
                                     0, "Aguardando novos documentos: nova consulta após 11:00"}));
    EXPECT_EQ(w.sync.logs.at(0), "1 novas notas foi inseridas para o CNPJ: 11.222.333/0001-81");

    // After the hour: one distNSU from where it stopped.
    for (int n = 121; n <= 125; ++n) {
        w.service.AddDocument(d, n, standin::ResNFeXml(Resumo(n)));
    }
    w.clock.Advance(51min);
    w.Cycle();
    EXPECT_EQ(DistNsus(w, d), std::vector<std::string>{Nsu15(120)});
    EXPECT_EQ(empresa->Situacao(), "5 novas notas foi inseridas");
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 125);

    // "Verificar Últimos 3 Meses" starts again from 0, once the rest is over.
    w.service.ClearQueries();
    EXPECT_TRUE(w.Schedule().VerificarUltimos3Meses([&](bool on) { w.param.Ativo = on; }, [] {}));
    w.Schedule().WaitForWorkers();
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 0);
    w.clock.Advance(61min);
    w.Cycle();
    EXPECT_EQ(DistNsus(w, d), (std::vector<std::string>{Nsu15(0), Nsu15(50), Nsu15(100)}));
    EXPECT_EQ(w.param.ConsultadosNums.Count(), 125u);
    EXPECT_EQ(w.service.UsageOf(d).consumoIndevido, 0);
}

TEST_F(SequentialMode, A656EndsTheTurnAndKeepsTheStoredUltNsu) {
    for (int n = 1; n <= 70; ++n) {
        w.service.AddDocument(d, n, standin::ResNFeXml(Resumo(n)));
    }
    w.Cycle();
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 70);
    // Another program read further for the same CNPJ meanwhile... and this one, once the rest is
    // over, asks from its own older ultNSU: out of sequence.
    w.dir.Write("UltimosNSU.dat", d + ";50\r\n");
    w.clock.Advance(61min);
    TMonitorSchedule schedule(w.param, w.sync, w.Ambiente(), w.DateClock());
    schedule.Tick();
    schedule.WaitForWorkers();
    EXPECT_EQ(DistNsus(w, d).back(), Nsu15(50));
    EXPECT_EQ(w.param.Empresas.Item(0)->Status(),
              (std::pair<int, std::string>{
                  2, std::string("656 - ") + TDfeStandIn::kMotivoForaDeSequencia}));
    // The 656's ultNSU is not taken: the next query, an hour later, is from the same point.
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 50);
    const size_t queries = w.service.Queries().size();
    schedule.Tick();
    schedule.WaitForWorkers();
    EXPECT_EQ(w.service.Queries().size(), queries);
    EXPECT_EQ(
        w.param.Empresas.Item(0)->Situacao().rfind("Consumo indevido: nova consulta após ", 0), 0u);
    w.clock.Advance(61min);
    schedule.Tick();
    schedule.WaitForWorkers();
    EXPECT_EQ(DistNsus(w, d).back(), Nsu15(50));
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao().rfind("Nenhuma nova nota foi encontrada", 0),
              0u);
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 70);
    EXPECT_EQ(w.service.UsageOf(d).duringBlock, 0);
}

// The site failing in the middle of a turn: three uploads in a row that fail end the turn (the
// site is taken for down, nothing more is read); what was read stays pending, written down before
// the stored ultNSU moved past it, and the next turn sends it first and reads on from there.
TEST_F(SequentialMode, ThreeFailedUploadsInARowEndTheTurnAndTheRestStaysPending) {
    for (int n = 1; n <= 120; ++n) {
        w.service.AddDocument(d, n, standin::ResNFeXml(Resumo(n)));
    }
    w.site.Script("/chaves.php", standin::Response{503, "", {}, "Fora do ar"});
    const auto uploadsTried = [&] {
        size_t n = 0;
        for (const auto& r : w.site.Requests()) {
            n += r.target == "/chaves.php";
        }
        return n;
    };

    w.Cycle();
    EXPECT_EQ(uploadsTried(), 3u);
    EXPECT_EQ(DistNsus(w, d), std::vector<std::string>{Nsu15(0)});
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 50);
    EXPECT_EQ(TEnviosPendentes(w.AppDir()).Quantos(d), 50u);
    EXPECT_NE(std::find(w.sync.logs.begin(), w.sync.logs.end(),
                        "O site não respondeu; os resumos não enviados do CNPJ 11222333000181 "
                        "ficam pendentes para o próximo ciclo."),
              w.sync.logs.end());
    EXPECT_TRUE(w.site.Uploads().empty());
    EXPECT_EQ(
        w.param.Empresas.Item(0)->Status(),
        (std::pair<int, std::string>{
            2, "O site não respondeu; os resumos lidos ficam pendentes para o próximo ciclo."}));

    // The site is back: the 50 go first, without a query, then the reading goes on from 50.
    w.site.ClearScripts();
    w.service.ClearQueries();
    w.clock.Advance(5min);
    w.Cycle();
    EXPECT_EQ(DistNsus(w, d), (std::vector<std::string>{Nsu15(50), Nsu15(100)}));
    const auto uploads = w.site.Uploads();
    ASSERT_EQ(uploads.size(), 120u);
    for (int n = 1; n <= 120; ++n) {
        EXPECT_EQ(uploads[n - 1].chNFe, Chave(n));
        EXPECT_EQ(uploads[n - 1].answer, "OK");
    }
    EXPECT_EQ(TEnviosPendentes(w.AppDir()).Quantos(d), 0u);
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 120);
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "120 novas notas foi inseridas");
}

// With the site out of reach, what was read piles up as pending summaries. Past the bound, a
// CNPJ's turns only try to send them and read nothing more (its stored ultNSU stays, so the
// service's sequence is kept and nothing is lost); other CNPJs go on; once the site is back,
// everything arrives.
TEST_F(SequentialMode, ABacklogOfPendingSummariesStopsTheReadingOfItsCnpjOnly) {
    w.maximoPendentes = 40;
    for (int n = 1; n <= 120; ++n) {
        w.service.AddDocument(d, n, standin::ResNFeXml(Resumo(n)));
    }
    w.param.IDUsuario.Set("4242");
    w.UseSite("127.0.0.1:1");  // refused at once

    w.Cycle();
    EXPECT_EQ(DistNsus(w, d), std::vector<std::string>{Nsu15(0)});
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 50);
    TEnviosPendentes pendentes(w.AppDir());
    EXPECT_EQ(pendentes.Quantos(d), 50u);

    // Another company, registered meanwhile, is read while A waits for the site.
    const auto c = w.AddCompany("EMPRESA C LTDA", "33000167000101", "senha-c", false);
    w.Register(c, c.cnpj);
    w.service.AddDocument(c.cnpj, 1, standin::ResNFeXml(Resumo(500)));
    w.service.ClearQueries();
    w.clock.Advance(5min);
    EXPECT_EQ(w.Schedule().VerificarAgora(), std::nullopt);
    w.Schedule().WaitForWorkers();
    EXPECT_TRUE(DistNsus(w, d).empty());
    EXPECT_EQ(DistNsus(w, c.cnpj), std::vector<std::string>{Nsu15(0)});
    const auto a = w.param.Empresas.Item(0);
    const std::string retido =
        "50 resumos aguardam o envio ao site; novos documentos serão lidos do serviço nacional "
        "quando eles forem enviados.";
    EXPECT_EQ(a->Status(), (std::pair<int, std::string>{2, retido}));
    EXPECT_NE(
        std::find(w.sync.logs.begin(), w.sync.logs.end(), "CNPJ 11.222.333/0001-81: " + retido),
        w.sync.logs.end());
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(d), 50);

    // "Verificar Agora" during C's rest (it read everything) sends nothing for C either.
    w.service.ClearQueries();
    for (int i = 0; i < 3; ++i) {
        w.clock.Advance(1min);
        EXPECT_EQ(w.Schedule().VerificarAgora(), std::nullopt);
        w.Schedule().WaitForWorkers();
    }
    EXPECT_TRUE(w.service.Queries().empty());

    // The site is back (a new start reads the hosts again): the pending summaries go first, then
    // the reading goes on from ultNSU 50.
    w.UseSite(w.site.HostPort());
    w.schedule.reset();
    w.Cycle();
    EXPECT_EQ(DistNsus(w, d), (std::vector<std::string>{Nsu15(50), Nsu15(100)}));
    EXPECT_EQ(a->Situacao(), "120 novas notas foi inseridas");
    EXPECT_EQ(TEnviosPendentes(w.AppDir()).Quantos(d), 0u);
    EXPECT_EQ(w.service.UsageOf(d).consumoIndevido, 0);
}

// Each file of the sequential mode leaves out what it cannot use, keeps the file as it was beside
// it, and says so once; the other lines stay in use.
TEST(SequentialModeFiles, DamagedLinesAreLeftOutAndTheFileKeptAside) {
    const std::string a = "11222333000181";
    const std::string b = "45997418000153";
    const std::string resumo = EncodeBase64(standin::ResNFeXml(test::Resumo(7)));
    const struct {
        const char* file;
        std::string damaged;  // a line of B's
    } cases[] = {
        {"UltimosNSU.dat", b + ";abc"},
        {"UltimosNSU.dat", b + ";-5"},
        {"UltimosNSU.dat", b + ";99999999999999999999"},
        {"UltimosNSU.dat", b + ";"},
        {"UltimosNSU.dat", b},
        {"UltimosNSU.dat", b + ";5;6"},
        {"UltimosNSU.dat", "4599741800015x;5"},
        {"UltimosNSU.dat", "459974180001531;5"},
        {"EnviosPendentes.dat", b + ";7;n\xe3o base64"},
        {"EnviosPendentes.dat", b + ";sete;" + resumo},
        {"EnviosPendentes.dat", b + ";7;" + EncodeBase64("<nfeProc/>")},
        {"EnviosPendentes.dat", b + ";7;"},
        {"EnviosPendentes.dat", b + ";7"},
        {"EnviosPendentes.dat", b + ";7;" + resumo.substr(0, resumo.size() / 2)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.damaged);
        test::TempDir dir;
        const std::string appDir = dir.path().string() + "/";
        const bool ultimos = c.file == std::string("UltimosNSU.dat");
        const std::string good = ultimos ? a + ";120" : a + ";3;" + resumo;
        const std::string bytes = good + "\r\n" + c.damaged + "\r\n";
        dir.Write(c.file, bytes);
        std::string aviso;
        if (ultimos) {
            TUltimosNSU u(appDir);
            EXPECT_EQ(u.Ler(a), 120);
            EXPECT_EQ(u.Ler(b), 0);
            aviso = u.TomarAviso();
            EXPECT_EQ(u.TomarAviso(), "");  // said once
        } else {
            TEnviosPendentes p(appDir);
            const auto deA = p.DoCnpj(a);
            ASSERT_EQ(deA.size(), 1u);
            EXPECT_EQ(deA[0].nsu, 3);
            EXPECT_EQ(deA[0].xml, standin::ResNFeXml(test::Resumo(7)));
            EXPECT_EQ(p.Quantos(b), 0u);
            aviso = p.TomarAviso();
        }
        const auto aside = dir.Named(std::string(c.file) + ".danificado-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(dir.Read(aside[0]), bytes);
        EXPECT_EQ(aviso, "O arquivo " + dir.File(c.file) +
                             " tinha 1 linha danificada, deixada de lado; uma cópia do arquivo "
                             "como estava foi guardada em " +
                             dir.File(aside[0]) + ".");
    }
}

// An answer whose ultNSU is not a number is not taken: the turn ends with the reason, and neither
// the stored ultNSU nor the pending summaries change.
TEST(SequentialModeFiles, AnUltNsuThatIsNotANumberIsNotStored) {
    for (const char* ultNSU : {"", "abc", "-5", "12x"}) {
        SCOPED_TRACE(ultNSU);
        MonitorWorld w;
        test::FakeDfeService service;
        service.response.body = TDfeStandIn::Envelope(
            std::string("<retDistDFeInt versao=\"1.01\"><tpAmb>1</tpAmb><cStat>137</cStat>"
                        "<xMotivo>Nenhum documento localizado</xMotivo><ultNSU>") +
            ultNSU + "</ultNSU><maxNSU>0</maxNSU></retDistDFeInt>");
        w.UseSite(w.site.HostPort(), service.HostPort());
        TProfileFile config(w.dir.File("Config.dat"));
        GravarConsultaSequencial(config, true);
        w.Register(w.a, w.a.cnpj);
        w.dir.Write("UltimosNSU.dat", w.a.cnpj + ";40\r\n");
        w.Cycle();
        EXPECT_EQ(w.param.Empresas.Item(0)->Status(),
                  (std::pair<int, std::string>{
                      2, std::string("O serviço nacional respondeu com um ultNSU que não é um "
                                     "número válido: \"") +
                             ultNSU + "\"."}));
        EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(w.a.cnpj), 40);
        EXPECT_FALSE(std::filesystem::exists(w.dir.File("EnviosPendentes.dat")));
        EXPECT_FALSE(std::filesystem::exists(w.dir.File("Descansos.dat")));
    }
}

}  // namespace
}  // namespace quelvo
