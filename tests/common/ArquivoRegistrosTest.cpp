#include "common/TArquivoRegistros.h"

#include <gtest/gtest.h>

#include <charconv>
#include <filesystem>

#include "support/ErrorOf.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using namespace std::string_literals;
using test::ErrorOf;
using test::TempDir;
using Campos = TArquivoRegistros::Campos;

// Records of two fields: a key and a whole number.
bool Valido(const Campos& c) {
    if (c.size() != 2 || c[0].empty() || c[1].empty()) {
        return false;
    }
    long v = 0;
    const auto [p, ec] = std::from_chars(c[1].data(), c[1].data() + c[1].size(), v);
    return ec == std::errc{} && p == c[1].data() + c[1].size();
}

TArquivoRegistros Arquivo(const std::string& path, size_t limite = 1000) {
    return TArquivoRegistros(path, 1, Valido, limite);
}

TEST(ArquivoRegistros, ReadsTolerantlyAndKeepsADamagedFileAside) {
    struct Case {
        const char* what;
        std::string bytes;
        std::vector<Campos> records;
        size_t damaged;
    };
    const std::vector<Case> cases = {
        {"empty", "", {}, 0},
        {"CR LF", "a;1\r\nb;2\r\n", {{"a", "1"}, {"b", "2"}}, 0},
        {"LF and CR", "a;1\nb;2\rc;3\n", {{"a", "1"}, {"b", "2"}, {"c", "3"}}, 0},
        // What follows the last line break was being appended when the program ended: "b;12"
        // cut to "b;1" would pass for a record.
        {"a last line without its break", "a;1\r\nb;1", {{"a", "1"}}, 0},
        {"blank lines", "\r\n\r\na;1\r\n\r\n", {{"a", "1"}}, 0},
        {"a key twice: the later wins in place",
         "a;1\r\nb;2\r\na;3\r\n",
         {{"a", "3"}, {"b", "2"}},
         0},
        {"garbage among good lines",
         "a;1\r\nlixo\r\n;5\r\nb;x\r\n\xff\x00;;\r\nb;2\r\n"s,
         {{"a", "1"}, {"b", "2"}},
         4},
        {"a line cut short", "a;1\r\nb;\r\nc;3\r\n", {{"a", "1"}, {"c", "3"}}, 1},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.Write("Descansos.dat", c.bytes);
        auto arquivo = Arquivo(path);
        EXPECT_EQ(arquivo.Registros(), c.records) << c.what;
        const std::string aviso = arquivo.TomarAviso();
        EXPECT_EQ(arquivo.TomarAviso(), "") << c.what;  // said once
        const auto aside = dir.Named("Descansos.dat.danificado-");
        if (c.damaged == 0) {
            EXPECT_EQ(aviso, "") << c.what;
            EXPECT_TRUE(aside.empty()) << c.what;
            continue;
        }
        ASSERT_EQ(aside.size(), 1u) << c.what;
        EXPECT_NE(aviso.find(" tinha " + std::to_string(c.damaged) + " linha"), std::string::npos)
            << c.what << ": " << aviso;
        EXPECT_NE(aviso.find("guardada em " + dir.File(aside[0]) + "."), std::string::npos)
            << c.what << ": " << aviso;
        EXPECT_EQ(dir.Read(aside[0]), c.bytes) << c.what;
        // The next write keeps every good record, and only those.
        arquivo.Gravar({{"z", "9"}});
        std::string expected;
        for (const auto& r : c.records) {
            expected += r[0] + ";" + r[1] + "\r\n";
        }
        EXPECT_EQ(dir.Read("Descansos.dat"), expected + "z;9\r\n") << c.what;
    }
}

TEST(ArquivoRegistros, WritesAndRemovesByKey) {
    TempDir dir;
    const std::string path = dir.File("UltimosNSU.dat");
    TArquivoRegistros arquivo(
        path, 2, [](const Campos& c) { return c.size() == 3; }, 1000);
    EXPECT_EQ(arquivo.Registros(), std::vector<Campos>{});
    EXPECT_FALSE(std::filesystem::exists(path));  // a missing file is not created by a read
    arquivo.Gravar({{"a", "1", "x"}, {"a", "2", "y"}, {"b", "1", "z"}});
    arquivo.Gravar({{"a", "2", "w"}});
    // A record written is appended; read back, the later line of a key is the record.
    EXPECT_EQ(dir.Read("UltimosNSU.dat"), "a;1;x\r\na;2;y\r\nb;1;z\r\na;2;w\r\n");
    EXPECT_EQ(TArquivoRegistros(
                  path, 2, [](const Campos&) { return true; }, 1000)
                  .Registros(),
              (std::vector<Campos>{{"a", "1", "x"}, {"a", "2", "w"}, {"b", "1", "z"}}));
    EXPECT_EQ(arquivo.Buscar("a;2"), (Campos{"a", "2", "w"}));
    EXPECT_EQ(arquivo.Buscar("a"), std::nullopt);
    arquivo.Apagar({"a;1", "c;1"});
    arquivo.Alterar([](Campos& c) { c[2] = "-"; });
    EXPECT_EQ(dir.Read("UltimosNSU.dat"), "a;2;-\r\nb;1;-\r\n");
}

// Each damaged read keeps its own copy: the lines the first one left out are already gone from
// the file, so its copy is their only trace.
TEST(ArquivoRegistros, EveryDamagedReadKeepsACopyOfItsOwn) {
    TempDir dir;
    const std::string path = dir.Write("EnviosPendentes.dat", "a;1\r\nlixo 1\r\n");
    Arquivo(path).Gravar({{"b", "2"}});
    dir.Write("EnviosPendentes.dat", dir.Read("EnviosPendentes.dat") + "lixo 2\r\n");
    auto second = Arquivo(path);
    EXPECT_EQ(second.Registros(), (std::vector<Campos>{{"a", "1"}, {"b", "2"}}));
    const auto aside = dir.Named("EnviosPendentes.dat.danificado-");
    ASSERT_EQ(aside.size(), 2u);
    // Named by the moment, then "-2", ...: in the order they were made.
    EXPECT_EQ(dir.Read(aside[0]), "a;1\r\nlixo 1\r\n");
    EXPECT_EQ(dir.Read(aside[1]), "a;1\r\nb;2\r\nlixo 2\r\n");
    EXPECT_NE(second.TomarAviso().find("guardada em " + dir.File(aside[1]) + "."),
              std::string::npos);
}

// A file that cannot be read is never overwritten, and nothing is guessed from it.
TEST(ArquivoRegistros, AnUnreadableFileIsLeftAlone) {
    TempDir dir;
    const std::string folder = dir.File("Descansos.dat");
    std::filesystem::create_directory(folder);
    auto arquivo = Arquivo(folder);
    const std::string message =
        "Não foi possível ler o arquivo " + folder + ": não é um arquivo comum";
    EXPECT_EQ(ErrorOf([&] { arquivo.Buscar("a"); }), message);
    EXPECT_EQ(ErrorOf([&] { arquivo.Gravar({{"a", "2"}}); }), message);
    EXPECT_EQ(ErrorOf([&] { arquivo.Alterar([](Campos&) {}); }), message);
    EXPECT_EQ(arquivo.TomarAviso(), "");
    EXPECT_TRUE(std::filesystem::is_directory(folder));
}

// The writer never makes a file the reader would refuse; a file that grew past the limit anyway
// (an older version, a hand) is read up to it, the rest kept aside, and the records stay in use.
TEST(ArquivoRegistros, WriterAndReaderKeepToOneLimit) {
    TempDir dir;
    const std::string path = dir.File("EnviosPendentes.dat");
    auto arquivo = Arquivo(path, 20);
    arquivo.Gravar({{"a", "1"}, {"b", "22"}, {"c", "333"}});  // 18 bytes
    EXPECT_EQ(ErrorOf([&] {
                  arquivo.Gravar({{"d", "4"}});
              }),
              "Não foi possível gravar o arquivo " + path + ": ele passaria do limite de 20 bytes");
    // Neither the file nor the records took the change.
    EXPECT_EQ(dir.Read("EnviosPendentes.dat"), "a;1\r\nb;22\r\nc;333\r\n");
    EXPECT_EQ(arquivo.Buscar("d"), std::nullopt);
    EXPECT_EQ(ErrorOf([&] { arquivo.Alterar([](Campos& c) { c[1] += "00"; }); }),
              "Não foi possível gravar o arquivo " + path + ": ele passaria do limite de 20 bytes");
    EXPECT_EQ(arquivo.Buscar("a"), (Campos{"a", "1"}));
    arquivo.Apagar({"b"});
    arquivo.Gravar({{"d", "4"}});
    EXPECT_EQ(dir.Read("EnviosPendentes.dat"), "a;1\r\nc;333\r\nd;4\r\n");

    const std::string big = "a;1\r\nb;2\r\nc;3\r\nd;4\r\ne;5\r\n";  // 25 bytes
    const std::vector<Campos> four = {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}};
    const struct {
        size_t limite;
        std::vector<Campos> records;  // whole lines only
    } cases[] = {
        {20, four},
        {21, four},
        {23, four},
        {24, {{"a", "1"}, {"b", "2"}, {"c", "3"}, {"d", "4"}, {"e", "5"}}},
    };
    for (const auto& c : cases) {
        TempDir other;
        const std::string file = other.Write("EnviosPendentes.dat", big);
        auto grande = Arquivo(file, c.limite);
        EXPECT_EQ(grande.Registros(), c.records) << c.limite;
        const auto aside = other.Named("EnviosPendentes.dat.danificado-");
        ASSERT_EQ(aside.size(), 1u);
        EXPECT_EQ(other.Read(aside[0]), big);
        EXPECT_EQ(grande.TomarAviso(),
                  "O arquivo " + file + " passou do limite de " + std::to_string(c.limite) +
                      " bytes (as linhas além dele foram deixadas de lado); uma cópia do arquivo "
                      "como estava foi guardada em " +
                      other.File(aside[0]) + ".");
        grande.Apagar({"a"});
        EXPECT_EQ(other.Read("EnviosPendentes.dat").substr(0, 15), "b;2\r\nc;3\r\nd;4\r\n");
        EXPECT_EQ(other.Read(aside[0]), big);
    }
}

// Records written again and again are appended, and the file is written whole once it has grown
// to twice what the records need (and some): it never grows without bound, and a later read
// finds the last value of every key. A line a crash cut short is never appended to.
TEST(ArquivoRegistros, AppendsAreCompacted) {
    TempDir dir;
    const std::string path = dir.File("Descansos.dat");
    {
        auto arquivo = Arquivo(path, 1 << 20);
        for (int i = 0; i < 20000; ++i) {
            arquivo.Gravar({{"k" + std::to_string(i % 50), std::to_string(i)}});
        }
    }
    const size_t tamanho = std::filesystem::file_size(path);
    EXPECT_LE(tamanho, 2 * 50 * 12 + TArquivoRegistros::kFolgaDeAcrescimos + 20);
    auto lido = Arquivo(path, 1 << 20);
    const auto registros = lido.Registros();
    ASSERT_EQ(registros.size(), 50u);
    EXPECT_EQ(registros[49], (Campos{"k49", "19999"}));

    dir.Write("Descansos.dat", "a;1\r\nb;2");  // "b;2" being appended when a crash came
    auto depois = Arquivo(path);
    depois.Gravar({{"c", "3"}});
    EXPECT_EQ(dir.Read("Descansos.dat"), "a;1\r\nc;3\r\n");
}

// A write that fails says so, and the change still holds in memory for this run.
TEST(ArquivoRegistros, AFailedWriteKeepsTheChangeInMemory) {
    TempDir dir;
    const std::string path = dir.File("nao-existe/Descansos.dat");
    auto arquivo = Arquivo(path);
    EXPECT_EQ(ErrorOf([&] {
                  arquivo.Gravar({{"a", "1"}});
              }),
              "Não foi possível gravar o arquivo " + path + ": No such file or directory");
    EXPECT_EQ(arquivo.Buscar("a"), (Campos{"a", "1"}));
}

}  // namespace
}  // namespace quelvo
