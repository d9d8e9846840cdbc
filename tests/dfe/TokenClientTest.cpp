#include <gtest/gtest.h>

#include <iterator>
#include <map>
#include <thread>

#include "certificates/TTokenSession.h"
#include "dfe/ENFeClientError.h"
#include "dfe/TNFeClient.h"
#include "support/DfeWorld.h"
#include "support/ErrorOf.h"
#include "support/SoftHsm.h"

namespace quelvo {
namespace {

constexpr const char* kPrefix =
    "WebService Distribuição de DFe:\r\n- Inativo ou Inoperante tente novamente.\r\n- ";

void Present(TNFeClient& client, const test::DfeWorld::Company& company) {
    auto& cert = client.Configuracoes.Certificados;
    cert.SetNumeroSerie(company.serial);
    cert.SetSenha(company.senha);
}

// One client, one company after another: each query presents its own company's certificate,
// whether from a PKCS#12 file, one made with the legacy algorithms, or a token (whose key signs
// every handshake of its connections). Another certificate opens another connection; the same one
// keeps its connection.
TEST(TokenClient, EachQueryPresentsItsCompanysCertificate) {
    test::SoftHsm hsm;
    hsm.AddToken("eToken Empresa T", "4321");
    test::DfeWorld w;
    const auto t =
        w.AddTokenCompany(hsm, "eToken Empresa T", "4321", "EMPRESA T LTDA", "60746948000112");
    const struct {
        const char* what;
        const test::DfeWorld::Company* company;
        const char* nsu;
        bool sameConnection;  // as the query before
    } steps[] = {
        {"a PKCS#12 file", &w.a, "0", false},       {"a legacy PKCS#12 file", &w.b, "0", false},
        {"the file before", &w.a, "0", false},      {"a token", &t, "0", false},
        {"the token again", &t, "1", true},         {"a file after the token", &w.a, "0", false},
        {"the token after a file", &t, "0", false},
    };
    auto client = w.NewClient(w.a);
    for (const auto& s : steps) {
        Present(*client, *s.company);
        ASSERT_TRUE(client->RequestDistribution(35, s.company->cnpj, "", s.nsu)) << s.what;
    }
    const auto q = w.service.Queries();
    ASSERT_EQ(q.size(), std::size(steps));
    for (size_t i = 0; i < q.size(); ++i) {
        EXPECT_EQ(q[i].certificateSerial, steps[i].company->serial) << steps[i].what;
        if (i > 0) {
            EXPECT_EQ(q[i].connection == q[i - 1].connection, steps[i].sameConnection)
                << steps[i].what;
        }
    }
}

TEST(TokenClient, AWrongPinStopsTheCallBeforeAnythingIsSent) {
    test::SoftHsm hsm;
    hsm.AddToken("eToken Empresa T", "4321");
    test::DfeWorld w;
    auto t = w.AddTokenCompany(hsm, "eToken Empresa T", "4321", "EMPRESA T LTDA", "60746948000112");
    t.senha = "1234";
    auto client = w.NewClient(t);
    const long before = TTokenSession::LoginAttempts();
    EXPECT_EQ(
        test::ErrorOf<ENFeClientError>([&] { client->RequestDistribution(35, t.cnpj, "", "0"); }),
        std::string(kPrefix) +
            "O token \"eToken Empresa T\" recusou o PIN (a senha cadastrada para a "
            "empresa). Para que o token não se bloqueie, esse PIN não será apresentado de "
            "novo: confira o PIN e cadastre a empresa de novo com ele.");
    EXPECT_EQ(TTokenSession::LoginAttempts() - before, 1);
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(client->Status(), 0);
}

// The worker and a registration's test query at the same moment, on one token: two threads, two
// clients, each switching between a certificate on the token and one of the folder, so that the
// token signs new handshakes for both threads at once.
TEST(TokenClient, TwoThreadsUseOneTokenAtOnce) {
    test::SoftHsm hsm;
    hsm.AddToken("Token Compartilhado", "4321");
    test::DfeWorld w;
    const auto t1 =
        w.AddTokenCompany(hsm, "Token Compartilhado", "4321", "EMPRESA T1 LTDA", "60746948000112");
    const auto t2 =
        w.AddTokenCompany(hsm, "Token Compartilhado", "4321", "EMPRESA T2 LTDA", "11444777000161");
    constexpr int kRounds = 6;
    std::map<std::string, std::string> serialOf;
    for (const auto& c : {t1, t2, w.a, w.b}) {
        serialOf[c.cnpj] = c.serial;
    }
    auto run = [&](const test::DfeWorld::Company& token, const test::DfeWorld::Company& file,
                   int& failures) {
        auto client = w.NewClient(token);
        for (int i = 0; i < kRounds; ++i) {
            for (const test::DfeWorld::Company* c : {&token, &file}) {
                Present(*client, *c);
                try {
                    client->RequestDistribution(35, c->cnpj, "", "0");
                } catch (const std::exception&) {
                    ++failures;
                }
            }
        }
    };
    int failures1 = 0;
    int failures2 = 0;
    std::thread other([&] { run(t2, w.b, failures2); });
    run(t1, w.a, failures1);
    other.join();
    EXPECT_EQ(failures1, 0);
    EXPECT_EQ(failures2, 0);
    const auto queries = w.service.Queries();
    EXPECT_EQ(queries.size(), 4u * kRounds);
    for (const auto& q : queries) {
        EXPECT_EQ(q.certificateSerial, serialOf[q.cnpj]) << q.cnpj;
    }
}

}  // namespace
}  // namespace quelvo
