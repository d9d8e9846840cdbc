#include <gtest/gtest.h>

#include <filesystem>
#include <thread>

#include "certificates/TTokenSession.h"
#include "monitor/TCadastroEmpresa.h"
#include "monitor/TConsultas.h"
#include "support/Documentos.h"
#include "support/MonitorWorld.h"
#include "support/SoftHsm.h"

namespace quelvo {
namespace {

using standin::ResumoNFe;
using test::Chave;
using test::MonitorWorld;
using test::SoftHsm;
using Script = standin::TDfeStandIn::Script;

constexpr const char* kPrefix =
    "WebService Distribuição de DFe:\r\n- Inativo ou Inoperante tente novamente.\r\n- ";
constexpr const char* kToken = "eToken Empresa T";
constexpr const char* kPin = "4321";

std::string Resumo(int n) {
    return standin::ResNFeXml(test::Resumo(n));
}

// A world with a token holding company T's certificate, beside the folder's companies.
struct TokenWorld {
    TokenWorld() {
        hsm.AddToken(kToken, kPin);
        t = w.AddTokenCompany(hsm, kToken, kPin, "EMPRESA T LTDA", "60746948000112");
    }
    long Attempts() const { return TTokenSession::LoginAttempts(); }

    SoftHsm hsm;  // first: the token's configuration outlives everything that uses it
    MonitorWorld w;
    test::DfeWorld::Company t;
};

TEST(TokenCycle, ATokenCompanyAndAFileCompanyUploadSideBySide) {
    TokenWorld tw;
    auto& w = tw.w;
    w.Register(tw.t, "60.746.948/0001-12");
    w.Register(w.a, "11.222.333/0001-81");
    w.service.AddDocument(tw.t.cnpj, 2, Resumo(2));
    w.service.AddDocument(w.a.cnpj, 1, Resumo(1));
    const long before = tw.Attempts();
    w.Cycle();
    EXPECT_EQ(w.param.Empresas.Item(0)->Status(),
              (std::pair<int, std::string>{0, "1 novas notas foi inseridas"}));
    EXPECT_EQ(w.param.Empresas.Item(1)->Status(),
              (std::pair<int, std::string>{0, "1 novas notas foi inseridas"}));
    ASSERT_EQ(w.site.Uploads().size(), 2u);
    EXPECT_EQ(w.site.Uploads()[0].chNFe, Chave(2));
    EXPECT_EQ(w.site.Uploads()[1].chNFe, Chave(1));
    for (const auto& q : w.service.Queries()) {
        EXPECT_EQ(q.certificateSerial, q.cnpj == tw.t.cnpj ? tw.t.serial : w.a.serial);
    }
    EXPECT_EQ(w.QueriedNsus(tw.t.cnpj), (std::vector<long long>{0, 2, 1}));
    // One login for the company's whole turn.
    EXPECT_EQ(tw.Attempts() - before, 1);
    EXPECT_EQ(w.param.Empresas.Item(0)->Vencimento(), "31/12/2049");
}

TEST(TokenCycle, AWrongPinIsPresentedOnceAndSaysSo) {
    TokenWorld tw;
    auto& w = tw.w;
    auto wrong = tw.t;
    wrong.senha = "1111";
    w.Register(wrong, "60.746.948/0001-12");
    w.Register(w.a, "11.222.333/0001-81");
    w.service.AddDocument(w.a.cnpj, 1, Resumo(1));
    const long before = tw.Attempts();
    w.Cycle();
    const std::string refused =
        "O token \"eToken Empresa T\" recusou o PIN (a senha cadastrada para a empresa). Para que "
        "o token não se bloqueie, esse PIN não será apresentado de novo: confira o PIN e cadastre "
        "a empresa de novo com ele.";
    EXPECT_EQ(w.param.Empresas.Item(0)->Status(),
              (std::pair<int, std::string>{2, kPrefix + refused}));
    EXPECT_EQ(tw.Attempts() - before, 1);
    EXPECT_TRUE(w.QueriedNsus(tw.t.cnpj).empty());
    // The other company's turn goes on.
    EXPECT_EQ(w.param.Empresas.Item(1)->Situacao(), "1 novas notas foi inseridas");

    // The next cycle does not present the refused PIN to the token again, nor does a new start
    // of the program (which knows only the files).
    for (int run = 0; run < 2; ++run) {
        w.Cycle();
        EXPECT_EQ(tw.Attempts() - before, 1);
        EXPECT_EQ(w.param.Empresas.Item(0)->Situacao().rfind(
                      std::string(kPrefix) + "O token \"eToken Empresa T\" já recusou esse PIN", 0),
                  0u);
        EXPECT_TRUE(w.QueriedNsus(tw.t.cnpj).empty());
        w.schedule.reset();
    }
}

// A damaged file of refused PINs costs one copy and one log line, not one per login: the first
// reader keeps the copy and writes the file anew without the damaged line.
TEST(TokenCycle, ADamagedFileOfRefusedPinsIsSetAsideOnce) {
    TokenWorld tw;
    auto& w = tw.w;
    w.Register(tw.t, "60.746.948/0001-12");
    w.dir.Write("certificados/PinsRecusados.dat", "isto não é uma recusa\r\n");
    int linhas = 0;
    for (int cycle = 1; cycle <= 3; ++cycle) {
        w.service.AddDocument(tw.t.cnpj, cycle, Resumo(cycle));
        w.Cycle();
        EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "1 novas notas foi inseridas") << cycle;
        w.schedule.reset();  // the next cycle as a new start of the program would run it
    }
    for (const auto& linha : w.sync.logs) {
        linhas += linha.find("PinsRecusados.dat tinha 1 linha danificada") != std::string::npos;
    }
    EXPECT_EQ(linhas, 1);
    int copias = 0;
    for (const auto& e : std::filesystem::directory_iterator(w.dir.File("certificados"))) {
        copias += e.path().filename().string().rfind("PinsRecusados.dat.danificado-", 0) == 0;
    }
    EXPECT_EQ(copias, 1);
    EXPECT_EQ(w.dir.Read("certificados/PinsRecusados.dat"), "");
}

TEST(TokenCycle, AnAbsentTokenIsNotFoundForItsCompanyOnly) {
    TokenWorld tw;
    auto& w = tw.w;
    w.Register(tw.t, "60.746.948/0001-12");
    w.Register(w.a, "11.222.333/0001-81");
    w.service.AddDocument(tw.t.cnpj, 1, Resumo(1));
    tw.hsm.Unplug();
    w.Cycle();
    EXPECT_EQ(w.param.Empresas.Item(0)->Status(),
              (std::pair<int, std::string>{
                  2, "\r\nSerial Number \"" + tw.t.serial +
                         "\" do certificado digital não foi encontrado.\r\nVerifique se o "
                         "certificado está instalado ou conectado nesse computador."}));
    EXPECT_TRUE(w.QueriedNsus(tw.t.cnpj).empty());
    EXPECT_EQ(w.param.Empresas.Item(1)->Estado(), 0);
    EXPECT_TRUE(w.QueriedNsus(w.a.cnpj) == (std::vector<long long>{0}));

    // Plugged in again: the next cycle finds it.
    tw.hsm.Plug();
    w.Cycle();
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "1 novas notas foi inseridas");
}

TEST(TokenCycle, RegistrationTakesACertificateOnAToken) {
    TokenWorld tw;
    auto& w = tw.w;
    TCadastroEmpresa cadastro(w.param, TConsultasAmbiente::Of(w.AppDir()));
    const auto yes = [](const std::string&) { return true; };
    auto r = cadastro.Confirmar({"60.746.948/0001-12", "SP", tw.t.serial, "9999"}, yes);
    EXPECT_EQ(r.tipo, TCadastroResultado::Tipo::Recusado);
    EXPECT_EQ(r.mensagem,
              "O token \"eToken Empresa T\" recusou o PIN (a senha cadastrada para a empresa). "
              "Para que o token não se bloqueie, esse PIN não será apresentado de novo: confira o "
              "PIN e cadastre a empresa de novo com ele.\r\n\r\nVerifique no seu navegador "
              "\"Internet Explorer\" se você tem acesso a https://" +
                  w.service.HostPort() + "/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx");
    // The PIN typed in a registration is presented although the token has seen a wrong one.
    r = cadastro.Confirmar({"60.746.948/0001-12", "SP", tw.t.serial, kPin}, yes);
    EXPECT_EQ(r.tipo, TCadastroResultado::Tipo::Cadastrado) << r.mensagem;
    const auto empresa = w.param.Empresas.Item(0);
    EXPECT_EQ(empresa->CertificadoDigital(), tw.t.serial);
    EXPECT_EQ(empresa->Nome(), "EMPRESA T LTDA");
    EXPECT_EQ(empresa->CertSenha(), kPin);
    EXPECT_EQ(w.service.Queries().size(), 1u);
    EXPECT_EQ(w.service.Queries()[0].certificateSerial, tw.t.serial);
}

// A registration's test query while the worker's turn holds the token (logged in, its key in a
// TLS connection): the registration logs in and signs its own handshake on the same token, and the
// worker's turn goes on with the token after the registration has let it go.
TEST(TokenCycle, TheWorkerAndARegistrationUseTheTokenAtOnce) {
    TokenWorld tw;
    auto& w = tw.w;
    const auto t2 = w.AddTokenCompany(tw.hsm, kToken, kPin, "EMPRESA T2 LTDA", "11444777000161");
    w.Register(tw.t, tw.t.cnpj);
    for (int n = 1; n <= 4; ++n) {
        w.service.AddDocument(tw.t.cnpj, n, Resumo(n));
    }
    // The worker's first query waits at the service until the registration is done (its answer
    // still tells maxNSU).
    w.service.ScriptQuery(tw.t.cnpj, 0, Script{Script::Kind::Held, 0, "", {}});
    TCadastroEmpresa cadastro(w.param, TConsultasAmbiente::Of(w.AppDir()));
    ASSERT_TRUE(w.Schedule().Tick());  // the worker starts on its own thread
    for (int i = 0; i < 6000 && w.service.Queries().empty(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ASSERT_EQ(w.service.Queries().size(), 1u);
    const auto r = cadastro.Confirmar({"11.444.777/0001-61", "PR", t2.serial, kPin},
                                      [](const std::string&) { return true; });
    EXPECT_EQ(r.tipo, TCadastroResultado::Tipo::Cadastrado) << r.mensagem;
    EXPECT_EQ(w.service.Queries().size(), 2u);
    EXPECT_TRUE(w.param.Executando);
    w.service.Release();
    w.Schedule().WaitForWorkers();
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "4 novas notas foi inseridas");
    EXPECT_EQ(w.site.Uploads().size(), 4u);
    const auto queries = w.service.Queries();
    ASSERT_EQ(queries.size(), 6u);  // the worker's NSU 0, the registration's, NSU 4 to 1
    for (const auto& q : queries) {
        EXPECT_EQ(q.certificateSerial, q.cnpj == t2.cnpj ? t2.serial : tw.t.serial);
    }
    EXPECT_EQ(queries[1].cnpj, t2.cnpj);
}

}  // namespace
}  // namespace quelvo
