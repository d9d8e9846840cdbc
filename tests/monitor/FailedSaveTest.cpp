// Every file the program keeps survives a save that cannot be completed (a full disk): the old
// file stays byte for byte, the save raises, and no temporary file is left beside it.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <string>

#include "common/ProfileFile.h"
#include "monitor/TConsultasEmpresas.h"
#include "monitor/TDescansos.h"
#include "monitor/TEnviosPendentes.h"
#include "monitor/TSeenList.h"
#include "monitor/TUltimosNSU.h"
#include "support/FileSizeLimit.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::TempDir;

TEST(FailedSave, KeepsTheOldFileWhole) {
    using Salvar = std::function<void(const std::string& appDir, int valor)>;
    struct Case {
        const char* file;
        Salvar save;  // a change whose file is larger with every `valor`
    };
    const auto momento = [](int valor) {
        return std::chrono::system_clock::time_point(std::chrono::hours(500000 + valor));
    };
    const Case cases[] = {
        {"Empresas2.dat",
         [](const std::string& d, int valor) {
             TConsultasEmpresas r;
             for (int i = 0; i <= valor; ++i) {
                 r.Inserir("11.222.333/0001-8" + std::to_string(i), "SP", "Padaria", "0A", "s", "");
             }
             r.Salvar(d + "Empresas2.dat");
         }},
        {"Consultados.dat",
         [](const std::string& d, int valor) {
             TSeenList list;
             for (int i = 0; i <= valor; ++i) {
                 list.Add("chave" + std::to_string(i));
             }
             list.SaveToFile(d + "Consultados.dat");
         }},
        {"Config.dat",
         [](const std::string& d, int valor) {
             TProfileFile(d + "Config.dat")
                 .WriteString("Config", "Usuario" + std::to_string(valor), "ana@empresa.com");
         }},
        {"UltimosNSU.dat",
         [](const std::string& d, int valor) {
             TUltimosNSU(d).Gravar("1122233300018" + std::to_string(valor), 1000 + valor);
         }},
        {"EnviosPendentes.dat",
         [](const std::string& d, int valor) {
             TEnviosPendentes(d).Acrescentar({{"11222333000181", valor, "<resNFe></resNFe>"}});
         }},
        {"Descansos.dat",
         [&](const std::string& d, int valor) {
             TDescansos(d).Descansar("1122233300018" + std::to_string(valor), momento(valor), 656);
         }},
    };
    for (const auto& c : cases) {
        TempDir dir;
        const std::string appDir = dir.path().string() + "/";
        c.save(appDir, 1);
        const std::string old = dir.Read(c.file);
        ASSERT_FALSE(old.empty()) << c.file;
        {
            test::FileSizeLimit limit(old.size());
            EXPECT_ANY_THROW(c.save(appDir, 2)) << c.file;
        }
        EXPECT_EQ(dir.Read(c.file), old) << c.file;
        EXPECT_EQ(dir.Named(""), std::vector<std::string>{c.file}) << c.file;
    }
}

}  // namespace
}  // namespace quelvo
