// The DF-e client against servers that are not the national service: another server's
// certificate, a chain no anchor vouches for, an answer without end, one that drips, SOAP faults.
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

TEST(HostileServer, ACertificateForAnotherNameIsRefused) {
    test::DfeWorld w;
    // Same trusted authority, but the certificate names another server: whoever holds it could
    // otherwise answer in the service's place.
    test::FakeDfeService impostor("DNS:outro.example");
    auto client = ClientOf(w, impostor);
    const std::string refused =
        ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); });
    EXPECT_EQ(refused.rfind(std::string(kPrefix) + "Erro: Requisição não enviada.\r\n60 - ", 0), 0u)
        << refused;
    const std::string hint = "\r\nO certificado apresentado pelo servidor não é do endereço " +
                             impostor.Url() + ": a conexão foi recusada.";
    EXPECT_EQ(refused.substr(refused.size() - hint.size()), hint) << refused;
    EXPECT_TRUE(impostor.server->Requests().empty());  // nothing was sent to it

    // The same server with a certificate for its address is answered.
    test::FakeDfeService genuine;
    EXPECT_TRUE(ClientOf(w, genuine)->RequestDistribution(35, w.a.cnpj, "", "0"));
}

TEST(HostileServer, AnUntrustedChainNamesTheAnchorsFolder) {
    test::DfeWorld w;
    std::filesystem::remove(w.dir.File("ac-confiaveis/raiz.pem"));
    auto client = w.NewClient(w.a);
    const std::string folder = w.dir.File("ac-confiaveis") + "/";
    client->Configuracoes.PastaAcConfiaveis = folder;
    const std::string refused =
        ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); });
    EXPECT_EQ(refused.rfind(std::string(kPrefix) + "Erro: Requisição não enviada.\r\n60 - ", 0), 0u)
        << refused;
    const std::string hint =
        "\r\nA cadeia do certificado do servidor não é confiável (unable to get local issuer "
        "certificate): nem as raízes da ICP-Brasil embutidas no aplicativo nem as autoridades "
        "certificadoras do sistema a cobrem. Coloque o certificado da autoridade certificadora "
        "raiz dessa cadeia (arquivo .crt ou .pem) na pasta " +
        folder + " do aplicativo.";
    EXPECT_EQ(refused.substr(refused.size() - hint.size()), hint) << refused;

    // The root put there as a DER file, as authorities publish them, is trusted.
    X509* root = test::SharedPki().Root();
    unsigned char* der = nullptr;
    const int length = i2d_X509(root, &der);
    w.dir.Write("ac-confiaveis/AC-Raiz.crt",
                std::string(reinterpret_cast<const char*>(der), static_cast<size_t>(length)));
    OPENSSL_free(der);
    EXPECT_TRUE(w.NewClient(w.a)->RequestDistribution(35, w.a.cnpj, "", "0"));
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
    EXPECT_LT(took, std::chrono::milliseconds(2500));
    EXPECT_EQ(client->Status(), 0);
}

TEST(HostileServer, ASoapFaultGivesItsReason) {
    test::DfeWorld w;
    test::FakeDfeService faulty;
    auto client = ClientOf(w, faulty);
    struct Case {
        const char* what;
        std::string body;
        std::string message;
    };
    const Case cases[] = {
        {"SOAP 1.2",
         "<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/"
         "soap-envelope\"><env:Body><env:Fault><env:Code><env:Value>env:Receiver</env:Value>"
         "</env:Code><env:Reason><env:Text xml:lang=\"pt-BR\"> Servidor sobrecarregado "
         "</env:Text></env:Reason></env:Fault></env:Body></env:Envelope>",
         "Servidor sobrecarregado"},
        {"SOAP 1.1 without prefix",
         "<Envelope><Body><Fault><faultcode>soap:Server</faultcode><faultstring>Server was "
         "unable to process request.</faultstring></Fault></Body></Envelope>",
         "Server was unable to process request."},
        {"a fault without a reason",
         "<soap:Envelope><soap:Body><soap:Fault/></soap:Body>"
         "</soap:Envelope>",
         ""},
    };
    for (const auto& c : cases) {
        faulty.response = Response{500, "", {}, c.body};
        EXPECT_EQ(ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); }), c.message)
            << c.what;
        EXPECT_EQ(client->Services.Distribution.Response().cStat, 0) << c.what;
    }
}

}  // namespace
}  // namespace quelvo
