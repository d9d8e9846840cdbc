// A cycle with several companies' turns at once: each CNPJ in one turn at a time, a shared invoice
// uploaded once, a 656 of one company while the others go on, switching off with turns in flight;
// and the query settings a folder has by default.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <set>
#include <thread>

#include "common/ConsultaSequencial.h"
#include "common/ProfileFile.h"
#include "monitor/TEnviosPendentes.h"
#include "monitor/TUltimosNSU.h"
#include "support/Documentos.h"
#include "support/MonitorWorld.h"

namespace quelvo {
namespace {

using namespace std::chrono_literals;
using standin::TDfeStandIn;
using test::Chave;
using test::MonitorWorld;
using test::Resumo;
using Query = TDfeStandIn::Query;

constexpr auto kDemora = 300ms;  // every answer of the service waits this long

// Whether two of the queries were in flight at the same moment: with every answer delayed, a
// query that arrives less than the delay after another one was sent before that one's answer.
bool Sobrepostas(const std::vector<Query>& qs) {
    for (size_t i = 0; i < qs.size(); ++i) {
        for (size_t j = i + 1; j < qs.size(); ++j) {
            const auto d = qs[i].arrived > qs[j].arrived ? qs[i].arrived - qs[j].arrived
                                                         : qs[j].arrived - qs[i].arrived;
            if (d < kDemora) {
                return true;
            }
        }
    }
    return false;
}

std::vector<Query> DoCnpj(const MonitorWorld& w, const std::string& cnpj) {
    std::vector<Query> out;
    for (const auto& q : w.service.Queries()) {
        if (q.cnpj == cnpj) {
            out.push_back(q);
        }
    }
    return out;
}

struct Escritorio {
    explicit Escritorio(int simultaneas, int empresas = 4) {
        w.SetQuerySettings(true, simultaneas);
        w.service.SetDelay(kDemora);
        empresasCnpj = {w.a.cnpj, w.b.cnpj};
        w.Register(w.a, w.a.cnpj);
        w.Register(w.b, w.b.cnpj);
        const char* outros[] = {"33000167000101", "60746948000112", "07526557000100"};
        for (int i = 2; i < empresas; ++i) {
            const auto c = w.AddCompany("EMPRESA " + std::to_string(i), outros[i - 2],
                                        "senha-" + std::to_string(i), false);
            w.Register(c, c.cnpj);
            empresasCnpj.push_back(c.cnpj);
        }
    }
    MonitorWorld w;
    std::vector<std::string> empresasCnpj;
};

TEST(TurnosSimultaneos, TurnsRunSideBySideAndASharedInvoiceIsUploadedOnce) {
    for (const int k : {1, 4}) {
        Escritorio e(k);
        auto& w = e.w;
        // The same invoice reaches A and B; each company has one of its own too.
        w.service.AddDocument(w.a.cnpj, 1, standin::ResNFeXml(Resumo(7)));
        w.service.AddDocument(w.b.cnpj, 1, standin::ResNFeXml(Resumo(7)));
        for (size_t i = 0; i < e.empresasCnpj.size(); ++i) {
            w.service.AddDocument(e.empresasCnpj[i], 2, standin::ResNFeXml(Resumo(100 + i)));
        }
        // A slow upload of the shared invoice: the other turn meets it while it is in flight.
        w.site.ScriptUpload(Chave(7), standin::Response{200, "", {}, "OK", 2 * kDemora});
        w.Cycle();

        EXPECT_EQ(Sobrepostas(w.service.Queries()), k > 1) << k;
        std::map<std::string, int> uploads;
        for (const auto& u : w.site.Uploads()) {
            ++uploads[u.chNFe];
        }
        EXPECT_EQ(uploads[Chave(7)], 1) << k;
        EXPECT_EQ(uploads.size(), 5u) << k;
        // Both companies' NSUs of the shared invoice are recorded, on disk already.
        const std::string nums = w.dir.Read("ConsultadosNums.dat");
        EXPECT_NE(nums.find(w.a.cnpj + "1\r\n"), std::string::npos) << k;
        EXPECT_NE(nums.find(w.b.cnpj + "1\r\n"), std::string::npos) << k;
        // Companies in registry order when one runs at a time.
        if (k == 1) {
            std::vector<std::string> ordem;
            for (const auto& q : w.service.Queries()) {
                ordem.push_back(q.cnpj);
            }
            EXPECT_EQ(ordem, e.empresasCnpj);
        }
        // Every company's lines are one block: "Verificando" then its end line.
        const auto& logs = w.sync.logs;
        for (const auto& cnpj : e.empresasCnpj) {
            const auto inicio = std::find(logs.begin(), logs.end(),
                                          "Verificando NFes emitidas para o CNPJ: " + cnpj);
            ASSERT_NE(inicio, logs.end()) << k << " " << cnpj;
            ASSERT_NE(inicio + 1, logs.end());
            EXPECT_NE((inicio + 1)->find("novas notas foi inseridas para o CNPJ: " + cnpj),
                      std::string::npos)
                << k << " " << *(inicio + 1);
        }
    }
}

// The same company registered twice (as an older version could leave it): its turns never run
// at the same time, even when several run at once.
TEST(TurnosSimultaneos, OneCnpjIsNeverInTwoTurns) {
    Escritorio e(8, 2);
    auto& w = e.w;
    w.SetQuerySettings(false, 8);
    w.Register(w.a, "11.222.333/0001-81");
    w.service.AddDocument(w.a.cnpj, 1, standin::ResNFeXml(Resumo(1)));
    w.service.AddDocument(w.b.cnpj, 1, standin::ResNFeXml(Resumo(2)));
    w.UseUsageRules();
    w.Cycle();
    // The first turn: NSU 0 and 1; the second: NSU 0 alone, after the first turn has ended.
    const auto qs = DoCnpj(w, w.a.cnpj);
    EXPECT_EQ(qs.size(), 3u);
    EXPECT_FALSE(Sobrepostas(qs));
    EXPECT_TRUE(Sobrepostas(w.service.Queries()));  // B ran beside A
    EXPECT_EQ(w.site.Uploads().size(), 2u);
}

// A 656 for one company ends its turn alone: the others, running beside it, go on.
TEST(TurnosSimultaneos, A656OfOneCompanyWhileOthersRun) {
    Escritorio e(4);
    auto& w = e.w;
    w.SetQuerySettings(false, 4);
    for (const auto& cnpj : e.empresasCnpj) {
        for (int n = 1; n <= 5; ++n) {
            w.service.AddDocument(cnpj, n, standin::ResNFeXml(Resumo(n * 1000 + (cnpj[0] - '0'))));
        }
    }
    w.service.ScriptQuery(
        w.b.cnpj, 4, {TDfeStandIn::Script::Kind::Status, 656, TDfeStandIn::kMotivoLimiteConsultas});
    w.Cycle();
    EXPECT_TRUE(Sobrepostas(w.service.Queries()));
    for (int i = 0; i < w.param.Empresas.Quantidade(); ++i) {
        const auto empresa = w.param.Empresas.Item(i);
        if (empresa->CNPJ() == w.b.cnpj) {
            EXPECT_EQ(empresa->Status(),
                      (std::pair<int, std::string>{
                          2, std::string("656 - ") + TDfeStandIn::kMotivoLimiteConsultas}));
        } else {
            EXPECT_EQ(empresa->Situacao(), "5 novas notas foi inseridas") << empresa->CNPJ();
        }
    }
    // B rests; the next cycle leaves it alone and goes on with the others.
    w.service.ClearQueries();
    w.Cycle();
    EXPECT_TRUE(DoCnpj(w, w.b.cnpj).empty());
    EXPECT_EQ(DoCnpj(w, w.a.cnpj).size(), 1u);
}

// "Ativado" off with turns in flight: each turn stops within its step, and what was uploaded is
// recorded, on disk.
TEST(TurnosSimultaneos, SwitchingOffStopsEveryTurnWithinItsStep) {
    Escritorio e(4);
    auto& w = e.w;
    w.SetQuerySettings(false, 4);
    for (const auto& cnpj : e.empresasCnpj) {
        for (int n = 1; n <= 15; ++n) {
            w.service.AddDocument(cnpj, n, standin::ResNFeXml(Resumo(n * 1000 + (cnpj[0] - '0'))));
        }
    }
    size_t consultasAoDesligar = 0;
    w.sync.onProgress = [&](TConsultas&) {
        if (w.param.Ativo && w.service.Queries().size() >= 12) {
            consultasAoDesligar = w.service.Queries().size();
            w.param.Ativo = false;
        }
    };
    w.Cycle();
    ASSERT_GT(consultasAoDesligar, 0u);
    // At most the step each turn was in when it saw the switch.
    EXPECT_LE(w.service.Queries().size(), consultasAoDesligar + 4);
    EXPECT_FALSE(w.param.Executando);
    TSeenList nums;
    nums.LoadFromFile(w.dir.File("ConsultadosNums.dat"));
    for (const auto& u : w.site.Uploads()) {
        EXPECT_TRUE(w.param.Consultados.Contains(u.chNFe));
    }
    EXPECT_EQ(nums.Count(), w.site.Uploads().size());
}

// "Ativado" off while turns wait for another turn's upload of the same invoice: they send nothing
// once the switch is off (the site refusing that upload would have each of them try it in turn),
// and the summary waits for a later cycle.
TEST(TurnosSimultaneos, TurnsWaitingForAnUploadSendNothingOnceSwitchedOff) {
    Escritorio e(4);
    auto& w = e.w;
    for (const auto& cnpj : e.empresasCnpj) {
        w.service.AddDocument(cnpj, 1, standin::ResNFeXml(Resumo(7)));
    }
    w.site.ScriptUpload(Chave(7), standin::Response{200, "", {}, "FALHA", 500ms});
    std::thread desligar([&] {
        const auto ate = std::chrono::steady_clock::now() + 30s;
        while (w.site.Uploads().empty() && std::chrono::steady_clock::now() < ate) {
            std::this_thread::sleep_for(1ms);
        }
        w.param.Ativo = false;
    });
    w.Cycle();
    desligar.join();
    EXPECT_EQ(w.site.Uploads().size(), 1u);
    // Nobody took it: it waits for every company, none of whose NSUs is recorded.
    TEnviosPendentes pendentes(w.AppDir());
    for (const auto& cnpj : e.empresasCnpj) {
        EXPECT_EQ(pendentes.Quantos(cnpj), 1u) << cnpj;
        EXPECT_FALSE(w.param.ConsultadosNums.Contains(cnpj + "1")) << cnpj;
    }
}

// A folder that never chose: the sequential mode, 8 turns at once. A stored choice holds.
TEST(TurnosSimultaneos, TheQuerySettingsAndTheirDefaults) {
    const struct {
        const char* file;
        bool sequencial;
        int simultaneas;
    } cases[] = {
        {"", true, 8},
        {"[Config]\r\nConsultaSequencial=0\r\n", false, 8},
        {"[Config]\r\nConsultaSequencial=1\r\nConsultasSimultaneas=1\r\n", true, 1},
        {"[Config]\r\nConsultasSimultaneas=0\r\n", true, 1},
        {"[Config]\r\nConsultasSimultaneas=33\r\n", true, 32},
        {"[Config]\r\nConsultasSimultaneas=muitas\r\n", true, 8},
    };
    for (const auto& c : cases) {
        test::TempDir dir;
        const TProfileFile config(dir.Write("Config.dat", c.file));
        EXPECT_EQ(LerConsultaSequencial(config), c.sequencial) << c.file;
        EXPECT_EQ(LerConsultasSimultaneas(config), c.simultaneas) << c.file;
    }

    // A cycle of a folder without the keys reads with distNSU.
    MonitorWorld w;
    w.UseDefaultQuerySettings();
    w.Register(w.a, w.a.cnpj);
    w.service.AddDocument(w.a.cnpj, 1, standin::ResNFeXml(Resumo(1)));
    w.Cycle();
    ASSERT_EQ(w.service.Queries().size(), 1u);
    EXPECT_EQ(w.service.Queries()[0].nsu, "");
    EXPECT_EQ(w.service.Queries()[0].ultNSU, "000000000000000");
}

// A folder that ran the one-NSU walk before: the sequential mode reads from the oldest document
// and uploads only what the walk had not sent.
TEST(TurnosSimultaneos, AFolderComingFromTheWalkSendsNothingTwice) {
    MonitorWorld w;
    w.Register(w.a, w.a.cnpj);
    for (int n = 1; n <= 6; ++n) {
        w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(Resumo(n)));
    }
    w.SetQuerySettings(false, 1);
    w.UseUsageRules();
    w.Cycle();  // the walk: 6 down to 1
    ASSERT_EQ(w.site.Uploads().size(), 6u);
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("UltimosNSU.dat")));
    for (int n = 7; n <= 9; ++n) {
        w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(Resumo(n)));
    }
    w.UseDefaultQuerySettings();
    w.service.ClearQueries();
    w.Cycle();
    EXPECT_EQ(w.service.Queries().at(0).ultNSU, "000000000000000");
    EXPECT_EQ(w.site.Uploads().size(), 9u);  // only 7, 8 and 9 went now
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "3 novas notas foi inseridas");
    EXPECT_EQ(w.service.UsageOf(w.a.cnpj).consumoIndevido, 0);
    EXPECT_EQ(TUltimosNSU(w.AppDir()).Ler(w.a.cnpj), 9);
}

}  // namespace
}  // namespace quelvo
