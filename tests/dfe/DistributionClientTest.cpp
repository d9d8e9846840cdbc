#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <thread>

#include "dfe/ENFeClientError.h"
#include "dfe/TNFeClient.h"
#include "dfe/TSoapHttpTransport.h"
#include "support/DfeWorld.h"
#include "support/ErrorOf.h"
#include "support/FakeDfeService.h"
#include "support/TinyProxy.h"

namespace quelvo {
namespace {

const auto ErrorOf = test::ErrorOf<ENFeClientError>;

using standin::ResumoNFe;
using standin::TDfeStandIn;
using Script = TDfeStandIn::Script;

constexpr const char* kPrefix =
    "WebService Distribuição de DFe:\r\n- Inativo ou Inoperante tente novamente.\r\n- ";

ResumoNFe Resumo(const std::string& chave) {
    ResumoNFe r;
    r.chNFe = chave;
    r.cnpjEmitente = "60746948000112";
    r.xNome = "FORNECEDOR & CIA";
    r.ie = "110042490114";
    return r;
}

TEST(DistributionClient, SavedDocumentsAreReadableByTheirOwnerOnly) {
    // Asked for, the request, the answer and their envelopes are kept: they name the company and
    // its suppliers, so no one else reads them, whatever the umask.
    test::DfeWorld w;
    const test::TempDir salvos;
    const test::Umask umask(0);
    auto client = w.NewClient(w.a);
    client->Configuracoes.Geral.Salvar = true;
    client->Configuracoes.WebServices.Salvar = true;
    client->Configuracoes.Geral.SetPathSalvar(salvos.path().string());
    ASSERT_TRUE(client->RequestDistribution(35, "11.222.333/0001-81", "", "0"));
    int arquivos = 0;
    for (const auto& e : std::filesystem::directory_iterator(salvos.path())) {
        EXPECT_EQ(test::ModeOf(e.path().string()), "600") << e.path();
        ++arquivos;
    }
    EXPECT_EQ(arquivos, 4) << "the request, the answer and the envelope of each";
}

TEST(DistributionClient, QueriesTheServiceWithTheCompanyCertificate) {
    test::DfeWorld w;
    w.service.AddDocument(
        w.a.cnpj, 7, standin::ResNFeXml(Resumo("35261160746948000112550010000000071000000070")));
    auto client = w.NewClient(w.a);
    std::vector<int> statuses;
    client->OnStatusChange = [&](TNFeClient& c) { statuses.push_back(c.Status()); };

    ASSERT_TRUE(client->RequestDistribution(35, "11.222.333/0001-81", "", "0"));
    const auto& first = client->Services.Distribution.Response();
    EXPECT_EQ(first.cStat, 137);
    EXPECT_EQ(first.maxNSU, "000000000000007");
    EXPECT_TRUE(first.docZip.empty());

    ASSERT_TRUE(client->RequestDistribution(35, "11222333000181", "", "7"));
    const auto& second = client->Services.Distribution.Response();
    EXPECT_EQ(second.cStat, 138);
    ASSERT_EQ(second.docZip.size(), 1u);
    EXPECT_EQ(second.docZip[0].resNFe.xNome, "FORNECEDOR & CIA");
    EXPECT_EQ(client->Status(), 0);
    EXPECT_EQ(statuses, (std::vector<int>{17, 0, 17, 0}));

    const auto queries = w.service.Queries();
    ASSERT_EQ(queries.size(), 2u);
    for (const auto& q : queries) {
        EXPECT_EQ(q.certificateSerial, w.a.serial);
        EXPECT_EQ(q.versao, "1.01");
        EXPECT_EQ(q.tpAmb, "1");
        EXPECT_EQ(q.cUFAutor, "35");
        EXPECT_EQ(
            q.soapAction,
            "\"http://www.portalfiscal.inf.br/nfe/wsdl/NFeDistribuicaoDFe/nfeDistDFeInteresse\"");
        EXPECT_EQ(q.contentType, "application/soap+xml; charset=utf-8");
    }
    EXPECT_EQ(queries[0].nsu, "000000000000000");
    // One client keeps its connection between calls.
    EXPECT_EQ(queries[0].connection, queries[1].connection);
    EXPECT_EQ(client->Services.Distribution.Transport().ConnectionsOpened(), 1);

    // The headers as sent: one Host line, the three lines of the call, nothing of curl's own but
    // the body's length.
    const auto requests = w.service.Server().Requests();
    const std::string& head = requests[0].head;
    EXPECT_EQ(head.find("Host: "), head.rfind("Host: "));
    EXPECT_NE(head.find("Accept-Charset: utf-8\r\n"), std::string::npos);
    EXPECT_EQ(head.find("Expect:"), std::string::npos);
    EXPECT_EQ(head.find("Accept: "), std::string::npos);
    EXPECT_EQ(
        requests[0].body.rfind("<?xml version=\"1.0\" encoding=\"utf-8\"?><soap12:Envelope", 0),
        0u);
    EXPECT_NE(
        requests[0].body.find("<soap12:Body><nfeDistDFeInteresse xmlns=\"http://www.portalfiscal"
                              ".inf.br/nfe/wsdl/NFeDistribuicaoDFe\"><nfeDadosMsg><distDFeInt "),
        std::string::npos);
}

TEST(DistributionClient, FailureRows) {
    test::DfeWorld w;
    auto client = w.NewClient(w.a);
    client->Services.Distribution.Transport().StallTimeoutS = 1;
    const std::string cnpj = w.a.cnpj;
    // Other answers come from a server of the test's own, with status 500.
    test::FakeDfeService other;
    auto faked = w.NewClient(w.a);
    faked->Configuracoes.Servidores.DFeProducao = other.HostPort();
    struct Case {
        const char* what;
        std::optional<Script> script;
        std::string body;  // without a script
        std::string message;
    };
    const Case cases[] = {
        {"another status", Script{Script::Kind::Status, 656, "Rejeicao: Consumo Indevido", {}}, "",
         "Rejeicao: Consumo Indevido"},
        {"SOAP fault with status 500", Script{Script::Kind::SoapFault, 0, "", {}}, "",
         "Erro interno"},
        {"HTML error page", Script{Script::Kind::HtmlPage, 0, "", {}}, "",
         std::string(kPrefix) + "Erro: Requisição não enviada.\r\nServico Indisponivel"},
        {"empty body", Script{Script::Kind::EmptyBody, 0, "", {}}, "",
         std::string(kPrefix) + "Erro: Requisição não enviada.\r\n0 - No error"},
        {"corrupt docZip", Script{Script::Kind::CorruptDocZip, 0, "", {}}, "",
         std::string(kPrefix) + "data error"},
        {"SOAP 1.2 fault with its reason", std::nullopt,
         "<?xml version=\"1.0\"?><env:Envelope xmlns:env=\"http://www.w3.org/2003/05/"
         "soap-envelope\"><env:Body><env:Fault><env:Code><env:Value>env:Receiver</env:Value>"
         "</env:Code><env:Reason><env:Text xml:lang=\"pt-BR\"> Servidor sobrecarregado "
         "</env:Text></env:Reason></env:Fault></env:Body></env:Envelope>",
         "Servidor sobrecarregado"},
        {"SOAP 1.1 fault without prefix", std::nullopt,
         "<Envelope><Body><Fault><faultcode>soap:Server</faultcode><faultstring>Server was "
         "unable to process request.</faultstring></Fault></Body></Envelope>",
         "Server was unable to process request."},
        {"a fault without a reason", std::nullopt,
         "<soap:Envelope><soap:Body><soap:Fault/></soap:Body></soap:Envelope>", ""},
    };
    for (const auto& c : cases) {
        TNFeClient* used = client.get();
        if (c.script) {
            w.service.ScriptQuery(cnpj, 5, *c.script);
        } else {
            other.response = standin::Response{500, "", {}, c.body};
            used = faked.get();
        }
        EXPECT_EQ(ErrorOf([&] { used->RequestDistribution(35, cnpj, "", "5"); }), c.message)
            << c.what;
        EXPECT_EQ(used->Status(), 0) << c.what;
    }
    EXPECT_EQ(faked->Services.Distribution.Response().cStat, 0);
    // A body with a zero byte is read up to it.
    w.service.ScriptQuery(cnpj, 7, Script{Script::Kind::ZeroByte, 0, "", {}});
    EXPECT_TRUE(client->RequestDistribution(35, cnpj, "", "7"));
    EXPECT_EQ(client->Services.Distribution.Response().cStat, 137);
    // A slow server: the call fails after the stall time-out, and the client is usable again.
    w.service.ScriptQuery(cnpj, 6,
                          Script{Script::Kind::Slow, 0, "", std::chrono::milliseconds(2500)});
    const std::string slow = ErrorOf([&] { client->RequestDistribution(35, cnpj, "", "6"); });
    EXPECT_EQ(slow.rfind(std::string(kPrefix) + "Erro: Requisição não enviada.\r\n28 - ", 0), 0u)
        << slow;
    EXPECT_TRUE(client->RequestDistribution(35, cnpj, "", "0"));
    // A failed call before the answer leaves the previous answer in place.
    EXPECT_EQ(client->Services.Distribution.Response().cStat, 137);
}

TEST(DistributionClient, CertificateAndConfigurationFailures) {
    test::DfeWorld w;
    auto client = w.NewClient(w.a);
    client->Configuracoes.Certificados.SetNumeroSerie("ABCDEF");
    EXPECT_EQ(ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); }),
              std::string(kPrefix) + "Certificado Digital não encontrado!");
    client->Configuracoes.Certificados.SetNumeroSerie("");
    EXPECT_EQ(ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); }),
              std::string(kPrefix) + "Número de Série do Certificado Digital não especificado !");
    client->Configuracoes.Certificados.SetNumeroSerie(w.a.serial);
    client->Configuracoes.Certificados.SetSenha("errada");
    const std::string wrong = ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); });
    EXPECT_EQ(wrong, std::string(kPrefix) + "A senha informada não abre o certificado digital \"" +
                         w.a.serial + "\".");

    // No address for the configuration: raised before sending, not wrapped, status untouched.
    auto scan = w.NewClient(w.a);
    scan->Configuracoes.Geral.FormaEmissao = TpcnTipoEmissao::teSCAN;
    std::vector<int> statuses;
    scan->OnStatusChange = [&](TNFeClient& c) { statuses.push_back(c.Status()); };
    EXPECT_EQ(ErrorOf([&] { scan->RequestDistribution(35, w.a.cnpj, "", "0"); }),
              "URL não disponível para o estado solicitado.");
    EXPECT_TRUE(statuses.empty());
    EXPECT_TRUE(w.service.Queries().empty());

    // A new client is in homologation.
    TNFeClient fresh;
    EXPECT_EQ(fresh.Configuracoes.WebServices.AmbienteCodigo(), 2);
    EXPECT_EQ(fresh.Configuracoes.WebServices.UFCodigo(), 35);
    EXPECT_EQ(ErrorOf([&] { fresh.Configuracoes.WebServices.SetUF("sp"); }), "UF inválida");
    EXPECT_EQ(fresh.Configuracoes.WebServices.UF(), "SP");
    fresh.Configuracoes.WebServices.SetUF("RS");
    EXPECT_EQ(fresh.Configuracoes.WebServices.UFCodigo(), 43);
}

// (The server's own certificate: HostileServerTest.)
TEST(DistributionClient, AClientCertificateOfAnotherAuthorityIsRefused) {
    test::DfeWorld w;
    // A certificate from another authority: the server refuses the handshake.
    const auto stranger = testpki::TestPki::IssueSelfSigned("ESTRANHO:12345678000195");
    w.store.ImportBytes(test::SharedPki().Pkcs12(stranger, "x", false), "x", "estranho.pfx");
    auto client = w.NewClient(
        test::DfeWorld::Company{"12345678000195", SerialNumberOf(stranger.cert.get()), "x", ""});
    const std::string message =
        ErrorOf([&] { client->RequestDistribution(35, "12345678000195", "", "0"); });
    EXPECT_EQ(message.rfind(std::string(kPrefix) + "Erro: Requisição não enviada.\r\n", 0), 0u)
        << message;
    // The server's thread counts the refusal after it has sent its alert: wait for it.
    const auto limite = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (w.service.Server().FailedHandshakes() < 1 && std::chrono::steady_clock::now() < limite) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_GE(w.service.Server().FailedHandshakes(), 1);
    EXPECT_TRUE(w.service.Queries().empty());
}

// The anchors are loaded once and shared by every connection of the program; a change in the
// folder is seen by the next new connection, in either direction.
TEST(DistributionClient, TheFolderOfAnchorsIsReadAgainWhenItChanges) {
    test::DfeWorld w;
    const std::string raiz = w.dir.Read("ac-confiaveis/raiz.pem");
    const auto consulta = [&] {
        auto client = w.NewClient(w.a);  // a new client: a new connection
        return ErrorOf([&] { client->RequestDistribution(35, w.a.cnpj, "", "0"); });
    };
    EXPECT_EQ(consulta(), "(no error)");
    std::filesystem::remove(w.dir.File("ac-confiaveis/raiz.pem"));
    EXPECT_NE(consulta().find("A cadeia do certificado do servidor não é confiável"),
              std::string::npos);
    w.dir.Write("ac-confiaveis/outra-raiz.crt", raiz);
    EXPECT_EQ(consulta(), "(no error)");
}

TEST(DistributionClient, ThroughAProxy) {
    EXPECT_EQ(SoapProxyText("proxy", ""), "proxy");
    EXPECT_EQ(SoapProxyText("proxy", "0"), "proxy");
    EXPECT_EQ(SoapProxyText("proxy", "3128"), "proxy:3128");

    test::DfeWorld w;
    test::TinyProxy proxy("quelvo", "s3gredo");
    auto client = w.NewClient(w.a);
    auto& ws = client->Configuracoes.WebServices;
    ws.ProxyHost = "127.0.0.1";
    ws.ProxyPort = std::to_string(proxy.Port());
    ws.ProxyUser = "quelvo";
    ws.ProxyPass = "s3gredo";
    ASSERT_TRUE(client->RequestDistribution(35, w.a.cnpj, "", "0"));
    EXPECT_NE(proxy.Log().find("CONNECT"), std::string::npos) << proxy.Log();
    EXPECT_EQ(w.service.Queries().at(0).certificateSerial, w.a.serial);

    ws.ProxyUser = "   ";  // blanks only: no credentials are handed over
    ws.ProxyPass = "   ";
    auto other = w.NewClient(w.b);
    other->Configuracoes.WebServices = ws;
    const std::string denied = ErrorOf([&] { other->RequestDistribution(35, w.b.cnpj, "", "0"); });
    EXPECT_EQ(denied.rfind(std::string(kPrefix) + "Erro: Requisição não enviada.\r\n", 0), 0u)
        << denied;
}

}  // namespace
}  // namespace quelvo
