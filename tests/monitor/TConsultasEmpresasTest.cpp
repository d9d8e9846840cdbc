#include "monitor/TConsultasEmpresas.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <stdexcept>
#include <string>

#include "common/SafeFile.h"
#include "support/ErrorOf.h"
#include "support/RecordingMessageBoxes.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::ScopedMessageBoxes;
using test::TempDir;

struct Fields {
    std::string cnpj, uf, nome, cert, senha, venc;
};

Fields Of(const TConsultasEmpresa& e) {
    return {e.CNPJ(), e.UF(), e.Nome(), e.CertificadoDigital(), e.CertSenha(), e.Vencimento()};
}

bool operator==(const Fields& a, const Fields& b) {
    return a.cnpj == b.cnpj && a.uf == b.uf && a.nome == b.nome && a.cert == b.cert &&
           a.senha == b.senha && a.venc == b.venc;
}

TEST(Registry, InsertLocateAndDelete) {
    TConsultasEmpresas r;
    r.Inserir("12.345.678/0001-95", "SP", "Acme", "0A1B", "s", "01/01/2030");
    r.Inserir("ab.cde", "RJ", "Beta", "0C", "", "");
    r.Inserir("12.345.678/0001-95", "MG", "Dup", "", "", "");  // no duplicate check
    EXPECT_EQ(r.Quantidade(), 3);
    EXPECT_EQ(r.Localizar("12.345.678/0001-95"), 0);  // first match wins
    EXPECT_EQ(r.Localizar("AB.CDE"), 1);              // letter case ignored
    EXPECT_EQ(r.Localizar("12345678000195"), -1);     // no normalisation of punctuation
    EXPECT_EQ(r.Localizar(""), -1);
    const auto fresh = r.Item(1);
    EXPECT_EQ(fresh->Status(), (std::pair<int, std::string>{0, ""}));

    // A record removed while a worker holds it stays valid for that worker.
    const auto held = r.Item(0);
    r.Apagar(0);
    EXPECT_EQ(r.Quantidade(), 2);
    EXPECT_EQ(held->Nome(), "Acme");
    held->SetStatus(1, "Buscando...");
    EXPECT_EQ(held->Situacao(), "Buscando...");
    EXPECT_EQ(r.Localizar("12.345.678/0001-95"), 1);  // now the duplicate

    EXPECT_THROW(r.Apagar(2), std::out_of_range);
    EXPECT_THROW(r.Item(-1), std::out_of_range);
    EXPECT_EQ(r.ItemOrNull(5), nullptr);
}

TEST(Registry, SaveWritesTheFixedTree) {
    TempDir dir;
    TConsultasEmpresas r;
    r.Salvar(dir.File("Empresas2.dat"));
    EXPECT_EQ(dir.Read("Empresas2.dat"),
              "<?xml version=\"1.0\"?><empresascadastradas><empresas/></empresascadastradas>");

    r.Inserir("", "", "", "", "", "");
    r.Inserir("12.345.678/0001-95", "SP", "Concei\xc3\xa7\xc3\xa3o & Filhos <Ltda>", "0A1B", "p\"w",
              "01/02/2030");
    r.Item(1)->SetStatus(2, "Certificado vencido");
    r.Salvar(dir.File("Empresas2.dat"));
    EXPECT_EQ(dir.Read("Empresas2.dat"),
              "<?xml version=\"1.0\"?><empresascadastradas><empresas>"
              "<empresa><CNPJ/><UF/><Nome/><CertificadoDigital/><CertSenha/><Situacao/>"
              "<Vencimento/></empresa>"
              "<empresa><CNPJ>12.345.678/0001-95</CNPJ><UF>SP</UF>"
              "<Nome>Concei\xc3\xa7\xc3\xa3o &amp; Filhos &lt;Ltda&gt;</Nome>"
              "<CertificadoDigital>0A1B</CertificadoDigital><CertSenha>p\"w</CertSenha>"
              "<Situacao>Certificado vencido</Situacao><Vencimento>01/02/2030</Vencimento>"
              "</empresa></empresas></empresascadastradas>");

    // Round trip: Situacao is not read back.
    ScopedMessageBoxes boxes;
    TConsultasEmpresas back;
    back.Carregar(dir.File("Empresas2.dat"));
    ASSERT_EQ(back.Quantidade(), 2);
    EXPECT_TRUE(Of(*back.Item(0)) == (Fields{"", "", "", "", "", ""}));
    EXPECT_TRUE(Of(*back.Item(1)) ==
                (Fields{"12.345.678/0001-95", "SP", "Concei\xc3\xa7\xc3\xa3o & Filhos <Ltda>",
                        "0A1B", "p\"w", "01/02/2030"}));
    EXPECT_EQ(back.Item(1)->Status(), (std::pair<int, std::string>{0, ""}));
    EXPECT_TRUE(boxes->All().empty());
}

TEST(Registry, LoadAcceptsEveryWrittenForm) {
    const Fields full{"11.222.333/0001-81", "RS", "Gama", "7F", "x", "31/12/2027"};
    struct Case {
        const char* what;
        std::string xml;
        std::vector<Fields> expected;
    };
    const Case cases[] = {
        {"without declaration, long empty elements",
         "<empresascadastradas><empresas><empresa><CNPJ>11.222.333/0001-81</CNPJ><UF>RS</UF>"
         "<Nome>Gama</Nome><CertificadoDigital>7F</CertificadoDigital><CertSenha>x</CertSenha>"
         "<Situacao></Situacao><Vencimento>31/12/2027</Vencimento></empresa></empresas>"
         "</empresascadastradas>",
         {full}},
        {"declaration, whitespace between elements, children in another order",
         "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<empresascadastradas>\r\n  <empresas>\n"
         "    <empresa>\n      <Vencimento>31/12/2027</Vencimento>\n      <UF>RS</UF>\n"
         "      <CertSenha>x</CertSenha>\n      <Nome>Gama</Nome>\n"
         "      <CertificadoDigital>7F</CertificadoDigital>\n"
         "      <CNPJ>11.222.333/0001-81</CNPJ>\n    </empresa>\n  </empresas>\n"
         "</empresascadastradas>\n",
         {full}},
        {"missing children read as empty",
         "<empresascadastradas><empresas><empresa><CNPJ>1</CNPJ></empresa><empresa/>"
         "</empresas></empresascadastradas>",
         {Fields{"1", "", "", "", "", ""}, Fields{"", "", "", "", "", ""}}},
        {"the same CNPJ twice",
         "<r><empresas><empresa><CNPJ>1</CNPJ></empresa><empresa><CNPJ>1"
         "</CNPJ></empresa></empresas></r>",
         {Fields{"1", "", "", "", "", ""}, Fields{"1", "", "", "", "", ""}}},
        {"no empresas element", "<empresascadastradas/>", {}},
        {"empty registry", "<empresascadastradas><empresas/></empresascadastradas>", {}},
    };
    for (const auto& c : cases) {
        TempDir dir;
        ScopedMessageBoxes boxes;
        TConsultasEmpresas r;
        r.Carregar(dir.Write("Empresas2.dat", c.xml));
        ASSERT_EQ(r.Quantidade(), static_cast<int>(c.expected.size())) << c.what;
        for (size_t i = 0; i < c.expected.size(); ++i) {
            EXPECT_TRUE(Of(*r.Item(static_cast<int>(i))) == c.expected[i]) << c.what << " #" << i;
        }
        EXPECT_TRUE(boxes->All().empty()) << c.what;
    }
}

TEST(Registry, LoadFailuresAreShownAndKeepWhatWasThere) {
    TempDir dir;
    ScopedMessageBoxes boxes;
    TConsultasEmpresas r;
    r.Inserir("antes", "", "", "", "", "");
    r.Carregar(dir.File("nao-existe.dat"));  // nothing happens, nothing shown
    EXPECT_TRUE(boxes->All().empty());

    const std::string damaged = "<empresascadastradas><empresas><empresa><CNPJ>1";
    r.Carregar(dir.Write("Empresas2.dat", damaged));
    ASSERT_EQ(boxes->All().size(), 1u);
    const auto shown = boxes->All()[0];
    EXPECT_EQ(shown.kind, "error");
    EXPECT_EQ(shown.text.rfind("Erro ao carregar as empresas, vai ser necessário reinstalar o "
                               "aplicativo.\r\n",
                               0),
              0u)
        << shown.text;
    EXPECT_GT(shown.text.size(), 80u);  // the parser's own reason follows
    EXPECT_EQ(r.Quantidade(), 1);
    EXPECT_EQ(r.Localizar("antes"), 0);

    // The damaged file went aside, under a name that says so and when, and the message says
    // where; the next save cannot touch it.
    const std::regex aside("[\\s\\S]*\r\nO arquivo danificado foi guardado como (" +
                           dir.path().string() +
                           "/Empresas2\\.dat\\.danificado-20[0-9]{6}-[0-9]{6})\\.");
    std::smatch m;
    ASSERT_TRUE(std::regex_match(shown.text, m, aside)) << shown.text;
    EXPECT_EQ(ReadWholeFile(m[1].str()), damaged);
    EXPECT_FALSE(std::filesystem::exists(dir.File("Empresas2.dat")));
    r.Salvar(dir.File("Empresas2.dat"));
    EXPECT_EQ(ReadWholeFile(m[1].str()), damaged);

    // Damaged again in the same second: a second name, the first one untouched.
    TConsultasEmpresas again;
    again.Carregar(dir.Write("Empresas2.dat", "lixo"));
    EXPECT_EQ(ReadWholeFile(m[1].str()), damaged);
    size_t asideFiles = 0;
    for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
        asideFiles += e.path().filename().string().find(".danificado-") != std::string::npos;
    }
    EXPECT_EQ(asideFiles, 2u);
}

TEST(Registry, DamagedFileThatCannotGoAsideIsNeverSaved) {
    // A name so long that the set-aside name does not fit: the file stays where it is, and the
    // registry refuses to write over it.
    TempDir dir;
    ScopedMessageBoxes boxes;
    const std::string path = dir.Write(std::string(240, 'e') + ".dat", "<empresascadastradas>");
    TConsultasEmpresas r;
    r.Carregar(path);
    ASSERT_EQ(boxes->All().size(), 1u);
    EXPECT_NE(
        boxes->All()[0].text.find("Não foi possível guardar à parte o arquivo danificado " + path),
        std::string::npos)
        << boxes->All()[0].text;
    r.Inserir("1", "SP", "", "", "", "");
    EXPECT_EQ(test::ErrorOf([&] { r.Salvar(path); }),
              "Não foi possível gravar o arquivo " + path +
                  ": o arquivo existente está danificado e não foi guardado à parte.");
    EXPECT_EQ(ReadWholeFile(path), "<empresascadastradas>");
    r.Salvar(dir.File("Empresas2.dat"));  // any other file is written as ever
}

}  // namespace
}  // namespace quelvo
