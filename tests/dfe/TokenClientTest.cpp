#include <gtest/gtest.h>

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

TEST(TokenClient, TheServiceSeesTheCertificateOfTheToken) {
    test::SoftHsm hsm;
    hsm.AddToken("eToken Empresa T", "4321");
    test::DfeWorld w;
    const auto t =
        w.AddTokenCompany(hsm, "eToken Empresa T", "4321", "EMPRESA T LTDA", "60746948000112");
    auto client = w.NewClient(t);
    // The token's company, a company of the folder, the token's again: each query presents its
    // own certificate; the token's key signs every handshake of its connections.
    ASSERT_TRUE(client->RequestDistribution(35, t.cnpj, "", "0"));
    ASSERT_TRUE(client->RequestDistribution(35, t.cnpj, "", "1"));
    Present(*client, w.a);
    ASSERT_TRUE(client->RequestDistribution(35, w.a.cnpj, "", "0"));
    Present(*client, t);
    ASSERT_TRUE(client->RequestDistribution(35, t.cnpj, "", "0"));
    const auto q = w.service.Queries();
    ASSERT_EQ(q.size(), 4u);
    EXPECT_EQ(q[0].certificateSerial, t.serial);
    EXPECT_EQ(q[1].certificateSerial, t.serial);
    EXPECT_EQ(q[2].certificateSerial, w.a.serial);
    EXPECT_EQ(q[3].certificateSerial, t.serial);
    EXPECT_EQ(q[0].connection, q[1].connection) << "the token's connection is kept";
    EXPECT_NE(q[1].connection, q[2].connection);
    EXPECT_NE(q[2].connection, q[3].connection);
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
