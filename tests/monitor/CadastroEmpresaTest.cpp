#include "monitor/TCadastroEmpresa.h"

#include <gtest/gtest.h>

#include "support/FakeDfeService.h"
#include "support/MonitorWorld.h"

namespace quelvo {
namespace {

using Tipo = TCadastroResultado::Tipo;
using Foco = TCadastroResultado::Foco;
using test::MonitorWorld;
using Script = standin::TDfeStandIn::Script;

const auto kYes = [](const std::string&) { return true; };

TEST(CadastroEmpresa, ChecksInTheirOrder) {
    MonitorWorld w;
    w.param.Empresas.Inserir("11.222.333/0001-81", "SP", "", "", "", "");
    w.param.Empresas.Inserir("60746948000112", "SP", "", "", "", "");  // as an old version kept it
    TCadastroEmpresa cadastro(w.param, TConsultasAmbiente::Of(w.AppDir()));
    struct Case {
        TCadastroEntrada in;
        std::string message;
        Foco foco;
    };
    const std::string sem = TCadastroEmpresa::kSemCertificado;
    const Case cases[] = {
        {{"11.222.333/0001-8_", "SP", w.a.serial, "x"}, "É necessário digitar o CNPJ.", Foco::CNPJ},
        {{"45.997.418/0001-53", " ", sem, "x"}, "É necessário escolher a UF.", Foco::UF},
        {{"45.997.418/0001-53", "XX", w.b.serial, "x"}, "É necessário escolher a UF.", Foco::UF},
        {{"45.997.418/0001-53", "SP", sem, "x"},
         "É necessário escolher o certificado digital.",
         Foco::Certificado},
        // Already registered, in any spelling: refused before the certificate is looked at.
        {{"11.222.333/0001-81", "SP", "NAOEXISTE", "x"}, "CNPJ já cadastrado", Foco::Nenhum},
        {{"11222333000181", "SP", "NAOEXISTE", "x"}, "CNPJ já cadastrado", Foco::Nenhum},
        {{"60.746.948/0001-12", "SP", "NAOEXISTE", "x"}, "CNPJ já cadastrado", Foco::Nenhum},
    };
    for (const auto& c : cases) {
        const auto r = cadastro.Confirmar(c.in, kYes);
        EXPECT_EQ(r.tipo, Tipo::Recusado) << c.message;
        EXPECT_EQ(r.mensagem, c.message);
        EXPECT_EQ(r.foco, c.foco) << c.message;
        EXPECT_FALSE(r.limparCampos);
    }
    const auto missing = cadastro.Confirmar({"45.997.418/0001-53", "SP", "ABC", "x"}, kYes);
    EXPECT_EQ(missing.tipo, Tipo::Erro);
    EXPECT_EQ(missing.mensagem.rfind("\r\nSerial Number \"ABC\"", 0), 0u);
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(w.param.Empresas.Quantidade(), 2);
}

TEST(CadastroEmpresa, ExpiryTestQueryConfirmation) {
    MonitorWorld w;
    // The company's certificate is valid through 31/12/2049.
    TDateTime clock = TDateTime::FromDate(2050, 1, 1);
    TCadastroEmpresa cadastro(w.param, TConsultasAmbiente::Of(w.AppDir()), [&] { return clock; });
    const TCadastroEntrada b{"45.997.418/0001-53", "RS", w.b.serial, w.b.senha};
    auto r = cadastro.Confirmar(b, kYes);
    EXPECT_EQ(r.mensagem,
              "Esse certificado digital foi válido até 31/12/2049.\r\n"
              "Data atual nesse computador 01/01/2050");
    clock = TDateTime{2049, 12, 31, 23, 59, 59};  // the last day still passes

    // The service refuses: its reason, without the prefix.
    w.service.ScriptQuery(w.b.cnpj, 0,
                          Script{Script::Kind::Status, 215, "Rejeicao: Falha no Schema XML", {}});
    r = cadastro.Confirmar(b, kYes);
    EXPECT_EQ(r.tipo, Tipo::Recusado);
    EXPECT_EQ(r.mensagem, "Rejeicao: Falha no Schema XML");
    // A wrong password: the text without the prefix, then the browser hint with the address.
    r = cadastro.Confirmar({b.CNPJ, b.UF, b.Certificado, "errada"}, kYes);
    EXPECT_EQ(r.mensagem, "A senha informada não abre o certificado digital \"" + w.b.serial +
                              "\".\r\n\r\nVerifique no seu navegador \"Internet Explorer\" se você "
                              "tem acesso a https://" +
                              w.service.HostPort() + "/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx");
    // A SOAP fault: its reason.
    w.service.ScriptQuery(w.b.cnpj, 0, Script{Script::Kind::SoapFault, 0, "", {}});
    r = cadastro.Confirmar(b, kYes);
    EXPECT_EQ(r.tipo, Tipo::Recusado);
    EXPECT_EQ(r.mensagem, "Erro interno");
    // An answer without retDistDFeInt and without a reason stops the registration too.
    {
        test::FakeDfeService other;
        other.response.body = "<soap:Envelope><soap:Body/></soap:Envelope>";
        w.UseSite(w.site.HostPort(), other.HostPort());
        TCadastroEmpresa elsewhere(w.param, TConsultasAmbiente::Of(w.AppDir()),
                                   [&] { return clock; });
        r = elsewhere.Confirmar(b, kYes);
        EXPECT_EQ(r.tipo, Tipo::Recusado);
        EXPECT_EQ(r.mensagem.rfind("Não foi possível ler a resposta do serviço", 0), 0u);
        w.UseSite(w.site.HostPort());
    }
    EXPECT_EQ(w.param.Empresas.Quantidade(), 0);

    // Declined: nothing inserted, the fields are cleared.
    std::vector<std::string> asked;
    r = cadastro.Confirmar(b, [&](const std::string& q) {
        asked.push_back(q);
        return false;
    });
    EXPECT_EQ(r.tipo, Tipo::Desistiu);
    EXPECT_TRUE(r.limparCampos);
    EXPECT_EQ(asked, std::vector<std::string>{"Deseja realmente inserir essa empresa ?"});
    EXPECT_EQ(w.param.Empresas.Quantidade(), 0);

    r = cadastro.Confirmar(b, kYes);
    EXPECT_EQ(r.tipo, Tipo::Cadastrado);
    ASSERT_EQ(w.param.Empresas.Quantidade(), 1);
    const auto e = w.param.Empresas.Item(0);
    EXPECT_EQ(e->CNPJ(), "45.997.418/0001-53");
    EXPECT_EQ(e->UF(), "RS");
    EXPECT_EQ(e->Nome(), "EMPRESA B S A");  // the certificate holder's name
    EXPECT_EQ(e->CertificadoDigital(), w.b.serial);
    EXPECT_EQ(e->CertSenha(), w.b.senha);
    EXPECT_EQ(e->Vencimento(), "31/12/2049");
    // The test queries used the company's certificate and state.
    const auto q = w.service.Queries().back();
    EXPECT_EQ(q.certificateSerial, w.b.serial);
    EXPECT_EQ(q.cUFAutor, "43");
    EXPECT_EQ(q.nsu, "000000000000000");
}

// The test query is a query like any other: never during the service's block of the CNPJ (deleting
// a blocked company and registering it again must not restart the hour), never past the CNPJ's own
// budget, and a 656 to it blocks the CNPJ as in a cycle.
TEST(CadastroEmpresa, TheTestQueryKeepsTheUsageRules) {
    using namespace std::chrono_literals;
    MonitorWorld w;
    w.UseUsageRules();
    const TConsultasAmbiente ambiente = w.Ambiente();
    TCadastroEmpresa cadastro(w.param, ambiente);
    const TCadastroEntrada b{"45.997.418/0001-53", "SP", w.b.serial, w.b.senha};
    const auto inicio = w.clock.Now();  // 10:00
    const std::string bloqueio = "Consumo indevido: nova consulta após 11:00";

    w.service.ScriptQuery(w.b.cnpj, 0,
                          Script{Script::Kind::Status, 656, "Rejeicao: Consumo Indevido", {}});
    auto r = cadastro.Confirmar(b, kYes);
    EXPECT_EQ(r.tipo, Tipo::Recusado);
    EXPECT_EQ(r.mensagem, "Rejeicao: Consumo Indevido\r\n\r\n" + bloqueio);
    EXPECT_EQ(w.service.Queries().size(), 1u);
    const auto rest = TDescansos(w.AppDir()).Ativo(w.b.cnpj, inicio, 1h);
    ASSERT_TRUE(rest);
    EXPECT_EQ(rest->fim, inicio + 1h);
    EXPECT_EQ(rest->cStat, 656);

    // Tried again within the hour (and by another run of the program): no query, until when.
    w.clock.Advance(30min);
    for (int i = 0; i < 2; ++i) {
        TCadastroEmpresa again(w.param, w.Ambiente());
        r = again.Confirmar(b, kYes);
        EXPECT_EQ(r.tipo, Tipo::Recusado);
        EXPECT_EQ(r.mensagem, bloqueio);
    }
    EXPECT_EQ(w.service.Queries().size(), 1u);

    // After the hour it is queried and registered; that query counted in the budget.
    w.clock.Advance(31min);
    r = cadastro.Confirmar(b, kYes);
    EXPECT_EQ(r.tipo, Tipo::Cadastrado);
    EXPECT_EQ(w.service.Queries().size(), 2u);

    // A CNPJ whose budget is used up is not queried either.
    for (int i = 0; i < TDescansos::kConsultasPorHora; ++i) {
        ambiente.descansos->RegistrarConsulta(w.a.cnpj, w.clock.Now(), 1h);
    }
    r = cadastro.Confirmar({"11.222.333/0001-81", "SP", w.a.serial, w.a.senha}, kYes);
    EXPECT_EQ(r.tipo, Tipo::Recusado);
    EXPECT_EQ(r.mensagem, "Limite de consultas por hora atingido: nova consulta após 12:01");
    EXPECT_EQ(w.service.Queries().size(), 2u);
    EXPECT_EQ(w.param.Empresas.Quantidade(), 1);
}

}  // namespace
}  // namespace quelvo
