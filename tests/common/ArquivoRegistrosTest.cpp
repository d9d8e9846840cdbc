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
        {"LF, CR and no last break", "a;1\nb;2\rc;3", {{"a", "1"}, {"b", "2"}, {"c", "3"}}, 0},
        {"blank lines", "\r\n\r\na;1\r\n\r\n", {{"a", "1"}}, 0},
        {"a key twice: the later wins in place",
         "a;1\r\nb;2\r\na;3\r\n",
         {{"a", "3"}, {"b", "2"}},
         0},
        {"garbage among good lines",
         "a;1\r\nlixo\r\n;5\r\nb;x\r\n\xff\x00;;\r\nb;2\r\n"s,
         {{"a", "1"}, {"b", "2"}},
         4},
        {"a line cut short", "a;1\r\nb;", {{"a", "1"}}, 1},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string path = dir.Write("Descansos.dat", c.bytes);
        auto arquivo = Arquivo(path);
        EXPECT_EQ(arquivo.Registros(), c.records) << c.what;
        const std::string aviso = arquivo.TomarAviso();
        EXPECT_EQ(arquivo.TomarAviso(), "") << c.what;  // said once
        if (c.damaged == 0) {
            EXPECT_EQ(aviso, "") << c.what;
            EXPECT_FALSE(std::filesystem::exists(path + ".danificado")) << c.what;
            continue;
        }
        EXPECT_NE(aviso.find(" tinha " + std::to_string(c.damaged) + " linha"), std::string::npos)
            << c.what << ": " << aviso;
        EXPECT_EQ(dir.Read("Descansos.dat.danificado"), c.bytes) << c.what;
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
    EXPECT_EQ(dir.Read("UltimosNSU.dat"), "a;1;x\r\na;2;w\r\nb;1;z\r\n");
    EXPECT_EQ(arquivo.Buscar("a;2"), (Campos{"a", "2", "w"}));
    EXPECT_EQ(arquivo.Buscar("a"), std::nullopt);
    arquivo.Apagar({"a;1", "c;1"});
    arquivo.Alterar([](Campos& c) { c[2] = "-"; });
    EXPECT_EQ(dir.Read("UltimosNSU.dat"), "a;2;-\r\nb;1;-\r\n");
}

// A file that cannot be read is never overwritten, and nothing is guessed from it.
TEST(ArquivoRegistros, UnreadableOrTooLargeFilesAreLeftAlone) {
    TempDir dir;
    const std::string folder = dir.File("Descansos.dat");
    std::filesystem::create_directory(folder);
    const std::string big = dir.Write("Grande.dat", "a;1\r\n" + std::string(996, '9'));
    struct Case {
        std::string path;
        std::string reason;
    };
    for (const auto& c : std::vector<Case>{
             {folder, "não é um arquivo comum"},
             {big, "o arquivo tem 1001 bytes, mais do que o limite de 1000"},
         }) {
        auto arquivo = Arquivo(c.path);
        const std::string message = "Não foi possível ler o arquivo " + c.path + ": " + c.reason;
        EXPECT_EQ(ErrorOf([&] { arquivo.Buscar("a"); }), message);
        EXPECT_EQ(ErrorOf([&] { arquivo.Gravar({{"a", "2"}}); }), message);
        EXPECT_EQ(ErrorOf([&] { arquivo.Alterar([](Campos&) {}); }), message);
        EXPECT_EQ(arquivo.TomarAviso(), "");
    }
    EXPECT_TRUE(std::filesystem::is_directory(folder));
    EXPECT_EQ(dir.Read("Grande.dat"), "a;1\r\n" + std::string(996, '9'));
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
