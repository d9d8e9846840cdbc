// The DF-e client against servers that are not the national service: another server's
// certificate, a chain no anchor vouches for, an answer without end, one that drips (their SOAP
// faults: DistributionClientTest).
#include <gtest/gtest.h>
#include <openssl/x509.h>

#include <chrono>
#include <filesystem>

#include "dfe/Compression.h"
#include "dfe/ENFeClientError.h"
#include "dfe/TNFeClient.h"
#include "dfe/TSoapHttpTransport.h"
#include "support/DfeWorld.h"
#include "support/ErrorOf.h"
#include "support/FakeDfeService.h"

namespace quelvo {
namespace {

const auto ErrorOf = test::ErrorOf<ENFeClientError>;

using standin::Response;

constexpr const char* kPrefix =
    "WebService Distribuição de DFe:\r\n- Inativo ou Inoperante tente novamente.\r\n- ";

// A client of the world's company A that talks to the fake service.
std::unique_ptr<TNFeClient> ClientOf(test::DfeWorld& w, const test::FakeDfeService& service) {
    auto client = w.NewClient(w.a);
    client->Configuracoes.Servidores.DFeProducao = service.HostPort();
    return client;
}

// The server must prove that it is the service of the address asked for: its certificate names
// that address and its chain ends at an anchor (the built-in roots, the system's, or a file of
// "ac-confiaveis"). Otherwise nothing is sent, and the message says which of the two failed.
TEST(HostileServer, TheServersCertificateMustNameItAndChainToAnAnchor) {
    enum class Anchors { TestRoot, None, NoFolder, TestRootAsDer };
    const char* const kOwnNames = "DNS:localhost,IP:127.0.0.1,IP:::1";
    const struct {
        const char* what;
        const char* names;
        Anchors anchors;
        bool accepted;
    } cases[] = {
        {"the service's own certificate", kOwnNames, Anchors::TestRoot, true},
        {"a certificate for another name", "DNS:outro.example", Anchors::TestRoot, false},
        {"a chain no anchor covers", kOwnNames, Anchors::None, false},
        {"no folder of anchors", kOwnNames, Anchors::NoFolder, false},
        {"the root as a DER file, as authorities publish it", kOwnNames, Anchors::TestRootAsDer,
         true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::DfeWorld w;
        std::string folder = w.dir.File("ac-confiaveis") + "/";
        if (c.anchors != Anchors::TestRoot) {
            std::filesystem::remove(w.dir.File("ac-confiaveis/raiz.pem"));
        }
        if (c.anchors == Anchors::NoFolder) {
            folder = w.dir.File("nenhuma") + "/";
        }
        if (c.anchors == Anchors::TestRootAsDer) {
            unsigned char* der = nullptr;
            const int length = i2d_X509(test::SharedPki().Root(), &der);
            w.dir.Write("ac-confiaveis/AC-Raiz.crt", std::string(reinterpret_cast<const char*>(der),
                                                                 static_cast<size_t>(length)));
            OPENSSL_free(der);
        }
        test::FakeDfeService server(c.names);
        auto client = ClientOf(w, server);
        client->Configuracoes.PastaAcConfiaveis = folder;
        if (c.accepted) {
            EXPECT_TRUE(client->RequestDistribution(35, w.a.cnpj, "", "0"));
            continue;
        }
        const std::string refused =
            ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); });
        EXPECT_EQ(refused.rfind(std::string(kPrefix) + "Erro: Requisição não enviada.\r\n60 - ", 0),
                  0u)
            << refused;
        const std::string hint =
            c.anchors == Anchors::TestRoot
                ? "\r\nO certificado apresentado pelo servidor não é do endereço " + server.Url() +
                      ": a conexão foi recusada."
                : "\r\nA cadeia do certificado do servidor não é confiável (unable to get local "
                  "issuer certificate): nem as raízes da ICP-Brasil embutidas no aplicativo nem as "
                  "autoridades certificadoras do sistema a cobrem. Coloque o certificado da "
                  "autoridade certificadora raiz dessa cadeia (arquivo .crt ou .pem) na pasta " +
                      folder + " do aplicativo.";
        ASSERT_GE(refused.size(), hint.size());
        EXPECT_EQ(refused.substr(refused.size() - hint.size()), hint) << refused;
        EXPECT_TRUE(server.server->Requests().empty());  // nothing was sent to it
    }
}

TEST(HostileServer, AnAnswerPastTheLimitIsCutShort) {
    test::DfeWorld w;
    test::FakeDfeService endless;
    auto client = ClientOf(w, endless);
    endless.response.body = std::string(TSoapHttpTransport::kMaxAnswerBytes + 1, ' ');
    EXPECT_EQ(ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); }),
              std::string(kPrefix) + "Erro: a resposta do servidor passou do limite de 32 MB.");
    // The client goes on with the next answer.
    endless.response = test::FakeDfeService::NothingFound();
    EXPECT_TRUE(client->RequestDistribution(35, w.a.cnpj, "", "0"));
}

TEST(HostileServer, ADrippingServerMeetsTheDeadline) {
    test::DfeWorld w;
    test::FakeDfeService drip;
    drip.response.drip = std::chrono::milliseconds(50);  // never stalls
    drip.response.body = std::string(400, ' ');          // 20 s of dripping
    auto client = ClientOf(w, drip);
    client->Services.Distribution.Transport().DeadlineMs = 800;
    const auto start = std::chrono::steady_clock::now();
    const std::string error = ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); });
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(error.rfind(std::string(kPrefix) +
                              "Erro: Requisição não enviada.\r\n28 - Operation timed out after ",
                          0),
              0u)
        << error;
    // (libcurl counts its deadline in whole milliseconds: it may end up to one of them early.)
    EXPECT_GE(took, std::chrono::milliseconds(799));
    EXPECT_LT(took, std::chrono::seconds(20));  // the deadline, not the end of the answer
    EXPECT_EQ(client->Status(), 0);
}

}  // namespace
}  // namespace quelvo
