// The stand-in's usage rules, through the real client: the other suites trust them to behave as
// the national service does.
#include <gtest/gtest.h>

#include <chrono>

#include "dfe/ENFeRejeicao.h"
#include "dfe/TNFeClient.h"
#include "support/DfeWorld.h"

namespace quelvo {
namespace {

using namespace std::chrono_literals;
using standin::TDfeStandIn;

// A wall clock the test moves.
struct Clock {
    std::chrono::system_clock::time_point now = std::chrono::system_clock::now();
};

// One query of a scenario and what the service must answer.
struct Step {
    const char* what;
    std::chrono::minutes after;  // since the previous step
    bool cons;                   // consNSU (else distNSU)
    long long nsu;               // the NSU, or the ultNSU of a distNSU
    int cStat;
    const char* xMotivo;  // for a 656; nullptr otherwise
    long long ultNSU;     // expected in the answer (-1: not checked)
};

void RunSteps(test::DfeWorld& w, Clock& clock, const test::DfeWorld::Company& company,
              const std::vector<Step>& steps) {
    auto client = w.NewClient(company);
    for (const auto& s : steps) {
        clock.now += s.after;
        int cStat = 0;
        std::string motivo;
        try {
            client->RequestDistribution(35, company.cnpj, s.cons ? "" : std::to_string(s.nsu),
                                        s.cons ? std::to_string(s.nsu) : "");
            cStat = client->Services.Distribution.Response().cStat;
        } catch (const ENFeRejeicao& e) {
            cStat = e.cStat;
            motivo = e.what();
        }
        const auto& r = client->Services.Distribution.Response();
        EXPECT_EQ(cStat, s.cStat) << s.what;
        if (s.xMotivo) {
            EXPECT_EQ(motivo, s.xMotivo) << s.what;
            EXPECT_EQ(r.maxNSU, "000000000000000") << s.what;
        }
        if (s.ultNSU >= 0) {
            EXPECT_EQ(std::stoll(r.ultNSU), s.ultNSU) << s.what;
        }
    }
}

TEST(DfeStandInRules, TwentyConsNsuAnHourThenABlockThatQueriesRestart) {
    test::DfeWorld w;
    Clock clock;
    w.service.EnforceUsageRules(1h);
    w.service.SetClock([&] { return clock.now; });
    for (int n = 1; n <= 30; ++n) {
        w.service.AddDocument(w.a.cnpj, n, "<resNFe versao=\"1.01\"><chNFe>1</chNFe></resNFe>");
    }
    std::vector<Step> steps;
    for (int n = 0; n < 20; ++n) {
        steps.push_back({"within the allowance", 1min, true, n, n == 0 ? 137 : 138, nullptr, -1});
    }
    const char* limite = TDfeStandIn::kMotivoLimiteConsultas;
    steps.insert(steps.end(),
                 {
                     {"the 21st in the hour", 1min, true, 20, 656, limite, 0},
                     {"during the block", 50min, true, 21, 656, limite, 0},
                     {"an hour after the first 656: the block was restarted", 20min, true, 21, 656,
                      limite, 0},
                     {"a distNSU is blocked too", 1min, false, 0, 656, limite, 0},
                     {"an hour after the last refused query", 61min, true, 21, 138, nullptr, -1},
                 });
    RunSteps(w, clock, w.a, steps);
    const auto usage = w.service.UsageOf(w.a.cnpj);
    EXPECT_EQ(usage.queries, 25);
    EXPECT_EQ(usage.consumoIndevido, 4);
    EXPECT_EQ(usage.duringBlock, 3);
    // The other CNPJ was never limited.
    EXPECT_EQ(w.service.UsageOf(w.b.cnpj).consumoIndevido, 0);
}

TEST(DfeStandInRules, DistNsuSequenceAndTheRestAfterTheLastDocument) {
    test::DfeWorld w;
    Clock clock;
    w.service.EnforceUsageRules(1h);
    w.service.SetClock([&] { return clock.now; });
    for (int n = 1; n <= 60; ++n) {
        w.service.AddDocument(w.a.cnpj, n, "<resNFe versao=\"1.01\"><chNFe>1</chNFe></resNFe>");
        w.service.AddDocument(w.b.cnpj, n, "<resNFe versao=\"1.01\"><chNFe>2</chNFe></resNFe>");
    }
    const char* semDocumentos = TDfeStandIn::kMotivoSemDocumentos;
    const char* sequencia = TDfeStandIn::kMotivoForaDeSequencia;
    RunSteps(w, clock, w.a,
             {
                 {"first 50", 0min, false, 0, 138, nullptr, 50},
                 {"the last 10: ultNSU reaches maxNSU", 0min, false, 50, 138, nullptr, 60},
                 {"again within the hour", 30min, false, 60, 656, semDocumentos, 60},
                 {"after the block: nothing new", 61min, false, 60, 137, nullptr, 60},
                 {"after a 137, within the hour", 59min, false, 60, 656, semDocumentos, 60},
             });
    RunSteps(w, clock, w.b,
             {
                 {"first 50", 0min, false, 0, 138, nullptr, 50},
                 {"from an older ultNSU", 0min, false, 10, 656, sequencia, 50},
                 {"after the block the sequence starts afresh", 61min, false, 5, 138, nullptr, 55},
                 {"0 starts the sequence over at any time", 0min, false, 0, 138, nullptr, 50},
                 {"and it goes on from there", 0min, false, 50, 138, nullptr, 60},
             });
    EXPECT_EQ(w.service.UsageOf(w.a.cnpj).duringBlock, 0);
}

}  // namespace
}  // namespace quelvo
