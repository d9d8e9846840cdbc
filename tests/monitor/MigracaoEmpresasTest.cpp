#include "monitor/MigracaoEmpresas.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <stdexcept>

#include "monitor/LegacyDatasetWriter.h"
#include "monitor/TLegacyDataset.h"
#include "support/RecordingMessageBoxes.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::LegacyDatasetWriter;
using test::TempDir;
using Row = LegacyDatasetWriter::Row;

std::string Dir(const TempDir& d) {
    return d.path().string() + "/";
}

// A file such as the earlier version left after a user inserted three companies, changed the
// second and deleted the third. The changed record holds only the field that changed; the others
// are marked unchanged against the original before it.
std::string EditedFile() {
    return LegacyDatasetWriter::Binary(
        LegacyDatasetWriter::CompanyFields(),
        {
            Row{0x04, {"11.111.111/0001-11", "SP", "0AAA", "Padaria Jo\xe3o", "s1"}},
            Row{0x01, {"22.222.222/0001-22", "RJ", "0BBB", "Antigo Nome", "s2"}},
            Row{0x08, {"", "", "", "Nome Novo", ""}, {0, 1, 2, 4}},
            Row{0x02, {"33.333.333/0001-33", "MG", "0CCC", "Apagada", "s3"}},
            Row{0x20, {"44.444.444/0001-44", "BA", "0DDD", "Sem uso", "s4"}},
            Row{0x00, {"55.555.555/0001-55", std::nullopt, "0EEE", "Sem UF", std::nullopt}},
        });
}

TEST(LegacyDataset, BinaryKeepsOnlyTheRowsAUserSaw) {
    const auto ds = TLegacyDataset::Parse(EditedFile());
    EXPECT_EQ(ds.Fields(),
              (std::vector<std::string>{"CNPJ", "UF", "Certificado", "Empresa", "Senha"}));
    ASSERT_EQ(ds.Rows().size(), 3u);
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[0], "Empresa"), "Padaria Jo\xc3\xa3o");
    // The changed row: its new name, and every field it did not change from its original.
    EXPECT_EQ(ds.Rows()[1], (TLegacyDataset::Row{{"CNPJ", "22.222.222/0001-22"},
                                                 {"UF", "RJ"},
                                                 {"Certificado", "0BBB"},
                                                 {"Empresa", "Nome Novo"},
                                                 {"Senha", "s2"}}));
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[2], "CNPJ"), "55.555.555/0001-55");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[2], "UF"), "");     // null
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[2], "senha"), "");  // null, any case
}

TEST(LegacyDataset, UnchangedFieldsComeFromTheirOwnOriginal) {
    // Two companies edited one after the other, one of them twice: each changed record takes
    // what it did not change from the original right before it; a changed field set to empty
    // stays empty, and a null field stays null.
    const auto ds = TLegacyDataset::Parse(LegacyDatasetWriter::Binary(
        LegacyDatasetWriter::CompanyFields(),
        {
            Row{0x01, {"11.111.111/0001-11", "SP", "0AAA", "Primeira", "s1"}},
            Row{0x08, {"", "", "0ABC", "", ""}, {0, 1, 3, 4}},
            Row{0x01, {"22.222.222/0001-22", "RJ", "0BBB", "Segunda", std::nullopt}},
            Row{0x08, {"", "MG", "", "", ""}, {0, 2, 3, 4}},
            Row{0x01, {"22.222.222/0001-22", "MG", "0BBB", "Segunda", std::nullopt}},
            Row{0x08, {"", "", "", "", "nova"}, {0, 1, 2}},
        }));
    ASSERT_EQ(ds.Rows().size(), 3u);
    EXPECT_EQ(ds.Rows()[0], (TLegacyDataset::Row{{"CNPJ", "11.111.111/0001-11"},
                                                 {"UF", "SP"},
                                                 {"Certificado", "0ABC"},
                                                 {"Empresa", "Primeira"},
                                                 {"Senha", "s1"}}));
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[1], "CNPJ"), "22.222.222/0001-22");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[1], "UF"), "MG");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[1], "Senha"), "");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[2], "Empresa"), "");  // changed to empty
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[2], "Certificado"), "0BBB");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[2], "Senha"), "nova");
}

TEST(LegacyDataset, BinaryWithFixedFieldsAndPrefixWidths) {
    const std::vector<LegacyDatasetWriter::Field> fields = {
        {"CNPJ", 18, 9, 0},       // fixed width, padded with zeros
        {"UF", 2, 0x49, 2},       // two-byte length prefix
        {"Codigo", 4, 1, 0},      // an integer field, not a text
        {"Empresa", 4, 0x49, 0},  // four-byte length prefix
    };
    const auto ds = TLegacyDataset::Parse(LegacyDatasetWriter::Binary(
        fields, {Row{0, {"12.345.678/0001-9", "PR", std::string("\x07\0\0\0", 4), "Delta"}}}));
    ASSERT_EQ(ds.Rows().size(), 1u);
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[0], "CNPJ"), "12.345.678/0001-9");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[0], "UF"), "PR");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[0], "Empresa"), "Delta");
}

TEST(LegacyDataset, XmlPacket) {
    const std::string xml =
        "<?xml version=\"1.0\" standalone=\"yes\"?>\r\n<DATAPACKET Version=\"2.0\"><METADATA>"
        "<FIELDS><FIELD attrname=\"CNPJ\" fieldtype=\"string\" WIDTH=\"18\"/>"
        "<FIELD attrname=\"UF\" fieldtype=\"string\" WIDTH=\"2\"/>"
        "<FIELD attrname=\"Certificado\" fieldtype=\"string\" WIDTH=\"120\"/>"
        "<FIELD attrname=\"Empresa\" fieldtype=\"string\" WIDTH=\"120\"/>"
        "<FIELD attrname=\"Senha\" fieldtype=\"string\" WIDTH=\"20\"/></FIELDS><PARAMS/>"
        "</METADATA><ROWDATA>"
        "<ROW CNPJ=\"1\" UF=\"SP\" Certificado=\"0A\" Empresa=\"A&amp;B Com&#233;rcio\" "
        "Senha=\"x\"/>"
        "<ROW RowState=\"1\" CNPJ=\"2\" Empresa=\"old\"/>"
        "<ROW RowState=\"8\" CNPJ=\"2\" Empresa=\"Caf\xe9\"/>"
        "<ROW RowState=\"2\" CNPJ=\"3\"/>"
        "</ROWDATA></DATAPACKET>";
    const auto ds = TLegacyDataset::Parse(xml);
    EXPECT_EQ(ds.Fields().size(), 5u);
    ASSERT_EQ(ds.Rows().size(), 2u);
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[0], "Empresa"), "A&B Com\xc3\xa9rcio");
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[1], "Empresa"), "Caf\xc3\xa9");  // single-byte text
    EXPECT_EQ(TLegacyDataset::Value(ds.Rows()[1], "UF"), "");                  // absent attribute
}

TEST(LegacyDataset, BrokenFilesRaise) {
    const std::string good = EditedFile();
    for (const std::string& bad :
         {good.substr(0, good.size() - 3), good.substr(0, 30), std::string("\x96\x19\xE0\xBD", 4),
          std::string("garbage\x01\x02"), std::string("<DATAPACKET><ROWDATA><ROW"),
          std::string("<other/>"), std::string()}) {
        EXPECT_THROW(TLegacyDataset::Parse(bad), ELegacyDatasetError) << bad.size() << " bytes";
    }
}

TEST(Migration, InsertsSavesAndRenames) {
    TempDir dir;
    dir.Write("Empresas.dat", EditedFile());
    std::filesystem::permissions(dir.File("Empresas.dat"), std::filesystem::perms::all);
    TConsultasEmpresas r;
    r.Inserir("55.555.555/0001-55", "AM", "Já cadastrada", "", "", "");
    EXPECT_EQ(MigracaoEmpresas(r, Dir(dir)), 2);
    ASSERT_EQ(r.Quantidade(), 3);
    const auto first = r.Item(1);
    EXPECT_EQ(first->CNPJ(), "11.111.111/0001-11");
    EXPECT_EQ(first->UF(), "SP");
    EXPECT_EQ(first->Nome(), "Padaria Jo\xc3\xa3o");
    EXPECT_EQ(first->CertificadoDigital(), "0AAA");
    EXPECT_EQ(first->CertSenha(), "s1");
    EXPECT_EQ(first->Vencimento(), "");
    // The company edited in the earlier version comes whole: only its name had changed.
    const auto edited = r.Item(2);
    EXPECT_EQ(edited->CNPJ(), "22.222.222/0001-22");
    EXPECT_EQ(edited->UF(), "RJ");
    EXPECT_EQ(edited->Nome(), "Nome Novo");
    EXPECT_EQ(edited->CertificadoDigital(), "0BBB");
    EXPECT_EQ(edited->CertSenha(), "s2");
    EXPECT_EQ(r.Item(0)->Nome(), "Já cadastrada");  // the registered one is kept as it was

    EXPECT_FALSE(std::filesystem::exists(dir.File("Empresas.dat")));
    // The old file holds the passwords in plain text: owner only, whatever it was before.
    EXPECT_EQ(std::filesystem::status(dir.File("EmpresasAntigo.dat")).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    // Saved at once: the migrated companies are on disk before the legacy file is gone.
    TConsultasEmpresas saved;
    saved.Carregar(dir.File("Empresas2.dat"));
    EXPECT_EQ(saved.Quantidade(), 3);

    // Nothing left to migrate.
    EXPECT_EQ(MigracaoEmpresas(r, Dir(dir)), 0);
}

TEST(Migration, AllRegisteredStillRenamesWithoutSaving) {
    TempDir dir;
    dir.Write("Empresas.dat", EditedFile());
    TConsultasEmpresas r;
    for (const char* cnpj : {"11.111.111/0001-11", "22.222.222/0001-22", "55.555.555/0001-55"}) {
        r.Inserir(cnpj, "", "", "", "", "");
    }
    EXPECT_EQ(MigracaoEmpresas(r, Dir(dir)), 0);
    EXPECT_EQ(r.Quantidade(), 3);
    EXPECT_TRUE(std::filesystem::exists(dir.File("EmpresasAntigo.dat")));
    EXPECT_FALSE(std::filesystem::exists(dir.File("Empresas2.dat")));
}

TEST(Migration, ExistingOldFileIsNeverReplaced) {
    TempDir dir;
    dir.Write("Empresas.dat", EditedFile());
    dir.Write("EmpresasAntigo.dat", "older");
    TConsultasEmpresas r;
    EXPECT_EQ(MigracaoEmpresas(r, Dir(dir)), 3);
    EXPECT_EQ(dir.Read("EmpresasAntigo.dat"), "older");
    EXPECT_TRUE(std::filesystem::exists(dir.File("Empresas.dat")));
    // At the next start the same file is read again and the registered rows are skipped.
    EXPECT_EQ(MigracaoEmpresas(r, Dir(dir)), 0);
    EXPECT_EQ(r.Quantidade(), 3);
}

TEST(Migration, UnreadableFilesRaiseAndStayInPlace) {
    const std::string good = EditedFile();
    for (const std::string& bad :
         {good.substr(0, good.size() - 4), std::string("lixo lixo lixo")}) {
        TempDir dir;
        dir.Write("Empresas.dat", bad);
        TConsultasEmpresas r;
        try {
            MigracaoEmpresas(r, Dir(dir));
            ADD_FAILURE() << "should raise";
        } catch (const std::runtime_error& e) {
            const std::string text = e.what();
            const std::string tail = "\r\nDesinstale o aplicativo e instale novamente.";
            ASSERT_GT(text.size(), tail.size());
            EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
        }
        EXPECT_EQ(r.Quantidade(), 0);
        EXPECT_EQ(dir.Read("Empresas.dat"), bad);
        EXPECT_FALSE(std::filesystem::exists(dir.File("EmpresasAntigo.dat")));
    }
    TempDir none;
    TConsultasEmpresas r;
    EXPECT_EQ(MigracaoEmpresas(r, Dir(none)), 0);  // no legacy file: nothing happens
}

}  // namespace
}  // namespace quelvo
