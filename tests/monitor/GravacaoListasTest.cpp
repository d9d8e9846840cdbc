// When the worker writes the seen-lists, and what it does when it cannot.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "common/ConsultaSequencial.h"
#include "common/ProfileFile.h"
#include "monitor/TConsultas.h"
#include "support/Documentos.h"
#include "support/MonitorWorld.h"

namespace quelvo {
namespace {

using test::Chave;
using test::MonitorWorld;

void AddSummaries(MonitorWorld& w, const std::string& cnpj, int count, int offset = 0) {
    for (int n = 1; n <= count; ++n) {
        standin::ResumoNFe r;
        r.chNFe = Chave(offset + n);
        r.cnpjEmitente = "60746948000112";
        r.xNome = "FORNECEDOR";
        w.service.AddDocument(cnpj, n, standin::ResNFeXml(r));
    }
}

size_t Lines(const std::string& text) {
    return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

// The worker's environment with its saves as often as the test wants.
void UseSaveInterval(MonitorWorld& w, std::chrono::milliseconds interval) {
    TConsultasAmbiente ambiente = w.Ambiente();
    ambiente.gravacao = interval;
    w.schedule = std::make_unique<TMonitorSchedule>(w.param, w.sync, ambiente, w.DateClock());
}

// A file the program cannot replace: a folder stands in its place (a full disk or a folder made
// read-only give the same failure, even to root).
void Block(MonitorWorld& w, const std::string& name) {
    std::filesystem::remove(w.dir.File(name));
    std::filesystem::create_directory(w.dir.File(name));
}
void Unblock(MonitorWorld& w, const std::string& name) {
    std::filesystem::remove(w.dir.File(name));
}

TEST(GravacaoListas, AfterEveryCompanysTurn) {
    MonitorWorld w;
    w.Register(w.a, "11.222.333/0001-81");
    w.Register(w.b, "45.997.418/0001-53");
    AddSummaries(w, w.a.cnpj, 3);
    AddSummaries(w, w.b.cnpj, 2, 100);
    std::string whenBStarted;
    w.sync.onList = [&] {
        if (whenBStarted.empty() && w.param.Empresas.Item(1)->Situacao() == "Buscando...") {
            whenBStarted = w.dir.Read("ConsultadosNums.dat") + "|" + w.dir.Read("Consultados.dat");
        }
    };
    w.Cycle();
    // B's turn began with A's work already on disk.
    const std::string a = w.a.cnpj;
    EXPECT_EQ(whenBStarted, a + "3\r\n" + a + "2\r\n" + a + "1\r\n|" + Chave(3) + "\r\n" +
                                Chave(2) + "\r\n" + Chave(1) + "\r\n");
    EXPECT_EQ(w.site.Uploads().size(), 5u);
    EXPECT_EQ(Lines(w.dir.Read("ConsultadosNums.dat")), 5u);
}

TEST(GravacaoListas, DuringALongWalk) {
    // Every upload the site took is on disk before the next step, whatever the interval of the
    // whole saves (which only rewrite the files compactly).
    for (const bool often : {true, false}) {
        MonitorWorld w;
        w.Register(w.a, "11.222.333/0001-81");
        AddSummaries(w, w.a.cnpj, 4);
        UseSaveInterval(w, often ? std::chrono::milliseconds(0) : std::chrono::minutes(1));
        std::vector<size_t> onDisk;
        w.sync.onProgress = [&](TConsultas&) {
            onDisk.push_back(Lines(w.dir.Read("ConsultadosNums.dat")));
        };
        w.Cycle();
        // At the end of each step: that step's record too.
        EXPECT_EQ(onDisk, (std::vector<size_t>{1, 2, 3, 4}))
            << (often ? "every step" : "once a minute");
        EXPECT_EQ(Lines(w.dir.Read("ConsultadosNums.dat")), 4u);
    }
}

TEST(GravacaoListas, AFolderThatCannotBeWrittenStopsTheCycleBeforeAnyUpload) {
    MonitorWorld w;
    w.Register(w.a, "11.222.333/0001-81");
    AddSummaries(w, w.a.cnpj, 3);
    Block(w, "ConsultadosNums.dat");
    w.Cycle();
    EXPECT_TRUE(w.site.Uploads().empty());
    EXPECT_TRUE(w.service.Queries().empty());
    const std::string erro = w.param.ErroGravacao.Get();
    EXPECT_EQ(erro.rfind("Não foi possível gravar as listas de notas já enviadas (" +
                             w.dir.File("ConsultadosNums.dat"),
                         0),
              0u)
        << erro;
    EXPECT_NE(erro.find("Os envios ao site foram interrompidos"), std::string::npos) << erro;
    EXPECT_EQ(w.sync.logs, (std::vector<std::string>{erro}));
    EXPECT_EQ(w.param.StatusTexto.Get(), erro);
    EXPECT_FALSE(w.param.Executando);

    // Once the folder can be written again, the next cycle does its work and clears the error.
    Unblock(w, "ConsultadosNums.dat");
    w.Cycle();
    EXPECT_EQ(w.site.Uploads().size(), 3u);
    EXPECT_EQ(w.param.ErroGravacao.Get(), "");
    EXPECT_EQ(Lines(w.dir.Read("ConsultadosNums.dat")), 3u);
}

TEST(GravacaoListas, AFailedSaveDuringTheWalkStopsTheUploads) {
    MonitorWorld w;
    w.Register(w.a, "11.222.333/0001-81");
    w.Register(w.b, "45.997.418/0001-53");
    AddSummaries(w, w.a.cnpj, 5);
    AddSummaries(w, w.b.cnpj, 2, 100);
    UseSaveInterval(w, std::chrono::milliseconds(0));
    w.sync.onProgress = [&](TConsultas& worker) {
        if (worker.Progresso == 2) {
            Block(w, "Consultados.dat");  // the disk is full from here on
        }
    };
    w.Cycle();
    // NSUs 5 and 4 went up; the save after NSU 4 failed: nothing more is queried or sent, for
    // this company or the next.
    EXPECT_EQ(w.site.Uploads().size(), 2u);
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj), (std::vector<long long>{0, 5, 4}));
    EXPECT_TRUE(w.QueriedNsus(w.b.cnpj).empty());
    const std::string erro = w.param.ErroGravacao.Get();
    EXPECT_NE(erro.find(w.dir.File("Consultados.dat")), std::string::npos) << erro;
    EXPECT_EQ(w.param.Empresas.Item(0)->Status(), (std::pair<int, std::string>{kEstadoErro, erro}));
    EXPECT_EQ(w.param.Empresas.Item(1)->Situacao(), "Esperando...");
    EXPECT_NE(std::find(w.sync.logs.begin(), w.sync.logs.end(), erro), w.sync.logs.end());
    EXPECT_FALSE(w.param.Executando);
}

TEST(GravacaoListas, TheSequentialModeStopsToo) {
    MonitorWorld w;
    TProfileFile config(w.dir.File("Config.dat"));
    GravarConsultaSequencial(config, true);
    w.Register(w.a, "11.222.333/0001-81");
    AddSummaries(w, w.a.cnpj, 120);
    UseSaveInterval(w, std::chrono::milliseconds(0));
    w.sync.onProgress = [&](TConsultas&) { Block(w, "Consultados.dat"); };
    w.Cycle();
    // The first answer's 50 summaries went up; its save failed: no second query.
    EXPECT_EQ(w.site.Uploads().size(), 50u);
    EXPECT_EQ(w.service.Queries().size(), 1u);
    EXPECT_EQ(w.param.Empresas.Item(0)->Estado(), kEstadoErro);
    EXPECT_NE(w.param.ErroGravacao.Get(), "");
}

}  // namespace
}  // namespace quelvo
