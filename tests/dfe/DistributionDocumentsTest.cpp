#include <gtest/gtest.h>

#include "TDfeStandIn.h"
#include "dfe/Compression.h"
#include "dfe/ServiceUrls.h"
#include "dfe/TDistDFeInt.h"
#include "dfe/TRetDistDFeInt.h"

namespace quelvo {
namespace {

using standin::DocZipContent;
using standin::ResumoNFe;

std::string Request(const std::string& cnpj, int uf, const std::string& ult, const std::string& nsu,
                    size_t* alerts = nullptr) {
    TDistDFeInt d;
    d.Versao = kVersaoDistDFe;
    d.tpAmb = TpcnTipoAmbiente::taProducao;
    d.cUFAutor = uf;
    d.CNPJCPF = cnpj;
    d.ultNSU = ult;
    d.NSU = nsu;
    d.GerarXml();
    if (alerts) {
        *alerts = d.Gerador.ListaDeAlertas.size();
    }
    return d.Gerador.ArquivoFormatoXML;
}

TEST(DistDFeInt, RequestBytes) {
    const std::string head =
        "<distDFeInt xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.01\"><tpAmb>1</tpAmb>";
    struct Case {
        const char* cnpj;
        int uf;
        const char* ult;
        const char* nsu;
        std::string xml;
        size_t alerts;
    };
    const Case cases[] = {
        {"11.222.333/0001-81", 35, "", "0",
         head + "<cUFAutor>35</cUFAutor><CNPJ>11222333000181</CNPJ><consNSU><NSU>000000000000000"
                "</NSU></consNSU></distDFeInt>",
         0},
        {"11222333000181", 5, "123", "",
         head + "<cUFAutor>05</cUFAutor><CNPJ>11222333000181</CNPJ><distNSU><ultNSU>"
                "000000000000123</ultNSU></distNSU></distDFeInt>",
         0},
        {"529.982.247-25", 43, "", "2147483648",
         head + "<cUFAutor>43</cUFAutor><CPF>52998224725</CPF><consNSU><NSU>000000000000000</NSU>"
                "</consNSU></distDFeInt>",
         0},
        {"1122233300018", 35, "", "abc",
         head + "<cUFAutor>35</cUFAutor><consNSU><NSU>000000000000000</NSU></consNSU></distDFeInt>",
         1},
        {"11222333000181", 35, "", "1234",
         head + "<cUFAutor>35</cUFAutor><CNPJ>11222333000181</CNPJ><consNSU><NSU>000000000001234"
                "</NSU></consNSU></distDFeInt>",
         0},
    };
    for (const auto& c : cases) {
        size_t alerts = 99;
        EXPECT_EQ(Request(c.cnpj, c.uf, c.ult, c.nsu, &alerts), c.xml) << c.cnpj << " " << c.nsu;
        EXPECT_EQ(alerts, c.alerts) << c.cnpj;
    }
}

TEST(ServiceConfiguration, UrlAndVersion) {
    TServidores s;
    s.DFeProducao = "prod:8443";
    s.DFeHomologacao = "hom";
    EXPECT_EQ(GetServiceUrl(s, 35, 1, 1, 17, TpcnModeloDF::moNFe, TpcnVersaoDF::ve200),
              "https://prod:8443/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx");
    EXPECT_EQ(GetServiceUrl(s, 43, 2, 9, 17, TpcnModeloDF::moNFe, TpcnVersaoDF::ve200),
              "https://hom/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx");
    for (int forma : {0, 3, 6, 7, 8, 10}) {
        try {
            GetServiceUrl(s, 35, 1, forma, 17, TpcnModeloDF::moNFe, TpcnVersaoDF::ve200);
            ADD_FAILURE() << forma;
        } catch (const std::exception& e) {
            EXPECT_STREQ(e.what(), "URL não disponível para o estado solicitado.");
        }
    }
    EXPECT_EQ(ServiceVersion(TpcnModeloDF::moNFe, TpcnVersaoDF::ve200, 17), "1.01");
    EXPECT_EQ(ServiceVersion(TpcnModeloDF::moNFe, TpcnVersaoDF::ve310, 17), "1.01");
    EXPECT_EQ(ServiceVersion(TpcnModeloDF::moNFe, TpcnVersaoDF::ve300, 17), "");
    EXPECT_EQ(ServiceVersion(TpcnModeloDF::moNFCe, TpcnVersaoDF::ve300, 17), "1.01");
    EXPECT_EQ(ServiceVersion(TpcnModeloDF::moNFCe, TpcnVersaoDF::ve200, 17), "");
    EXPECT_EQ(SchemaFromText("RESNFE_V1.00.XSD"), TpcnTipoSchema::tsresNFe);
    EXPECT_EQ(SchemaFromText("resEvento_v1.00.xsd"), TpcnTipoSchema::tsresEvento);
    EXPECT_EQ(SchemaFromText("procNFe_v3.10.xsd"), TpcnTipoSchema::tsprocNFe);
    EXPECT_EQ(SchemaFromText("procEventoNFe_v1.00.xsd"), TpcnTipoSchema::tsprocEventoNFe);
    EXPECT_EQ(SchemaFromText("procEventoMDFe_v1.00.xsd"), TpcnTipoSchema::tsprocEventoMDFe);
    EXPECT_EQ(SchemaFromText("resNFe_v1.01.xsd"), TpcnTipoSchema::tsresNFe);
}

std::string Ret(int cStat, const std::string& docZips,
                const std::string& dhResp = "2026-12-10T12:00:00-03:00") {
    return "<retDistDFeInt xmlns=\"http://www.portalfiscal.inf.br/nfe\" versao=\"1.01\"><tpAmb>1"
           "</tpAmb><verAplic>1.7.6</verAplic><cStat>" +
           std::to_string(cStat) + "</cStat><xMotivo>Documento localizado</xMotivo><dhResp>" +
           dhResp + "</dhResp><ultNSU>000000000000010</ultNSU><maxNSU>000000000000099</maxNSU>" +
           docZips + "</retDistDFeInt>";
}

std::string Zip(int nsu, const std::string& schema, const std::string& xml) {
    return "<docZip NSU=\"" + std::to_string(nsu) + "\" schema=\"" + schema + "\">" +
           DocZipContent(xml) + "</docZip>";
}

TEST(RetDistDFeInt, ReadsEveryDocumentKind) {
    ResumoNFe r;
    r.chNFe = "35261111222333000181550010000001231000001234";
    r.cnpjEmitente = "45997418000153";
    r.xNome = "Concei\xc3\xa7\xc3\xa3o & Filhos";
    r.ie = "";
    r.cSitNFe = "3";
    r.vNF = "1234.56";
    ResumoNFe full = r;
    full.chNFe = "35261111222333000181550010000009991000009999";
    TRetDistDFeInt ret;
    ret.Leitor.Arquivo = Ret(
        138, "<loteDistDFeInt>" + Zip(1, "resNFe_v1.01.xsd", standin::ResNFeXml(r)) +
                 Zip(2, "qualquer", standin::ResEventoXml(r.chNFe, "11222333000181")) +
                 Zip(3, "procNFe_v3.10.xsd", standin::NfeProcXml(full, "11222333000181", "101")) +
                 Zip(4, "procEventoNFe_v1.00.xsd",
                     standin::ProcEventoNFeXml(r.chNFe, "45997418000153")) +
                 "</loteDistDFeInt>");
    ASSERT_TRUE(ret.LerXml());
    EXPECT_EQ(ret.versao, "1.01");
    EXPECT_EQ(ret.cStat, 138);
    EXPECT_EQ(ret.xMotivo, "Documento localizado");
    EXPECT_EQ(ret.dhResp, (TDateTime{2026, 12, 10, 12, 0, 0, 0}));  // offset dropped
    EXPECT_EQ(ret.ultNSU, "000000000000010");
    EXPECT_EQ(ret.maxNSU, "000000000000099");
    ASSERT_EQ(ret.docZip.size(), 4u);

    const auto& a = ret.docZip[0];
    EXPECT_EQ(a.NSU, "1");
    EXPECT_EQ(a.XML.rfind("<resNFe ", 0), 0u);
    EXPECT_EQ(a.resNFe.chNFe, r.chNFe);
    EXPECT_EQ(a.resNFe.CNPJCPF, "45997418000153");
    EXPECT_EQ(a.resNFe.xNome, "Concei\xc3\xa7\xc3\xa3o & Filhos");  // UTF-8, undecoded
    EXPECT_EQ(a.resNFe.IE, "");
    EXPECT_EQ(a.resNFe.dhEmi, (TDateTime{2026, 11, 3, 10, 15, 30, 0}));
    EXPECT_EQ(a.resNFe.tpNF, TpcnTipoNFe::tnSaida);
    EXPECT_DOUBLE_EQ(a.resNFe.vNF, 1234.56);
    EXPECT_EQ(a.resNFe.cSitNFe, TSituacaoNFe::snCancelada);
    EXPECT_EQ(a.resNFe.nProt, "135260000000001");

    const auto& b = ret.docZip[1];
    EXPECT_EQ(b.schema, TpcnTipoSchema::tsresNFe);  // unknown schema text
    EXPECT_EQ(b.XML.rfind("<resEvento ", 0), 0u);
    EXPECT_EQ(b.resEvento.tpEvento, "210210");
    EXPECT_EQ(b.resEvento.cOrgao, 91);
    EXPECT_EQ(b.resNFe.chNFe, "");  // an event carries no invoice key for the upload

    const auto& c = ret.docZip[2];
    EXPECT_EQ(c.schema, TpcnTipoSchema::tsprocNFe);
    EXPECT_EQ(c.XML.rfind("<nfeProc ", 0), 0u);
    EXPECT_EQ(c.resNFe.chNFe, full.chNFe);
    EXPECT_EQ(c.resNFe.CNPJCPF, "45997418000153");
    EXPECT_EQ(c.resNFe.cSitNFe, TSituacaoNFe::snCancelada);
    EXPECT_DOUBLE_EQ(c.resNFe.vNF, 1234.56);

    const auto& d = ret.docZip[3];
    EXPECT_EQ(d.XML.rfind("<procEventoNFe ", 0), 0u);
    EXPECT_EQ(d.procEvento.tpEvento, "110111");
    EXPECT_EQ(d.procEvento.detEvento.descEvento, "Cancelamento");
    EXPECT_EQ(d.procEvento.retEvento.cStat, 135);
    EXPECT_EQ(d.resNFe.chNFe, "");
}

TEST(RetDistDFeInt, EmptyAnswersAndCorruptDocuments) {
    TRetDistDFeInt none;
    none.Leitor.Arquivo = "<soap:Fault>x</soap:Fault>";
    EXPECT_FALSE(none.LerXml());
    EXPECT_EQ(none.cStat, 0);

    TRetDistDFeInt nothing;
    nothing.Leitor.Arquivo = Ret(137, "");
    EXPECT_TRUE(nothing.LerXml());
    EXPECT_EQ(nothing.cStat, 137);
    EXPECT_EQ(nothing.maxNSU, "000000000000099");
    EXPECT_TRUE(nothing.docZip.empty());

    const std::string good = Zip(1, "resNFe_v1.01.xsd", standin::ResEventoXml("1", "2"));
    const std::string gz = GzipText("<resNFe versao=\"1.01\"><chNFe>1</chNFe></resNFe>");
    std::string crc = gz;
    crc[crc.size() - 6] ^= 1;
    std::string length = gz;
    length[length.size() - 1] ^= 1;
    for (const std::string& bad : {std::string("@@@@"), EncodeBase64("not gzip at all"),
                                   EncodeBase64(crc), EncodeBase64(length)}) {
        TRetDistDFeInt ret;
        ret.Leitor.Arquivo =
            Ret(138, good + "<docZip NSU=\"2\" schema=\"resNFe_v1.00.xsd\">" + bad + "</docZip>");
        EXPECT_THROW(ret.LerXml(), EDecompressionError) << bad;
        ASSERT_EQ(ret.docZip.size(), 2u);
        EXPECT_FALSE(ret.docZip[0].InfZip.empty());
        EXPECT_TRUE(ret.docZip[1].InfZip.empty());
    }
}

TEST(RetDistDFeInt, DocumentsOfOneAnswerHaveATotalLimit) {
    // Four documents of the largest size fill the answer's allowance; a fifth, small one is
    // one too many.
    const std::string big = "<docZip NSU=\"1\" schema=\"resNFe_v1.01.xsd\">" +
                            EncodeBase64(GzipText(std::string(kMaxInflatedBytes, ' '))) +
                            "</docZip>";
    TRetDistDFeInt ret;
    ret.Leitor.Arquivo =
        Ret(138, big + big + big + big + Zip(2, "resNFe_v1.01.xsd", "<resNFe versao=\"1.01\"/>"));
    try {
        ret.LerXml();
        ADD_FAILURE() << "should raise";
    } catch (const EDecompressionError& e) {
        EXPECT_STREQ(e.what(), "Os documentos da resposta passam do limite de 64 MB.");
    }
    ASSERT_EQ(ret.docZip.size(), 5u);
    EXPECT_EQ(ret.docZip[3].InfZip.size(), kMaxInflatedBytes);
}

}  // namespace
}  // namespace quelvo
