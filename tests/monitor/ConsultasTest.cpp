#include "monitor/TConsultas.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/ConsultaSequencial.h"
#include "common/PayloadCipher.h"
#include "common/ProfileFile.h"
#include "site/TTravonHttp.h"
#include "support/Documentos.h"
#include "support/MonitorWorld.h"

namespace quelvo {
namespace {

using standin::ResumoNFe;
using test::Chave;
using test::MonitorWorld;
using test::Resumo;
using Script = standin::TDfeStandIn::Script;

const std::string kRule(74, '=');

TEST(Consultas, WalksDownFromMaxNsuUploadsAndRecords) {
    MonitorWorld w;
    const std::string d = w.a.cnpj;
    w.Register(w.a, "11.222.333/0001-81");
    w.service.AddDocument(d, 5, standin::ResNFeXml(Resumo(5, "Concei\xc3\xa7\xc3\xa3o & Filhos")));
    w.service.AddDocument(d, 4, standin::ResNFeXml(Resumo(4)));
    w.service.AddDocument(d, 2, standin::ResNFeXml(Resumo(2)));  // below the first 137
    w.service.SetMaxNsu(d, 5);

    w.Cycle();
    // NSU 0 for maxNSU, then 5, 4 and 3, which has no document: the walk stops there.
    EXPECT_EQ(w.QueriedNsus(d), (std::vector<long long>{0, 5, 4, 3}));
    const auto uploads = w.site.Uploads();
    ASSERT_EQ(uploads.size(), 2u);
    EXPECT_EQ(uploads[0].payload,
              "<CNPJDestinatario>11222333000181</CNPJDestinatario><IDUsuario>4242</IDUsuario>"
              "<versao>0</versao><chNFe>" +
                  Chave(5) +
                  "</chNFe><CNPJ>60746948000112</CNPJ>"
                  "<xNome>Concei\xc3\xa7\xc3\xa3o & Filhos</xNome><IE>110042490114</IE>"
                  "<dhEmi>2026-11-03 10:15:30</dhEmi><tpNF>1</tpNF><vNF>1500</vNF>"
                  "<digVal>vPc0gU6Wz0aYcx2o9yYQd6xk3ZQ=</digVal><dhRecbto>2026-11-03 10:16:02"
                  "</dhRecbto><nProt>135260000000001</nProt><cSitNFe>0</cSitNFe><nsu>5</nsu>");
    EXPECT_EQ(uploads[1].chNFe, Chave(4));

    const auto empresa = w.param.Empresas.Item(0);
    EXPECT_EQ(empresa->Status(), (std::pair<int, std::string>{0, "2 novas notas foi inseridas"}));
    EXPECT_EQ(w.sync.logs,
              (std::vector<std::string>{
                  "Verificando NFes emitidas para o CNPJ: 11.222.333/0001-81",
                  "2 novas notas foi inseridas para o CNPJ: 11.222.333/0001-81", kRule}));
    EXPECT_EQ(w.sync.notes, (std::vector<std::pair<std::string, std::string>>{
                                {"Concei\xc3\xa7\xc3\xa3o & Filhos", d}, {"FORNECEDOR", d}}));
    EXPECT_EQ(w.sync.progress, (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(w.param.IDUsuario.Get(), "4242");
    EXPECT_FALSE(w.param.Executando);
    EXPECT_EQ(w.dir.Read("Consultados.dat"), Chave(5) + "\r\n" + Chave(4) + "\r\n");
    EXPECT_EQ(w.dir.Read("ConsultadosNums.dat"), d + "5\r\n" + d + "4\r\n");
    // The site's page of the user's invoices ("Ver as Notas") lists them.
    const std::string pagina =
        TTravonHttp().GetText("http://" + w.site.HostPort() +
                              "/usuario/comandos.aspx?t=loginmonitor&usuario=ana@empresa.com&"
                              "senha=segredo");
    EXPECT_NE(
        pagina.find("<td>Concei\xc3\xa7\xc3\xa3o &amp; Filhos</td><td>60746948000112</td><td>" +
                    Chave(5) + "</td><td>1500</td><td>2026-11-03 10:15:30</td>"),
        std::string::npos)
        << pagina;
    EXPECT_NE(pagina.find("2 resumos de notas recebidos."), std::string::npos) << pagina;

    // The second cycle queries no recorded NSU and uploads nothing.
    w.service.ClearQueries();
    w.sync.logs.clear();
    w.Cycle();
    EXPECT_EQ(w.QueriedNsus(d), (std::vector<long long>{0, 3}));
    EXPECT_EQ(w.site.Uploads().size(), 2u);
    EXPECT_EQ(w.param.StatusTexto.Get(), "Já tinha no temp.");
    EXPECT_EQ(empresa->Situacao().rfind("Nenhuma nova nota foi encontrada até ", 0), 0u);
    EXPECT_EQ(w.sync.logs.at(1),
              "O servidor nacional da fazenda não tem novas notas para o CNPJ: 11.222.333/0001-81");
}

TEST(Consultas, SiteAnswersDecideWhatIsRecorded) {
    MonitorWorld w;
    const std::string d = w.a.cnpj;
    w.Register(w.a, d);
    for (int n = 1; n <= 4; ++n) {
        w.service.AddDocument(d, n, standin::ResNFeXml(Resumo(n)));
    }
    w.site.ScriptUpload(Chave(4), standin::Response{200, "", {}, "OK"});
    w.site.ScriptUpload(Chave(3), standin::Response{200, "", {}, "JA"});
    // The site's answers are read as Windows-1252 text.
    w.site.ScriptUpload(Chave(2), standin::Response{200, "", {}, "Chave inv\xe1lida"});
    w.site.ScriptUpload(Chave(1), standin::Response{500, "", {}, "erro"});
    w.Cycle();
    EXPECT_EQ(w.param.Consultados.Entries(), (std::vector<std::string>{Chave(4), Chave(3)}));
    EXPECT_EQ(w.param.ConsultadosNums.Entries(), (std::vector<std::string>{d + "4", d + "3"}));
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "1 novas notas foi inseridas");
    EXPECT_EQ(w.sync.notes.size(), 1u);
    // The refusal is logged; the HTTP 500 is not, and leaves the status text as it was.
    EXPECT_EQ(w.sync.logs.at(1),
              "Erro ao inserir a chave " + Chave(2) + " Descrição: Chave inválida");
    EXPECT_EQ(w.sync.logs.size(), 4u);
    EXPECT_EQ(w.param.StatusTexto.Get(), Chave(2) + " ERRO");

    // What was refused is sent again next time; the rest is not queried again.
    w.service.ClearQueries();
    w.Cycle();
    EXPECT_EQ(w.QueriedNsus(d), (std::vector<long long>{0, 2, 1}));
    EXPECT_EQ(w.param.StatusTexto.Get(), Chave(1) + " OK");
}

TEST(Consultas, FullInvoicesAndEventsAreRecordedWithoutUpload) {
    MonitorWorld w;
    const std::string d = w.a.cnpj;
    w.Register(w.a, d);
    w.service.AddDocument(d, 3, standin::NfeProcXml(Resumo(3), d), "procNFe_v3.10.xsd");
    w.service.AddDocument(d, 2, standin::ResEventoXml(Chave(3), d), "resEvento_v1.00.xsd");
    w.service.AddDocument(d, 1, standin::ResEventoXml(Chave(9), d), "resEvento_v1.00.xsd");
    w.Cycle();
    EXPECT_TRUE(w.site.Uploads().empty());
    EXPECT_EQ(w.param.Consultados.Entries(), (std::vector<std::string>{Chave(3), ""}));
    EXPECT_EQ(w.param.ConsultadosNums.Entries(),
              (std::vector<std::string>{d + "3", d + "2", d + "1"}));
    EXPECT_EQ(w.dir.Read("Consultados.dat"), Chave(3) + "\r\n\r\n");
}

TEST(Consultas, CompanyFailuresAndSkips) {
    MonitorWorld w;
    const auto expired =
        w.AddCompany("VENCIDA LTDA", "60746948000112", "v", false, testpki::Validity::Expired());
    const auto c = w.AddCompany("EMPRESA C LTDA", "33000167000101", "c", false);
    w.Register(w.a, "11.222.333/0001-81", "XX");  // an unknown state
    w.Register(expired, expired.cnpj);
    w.param.Empresas.Inserir("99.999.999/9999-99", "SP", "SEM CERTIFICADO", "ABC123", "", "");
    w.Register(w.b, w.b.cnpj);
    w.Register(c, c.cnpj);
    w.service.ScriptQuery(w.b.cnpj, 0,
                          Script{Script::Kind::Status, 656, "Rejeicao: Consumo Indevido", {}});
    w.service.AddDocument(c.cnpj, 3, standin::ResNFeXml(Resumo(3)));
    w.service.ScriptQuery(c.cnpj, 3, Script{Script::Kind::HtmlPage, 0, "", {}});
    w.service.AddDocument(c.cnpj, 2, standin::ResNFeXml(Resumo(2)));
    w.Cycle();
    const auto& e = w.param.Empresas;
    EXPECT_EQ(e.Item(0)->Status(), (std::pair<int, std::string>{2, "UF inválida: \"XX\"."}));
    EXPECT_EQ(e.Item(1)->Status(), (std::pair<int, std::string>{2, "Certificado vencido"}));
    EXPECT_EQ(e.Item(2)->Estado(), 2);
    EXPECT_EQ(e.Item(2)->Situacao().find("\r\nSerial Number \"ABC123\""), 0u);
    EXPECT_EQ(e.Item(3)->Status(),
              (std::pair<int, std::string>{2, "656 - Rejeicao: Consumo Indevido"}));
    // A query failing inside the walk is passed over: NSU 3 fails, 2 and 1 are queried.
    EXPECT_EQ(w.QueriedNsus(c.cnpj), (std::vector<long long>{0, 3, 2, 1}));
    EXPECT_EQ(e.Item(4)->Situacao(), "1 novas notas foi inseridas");
    EXPECT_FALSE(w.param.ConsultadosNums.Contains(c.cnpj + "3"));
    EXPECT_TRUE(w.QueriedNsus(expired.cnpj).empty());
    EXPECT_EQ(e.Item(1)->Vencimento(), "30/06/2025");
}

TEST(Consultas, SwitchingOffStopsAfterTheCurrentStep) {
    MonitorWorld w;
    w.Register(w.a, w.a.cnpj);
    w.Register(w.b, w.b.cnpj);
    for (int n = 1; n <= 6; ++n) {
        w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(Resumo(n)));
    }
    w.sync.onProgress = [&](TConsultas&) {
        if (w.sync.progress.size() == 1) {
            w.param.Ativo = false;  // the user unchecks "Ativado" during the second step
        }
    };
    w.Cycle();
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj), (std::vector<long long>{0, 6, 5}));
    EXPECT_EQ(w.param.Empresas.Item(0)->Status(),
              (std::pair<int, std::string>{0, "2 novas notas foi inseridas"}));
    EXPECT_EQ(w.param.Empresas.Item(1)->Situacao(), "Esperando...");
    EXPECT_TRUE(w.QueriedNsus(w.b.cnpj).empty());
    EXPECT_EQ(w.dir.Read("ConsultadosNums.dat"), w.a.cnpj + "6\r\n" + w.a.cnpj + "5\r\n");

    // With the switch off from the start: no identity request, no query, lists still saved.
    w.service.ClearQueries();
    const size_t before = w.site.Requests().size();
    std::filesystem::remove(w.dir.File("Consultados.dat"));
    w.Cycle();
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(w.site.Requests().size(), before);
    EXPECT_TRUE(std::filesystem::exists(w.dir.File("Consultados.dat")));
}

TEST(Consultas, CompanyDeletedDuringACycle) {
    MonitorWorld w;
    w.Register(w.a, w.a.cnpj);
    w.Register(w.b, w.b.cnpj);
    bool deleted = false;
    w.sync.onList = [&] {
        if (!deleted && w.param.Empresas.Quantidade() == 2 &&
            w.param.Empresas.Item(0)->Situacao() == "Buscando...") {
            deleted = true;
            w.param.Empresas.Apagar(0);  // the record stays valid for the worker
        }
    };
    w.Cycle();
    EXPECT_TRUE(deleted);
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj), (std::vector<long long>{0}));
    // B moved to index 0, which the cycle had passed; index 1 is past the end: the cycle ends.
    EXPECT_TRUE(w.QueriedNsus(w.b.cnpj).empty());
    EXPECT_FALSE(w.param.Executando);
    EXPECT_TRUE(std::filesystem::exists(w.dir.File("ConsultadosNums.dat")));
}

TEST(Consultas, UserIdentity) {
    MonitorWorld w;
    w.Register(w.a, w.a.cnpj);
    // Letters and signs around the digits: the identity is the digits, leading zeros kept.
    w.site.SetIdentityText("ana@empresa.com", "id=007-42x");
    w.Cycle();
    EXPECT_EQ(w.param.IDUsuario.Get(), "00742");

    // A failing identity request keeps the identity in use.
    w.site.Script("/chaves.php?t=id", standin::Response{500, "", {}, ""});
    w.Cycle();
    EXPECT_EQ(w.param.IDUsuario.Get(), "00742");
    EXPECT_EQ(w.QueriedNsus(w.a.cnpj).size(), 2u);

    // An answer without digits leaves no identity: nothing is queried.
    w.site.ClearScripts();
    w.site.SetIdentityText("ana@empresa.com", "sem numero");
    w.service.ClearQueries();
    w.sync.logs.clear();
    w.Cycle();
    EXPECT_EQ(w.param.IDUsuario.Get(), "");
    EXPECT_EQ(w.sync.logs, std::vector<std::string>{"Não foi possível obter o ID do usuário."});
    EXPECT_TRUE(w.service.Queries().empty());
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "Esperando...");

    // The user name goes in Windows-1252.
    w.param.Usuario.Set("jos\xc3\xa9");
    w.site.AddUser("jos\xc3\xa9", "x", "77");
    w.Cycle();
    EXPECT_EQ(w.param.IDUsuario.Get(), "77");
    const auto last = w.site.Requests().back();
    EXPECT_EQ(last.query, "t=id");
}

// In sequential mode: the one-NSU walk keeps to 19 queries an hour.
TEST(Consultas, ThousandsOfNewKeys) {
    MonitorWorld w;
    TProfileFile config(w.dir.File("Config.dat"));
    GravarConsultaSequencial(config, true);
    w.Register(w.a, w.a.cnpj);
    for (int n = 1; n <= 1234; ++n) {
        w.service.AddDocument(w.a.cnpj, n, standin::ResNFeXml(Resumo(n)));
    }
    w.Cycle();
    EXPECT_EQ(w.param.Empresas.Item(0)->Situacao(), "1.234 novas notas foi inseridas");
    EXPECT_EQ(w.sync.logs.at(1), "1.234 novas notas foi inseridas para o CNPJ: " + w.a.cnpj);
    EXPECT_EQ(w.param.Consultados.Count(), 1234u);
}

TEST(Consultas, PayloadAndTempFolder) {
    TresNFe r;
    r.chNFe = Chave(1);
    r.CNPJCPF = "52998224725";
    r.xNome = "A&B <C>";
    r.vNF = 0.5;
    r.tpNF = TpcnTipoNFe::tnEntrada;
    r.cSitNFe = TSituacaoNFe::snCancelada;
    EXPECT_EQ(
        TConsultas::MontarPayload(r, "11222333000181", "9", -3),
        "<CNPJDestinatario>11222333000181</CNPJDestinatario><IDUsuario>9</IDUsuario>"
        "<versao>0</versao><chNFe>" +
            Chave(1) +
            "</chNFe><CNPJ>52998224725</CNPJ><xNome>A&B"
            " <C></xNome><IE></IE><dhEmi>1899-12-30 00:00:00</dhEmi><tpNF>0</tpNF><vNF>0.5</vNF>"
            "<digVal></digVal><dhRecbto>1899-12-30 00:00:00</dhRecbto><nProt></nProt><cSitNFe>2"
            "</cSitNFe><nsu>-3</nsu>");
    for (const auto& [v, text] : std::vector<std::pair<double, std::string>>{
             {1500.0, "1500"}, {1234.56, "1234.56"}, {0, "0"}, {99999999.99, "99999999.99"}}) {
        r.vNF = v;
        const std::string p = TConsultas::MontarPayload(r, "", "", 0);
        EXPECT_NE(p.find("<vNF>" + text + "</vNF>"), std::string::npos) << text;
    }

    test::TempDir dir;
    std::filesystem::create_directories(dir.File("temp/sub/deep"));
    dir.Write("temp/a.xml", "x");
    dir.Write("temp/.oculto", "x");
    dir.Write("temp/sub/deep/b.xml", "x");
    TConsultas::LimparPastaTemp(dir.File("temp"));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("temp/sub/deep")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("temp/a.xml")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("temp/.oculto")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("temp/sub/deep/b.xml")));
    TConsultas::LimparPastaTemp(dir.File("nao-existe"));  // nothing to do

    TLogMemo memo;
    for (int i = 0; i < 500; ++i) {
        memo.Append("linha " + std::to_string(i));
    }
    for (int i = 0; i < 11; ++i) {
        memo.Append("nova " + std::to_string(i));
    }
    const auto lines = memo.Lines();
    EXPECT_EQ(lines.size(), 501u);
    EXPECT_EQ(lines.front(), "linha 10");
    EXPECT_EQ(lines.back(), "nova 10");
    EXPECT_EQ(memo.Append("a\r\nb").size(), 2u);
}

}  // namespace
}  // namespace quelvo
