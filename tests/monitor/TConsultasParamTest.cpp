#include "monitor/TConsultasParam.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <system_error>
#include <thread>

#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::TempDir;

TEST(SharedState, SeenListsLoadWhenPresentAndAlwaysSave) {
    TempDir dir;
    const std::string app = dir.path().string() + "/";
    TConsultasParam param;
    param.CarregarListas(app);  // no files: both lists stay empty
    EXPECT_EQ(param.Consultados.Count(), 0u);
    param.SalvarListas(app);  // both files written, even empty
    EXPECT_EQ(dir.Read("Consultados.dat"), "");
    EXPECT_EQ(dir.Read("ConsultadosNums.dat"), "");

    dir.Write("ConsultadosNums.dat", "123456780001951234\n123456780001951233\n");
    TConsultasParam other;
    other.CarregarListas(app);
    EXPECT_EQ(other.Consultados.Count(), 0u);
    EXPECT_TRUE(other.ConsultadosNums.Contains("123456780001951233"));
    other.Consultados.Add("35260112345678000195550010000001231000001234");
    other.SalvarListas(app);
    EXPECT_EQ(dir.Read("Consultados.dat"), "35260112345678000195550010000001231000001234\r\n");
    EXPECT_EQ(dir.Read("ConsultadosNums.dat"), "123456780001951234\r\n123456780001951233\r\n");
}

TEST(SharedState, QueryKeysAreSavedFirst) {
    // Whatever stops the second file, the query keys are on disk already: an invoice key is
    // never recorded without its NSU.
    TempDir dir;
    std::filesystem::create_directory(dir.File("Consultados.dat"));
    TConsultasParam param;
    param.Consultados.Add("35260112345678000195550010000001231000001234");
    param.ConsultadosNums.Add("123456780001951234");
    EXPECT_THROW(param.SalvarListas(dir.path().string() + "/"), std::system_error);
    EXPECT_EQ(dir.Read("ConsultadosNums.dat"), "123456780001951234\r\n");
}

TEST(SharedState, TheStartRemovesTemporariesACrashLeft) {
    TempDir dir;
    std::filesystem::create_directory(dir.File("certificados"));
    struct Case {
        const char* name;
        bool removed;
    };
    const Case cases[] = {
        {".ConsultadosNums.dat.Ab12Cd", true},  // complete, never renamed
        {".Consultados.dat.xYz789", true},      // cut short
        {".Config.dat.000000", true},
        {".Descansos.dat.q1W2e3", true},
        {"certificados/.0A1B2C.pfx.AAAAAA", true},
        {"certificados/.0A1B2C.pem.bbbbbb", true},
        {"certificados/.PinsRecusados.dat.k3J9aQ", true},  // a rewrite of the refused PINs
        {"Consultados.dat", false},                        // the kept files themselves
        {"certificados/0A1B2C.pfx", false},
        {".bashrc.abcdef", false},        // not a file the program keeps
        {".Consultados.dat.tmp", false},  // not the temporaries' shape
        {".Consultados.dat.Ab1-Cd", false},
        {".dat.abcdef", false},
        {"notas/.Consultados.dat.Ab12Cd", false},  // only the folders the program writes
    };
    std::filesystem::create_directory(dir.File("notas"));
    for (const auto& c : cases) {
        dir.Write(c.name, "x\r\n");
    }
    TConsultasParam param;
    param.CarregarListas(dir.path().string() + "/");
    for (const auto& c : cases) {
        EXPECT_EQ(std::filesystem::exists(dir.File(c.name)), !c.removed) << c.name;
    }
    EXPECT_EQ(param.Consultados.Count(), 1u);
}

TEST(SharedState, ProxyCopiesAreWhole) {
    EXPECT_FALSE((TTravonHttpProxy{" \t", 8080, "", ""}.InUse()));
    EXPECT_FALSE((TTravonHttpProxy{"proxy", 0, "", ""}.InUse()));
    EXPECT_TRUE((TTravonHttpProxy{" proxy ", 3128, "", ""}.InUse()));

    TConsultasParam param;
    const TTravonHttpProxy a{"a.example", 1111, "ua", "pa"};
    const TTravonHttpProxy b{"b.example", 2222, "ub", "pb"};
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; i < 20000; ++i) {
            param.Proxy.Set(i % 2 ? a : b);
        }
        stop = true;
    });
    int torn = 0;
    while (!stop) {
        const auto copy = param.Proxy.Get();
        torn += !(copy == a || copy == b || copy == TTravonHttpProxy{});
    }
    writer.join();
    EXPECT_EQ(torn, 0);
}

// The window's thread inserts, deletes, saves and writes statuses while the worker walks the
// registry, writes statuses and fills the seen-lists. Run under ThreadSanitizer (see README).
TEST(SharedState, WindowAndWorkerThreadsTogether) {
    TempDir dir;
    const std::string app = dir.path().string() + "/";
    TConsultasParam param;
    for (int i = 0; i < 20; ++i) {
        param.Empresas.Inserir("cnpj" + std::to_string(i), "SP", "n", "c", "s", "");
    }
    std::atomic<bool> stop{false};
    std::thread worker([&] {
        for (int round = 0; round < 30; ++round) {
            const int count = param.Empresas.Quantidade();
            for (int i = 0; i < count; ++i) {
                const auto record = param.Empresas.ItemOrNull(i);
                if (!record) {
                    break;  // the registry shrank under the walk
                }
                record->SetStatus(1, "Buscando...");
                const std::string key = record->CNPJ() + std::to_string(round);
                if (!param.ConsultadosNums.Contains(key)) {
                    param.ConsultadosNums.Add(key);
                }
                param.StatusTexto.Set("Consultando " + key);
                record->SetStatus(0, "Nenhuma nova nota foi encontrada");
            }
            param.SalvarListas(app);
        }
        stop = true;
    });
    int n = 100;
    while (!stop) {
        param.Empresas.Inserir("cnpj" + std::to_string(n++), "RJ", "n", "c", "s", "");
        if (param.Empresas.Quantidade() > 25) {
            param.Empresas.Apagar(0);
        }
        for (const auto& record : param.Empresas.Itens()) {
            record->SetVencimento("01/01/2030");
            if (record->Estado() != 1) {
                record->SetStatus(0, "Esperando...");
            }
        }
        param.Empresas.Salvar(app + "Empresas2.dat");
        param.SalvarListas(app);
        (void)param.StatusTexto.Get();
    }
    worker.join();
    TConsultasParam back;
    back.CarregarListas(app);
    EXPECT_EQ(back.ConsultadosNums.Count(), param.ConsultadosNums.Count());
    TConsultasEmpresas saved;
    saved.Carregar(app + "Empresas2.dat");
    EXPECT_GT(saved.Quantidade(), 0);
}

}  // namespace
}  // namespace quelvo
