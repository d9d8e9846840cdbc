#include <gtest/gtest.h>

#include "dfe/TGerador.h"
#include "dfe/TLeitor.h"

namespace quelvo {
namespace {

TEST(Gerador, FieldsAndAlerts) {
    TGerador g;
    g.OpenOrCloseGroup("grupo a=\"1\"");
    g.WriteField(TTipoCampo::tcInt, "X01", "n", 2, 2, 1, 5LL, "numero");
    g.WriteField(TTipoCampo::tcStr, "X02", " s ", 1, 5, 1, std::string("  ab "), "texto");
    g.WriteField(TTipoCampo::tcStr, "X03", "vazio", 1, 5, 1, std::string("   "), "vazio");
    g.WriteField(TTipoCampo::tcStr, "X04", "opcional", 1, 5, 0, std::string(""), "opcional");
    g.WriteField(TTipoCampo::tcStr, "X05", "longo", 1, 3, 1, std::string("abcdef"), "longo");
    g.WriteField(TTipoCampo::tcDe2, "X06", "v", 1, 15, 1, 1234.5, "valor");
    g.WriteField(TTipoCampo::tcDat, "X07", "d", 10, 10, 1, TDateTime::FromDate(2026, 3, 7), "data");
    g.WriteField(TTipoCampo::tcDatHor, "X08", "dh", 19, 19, 1, TDateTime{2026, 3, 7, 9, 5, 4, 0},
                 "dh");
    g.WriteField(TTipoCampo::tcStr, "X09", "e", 1, 20, 1, std::string("P&D <Ltda>"), "e");
    g.OpenOrCloseGroup("/grupo");
    EXPECT_EQ(g.ArquivoFormatoXML,
              "<grupo a=\"1\"><n>05</n><s>ab</s><vazio/><longo>abcdef</longo><v>1234.50</v>"
              "<d>2026-03-07</d><dh>2026-03-07T09:05:04</dh><e>P&amp;D &lt;Ltda&gt;</e></grupo>");
    ASSERT_EQ(g.ListaDeAlertas.size(), 2u);
    EXPECT_EQ(g.ListaDeAlertas[0],
              "TAG:<grupo a=\"1\"> ID:X03/vazio(vazio) - Nenhum valor informado.");
    EXPECT_EQ(g.ListaDeAlertas[1],
              "TAG:<grupo a=\"1\"> ID:X05/longo(longo) - Tamanho maior que o máximo permitido "
              "[abcdef].");
}

TEST(Gerador, CnpjCpf) {
    struct Case {
        const char* value;
        const char* xml;
        std::vector<std::string> alerts;
    };
    const Case cases[] = {
        {"11.222.333/0001-81", "<CNPJ>11222333000181</CNPJ>", {}},
        {"529.982.247-25", "<CPF>52998224725</CPF>", {}},
        {"11222333000182",
         "<CNPJ>11222333000182</CNPJ>",
         {"TAG: ID:A05/CNPJ(CNPJ) - Conteúdo inválido."}},
        {"1122233300018", "", {"TAG: ID:A05-A06/CNPJ-CPF(CNPJ/CPF) - Nenhum valor informado."}},
    };
    for (const auto& c : cases) {
        TGerador g;
        g.WriteCnpjCpf("A05", "A06", 1058, c.value);
        EXPECT_EQ(g.ArquivoFormatoXML, c.xml) << c.value;
        EXPECT_EQ(g.ListaDeAlertas, c.alerts) << c.value;
    }
    TGerador other;
    other.WriteCnpjCpf("A05", "A06", 2496, "123");
    EXPECT_EQ(other.ArquivoFormatoXML, "<CNPJ/>");
}

TEST(Leitor, ExtractGroupRules) {
    TLeitor l;
    l.Arquivo = "<r><docZip NSU=\"1\">A</docZip><docZip NSU=\"2\">B</docZip></r>";
    EXPECT_EQ(l.ExtractGroup(1, "r"), l.Arquivo);
    EXPECT_EQ(l.ExtractGroup(2, "docZip", "", 1), "<docZip NSU=\"1\">A</docZip>");
    EXPECT_EQ(l.ExtractGroup(2, "docZip", "", 2), "<docZip NSU=\"2\">B</docZip>");
    EXPECT_EQ(l.Grupo, "<docZip NSU=\"2\">B</docZip>");
    EXPECT_EQ(l.ExtractGroup(2, "docZip", "", 3), "");
    EXPECT_EQ(l.Grupo, "");
    EXPECT_EQ(l.ExtractGroup(1, "nada"), "");
    // Case-sensitive; a nested element of the same name ends the group early.
    EXPECT_EQ(l.ExtractGroup(1, "R"), "");
    l.Arquivo = "<a><a>1</a>2</a>";
    EXPECT_EQ(l.ExtractGroup(1, "a"), "<a><a>1</a>");
}

TEST(Leitor, OccurrencesOneByOneAndInSteps) {
    // The groups of occurrence 1, 2, ... (until the first empty one); ExtractNextGroup gives the
    // same in steps.
    const struct {
        const char* what;
        std::string text;
        std::vector<std::string> groups;
    } cases[] = {
        {"two groups",
         "<r><docZip NSU=\"1\">A</docZip><docZip NSU=\"2\">B</docZip></r>",
         {"<docZip NSU=\"1\">A</docZip>", "<docZip NSU=\"2\">B</docZip>"}},
        {"text between the groups",
         "<r>x<docZip>A</docZip>y<docZip NSU=\"2\">B</docZip>z<docZip>C</docZip></r>",
         {"<docZip>A</docZip>", "<docZip NSU=\"2\">B</docZip>", "<docZip>C</docZip>"}},
        {"the last one never closed: it runs to the end of its level",
         "<r><docZip>A</docZip><docZip>B</r>",
         {"<docZip>A</docZip>", "<docZip>B</r>"}},
        {"a prefixed closing tag counts only where no plain one follows",
         "<r><docZip>A</docZip:x><docZip>B</docZip></r>",
         {"<docZip>A</docZip:x><docZip>B</docZip>"}},
        {"a stray closing tag hides what follows it",
         "<r><docZip>A</docZip><outro/></docZip><docZip>C</docZip></r>",
         {"<docZip>A</docZip>"}},
        {"none", "<r></r>", {}},
    };
    for (const auto& c : cases) {
        TLeitor byOccurrence;
        byOccurrence.Arquivo = c.text;
        byOccurrence.ExtractGroup(1, "r");
        std::vector<std::string> got;
        for (int n = 1;; ++n) {
            std::string g = byOccurrence.ExtractGroup(2, "docZip", "", n);
            if (g.empty()) {
                break;
            }
            got.push_back(std::move(g));
        }
        EXPECT_EQ(got, c.groups) << c.what;

        TLeitor bySteps;
        bySteps.Arquivo = c.text;
        bySteps.ExtractGroup(1, "r");
        got.clear();
        size_t position = 0;
        for (;;) {
            std::string g = bySteps.ExtractNextGroup(2, "docZip", position);
            if (g.empty()) {
                break;
            }
            EXPECT_EQ(bySteps.Grupo, g);
            got.push_back(std::move(g));
        }
        EXPECT_EQ(got, c.groups) << c.what;
    }
}

TEST(Leitor, ReadFieldAndAttributeRules) {
    TLeitor l;
    l.Grupo =
        "<docZip schema=\"resNFe_v1.01.xsd\" NSU=\"000000000000012\"><cStat>138</cStat>"
        "<neg>-5</neg><vazio></vazio><x xmlns=\"n\">com atributo</x><nome> Jo&amp;&#xe3;o </nome>"
        "<dh>2026-11-03T10:15:30.123-03:00</dh><d>2026-02-29</d><v>1234.56</v><bad>2026-02-30"
        "</bad><VNF>9</VNF></docZip>";
    EXPECT_EQ(l.ReadAttribute("NSU"), "000000000000012");
    EXPECT_EQ(l.ReadAttribute("schema"), "resNFe_v1.01.xsd");
    EXPECT_EQ(l.ReadAttribute("ausente"), "");
    EXPECT_EQ(l.ReadInteger("cStat"), 138);
    EXPECT_EQ(l.ReadInteger("neg"), 5);
    EXPECT_EQ(l.ReadInteger("vazio"), 0);
    EXPECT_EQ(l.ReadString("x"), "");  // a start tag with attributes is not found
    EXPECT_EQ(l.ReadString("nome"), "Jo&ão");
    EXPECT_EQ(l.ReadDateTime("dh"), (TDateTime{2026, 11, 3, 10, 15, 30, 0}));
    EXPECT_EQ(l.ReadDateTime("ausente"), TDateTime{});
    EXPECT_THROW(l.ReadDate("d"), ELeitorError);  // 2026 is not a leap year
    EXPECT_THROW(l.ReadDate("bad"), ELeitorError);
    EXPECT_DOUBLE_EQ(l.ReadDecimal("v"), 1234.56);
    EXPECT_DOUBLE_EQ(l.ReadDecimal("vnf"), 9);  // tag search ignores case
    EXPECT_EQ(l.ReadString("cStat", "neg"), "138");
    EXPECT_EQ(l.ReadString("v", "neg"), "");  // the stop tag comes first
    EXPECT_THROW(l.ReadField(14, "v"), ELeitorError);
    EXPECT_EQ(std::get<long long>(l.ReadField(1, "cStat")), 138);
}

}  // namespace
}  // namespace quelvo
