#include "monitor/TMonitorUpdate.h"

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "TSiteStandIn.h"
#include "common/LocalDoAplicativo.h"
#include "common/SafeFile.h"
#include "common/Utils.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

namespace fs = std::filesystem;
using test::TempDir;

// A small real executable of this machine with the version marker of `versao` (same length as
// this build's).
std::string Executavel(const std::string& versao, bool outraMaquina = false) {
    std::string bytes = ReadWholeFile(QUELVO_VERSIONED_STUB);
    const std::string marca = std::string("QUELVO-FILEVERSION=") + QUELVO_VERSION;
    const std::string nova = "QUELVO-FILEVERSION=" + versao;
    EXPECT_EQ(nova.size(), marca.size());
    for (size_t at = bytes.find(marca); at != std::string::npos;
         at = bytes.find(marca, at + marca.size())) {
        bytes.replace(at, marca.size(), nova);
    }
    if (outraMaquina) {
        bytes[18] = 0x28;  // ARM
        bytes[19] = 0;
    }
    return bytes;
}

// An application folder (with a quote in its name, as a user may have) whose running executable
// is version 1.6.0.0, and the site's stand-in.
struct Mundo {
    Mundo() {
        fs::create_directories(dir.File("pasta d'água"));
        app = dir.File("pasta d'água") + "/";
        WriteFileAtomic(app + "Servidores.ini", "[Servidores]\r\nSite=" + site.HostPort() + "\r\n");
        exe = app + "quelvo";
        WriteFileAtomic(exe, Executavel("1.6.0.0"), 0751);
        site.SetVersion("1.6.0.0", "");
    }
    TMonitorUpdate Atualizacao(pid_t processo = ::getpid()) const {
        return TMonitorUpdate(app, exe, processo);
    }
    int Downloads() const {
        int n = 0;
        for (const auto& r : site.Requests()) {
            n += r.path == "/app/Quelvo.exe";
        }
        return n;
    }
    std::string Pendente() const {
        return FileExists(app + TMonitorUpdate::kBaixado)
                   ? FileVersion(app + TMonitorUpdate::kBaixado)
                   : "";
    }

    TempDir dir;
    standin::TSiteStandIn site;
    std::string app;
    std::string exe;
};

TEST(MonitorUpdate, TheCheckDownloadsOnlyWhatThisMachineCanRun) {
    const struct {
        const char* what;
        std::string versaoSite;
        std::string arquivo;
        std::string jaPendente;  // version of a download already waiting ("" none)
        int downloads;
        std::string pendente;  // version waiting afterwards ("" none)
    } casos[] = {
        {"same version", "1.6.0.0", Executavel("1.6.0.0"), "", 0, ""},
        {"newer", "1.7.0.0\r\n", Executavel("1.7.0.0"), "", 1, "1.7.0.0"},
        {"lower, offered like a newer one", " 1.4.0.0 ", Executavel("1.4.0.0"), "", 1, "1.4.0.0"},
        {"already downloaded", "1.7.0.0", Executavel("1.7.0.0"), "1.7.0.0", 0, "1.7.0.0"},
        {"another version than the one waiting", "1.8.0.0", Executavel("1.8.0.0"), "1.7.0.0", 1,
         "1.8.0.0"},
        {"an error page is no version", "<html>Erro</html>", Executavel("1.7.0.0"), "", 0, ""},
        {"another machine's executable", "1.7.0.0", Executavel("1.7.0.0", true), "", 1, ""},
        {"a Windows executable", "1.7.0.0", "MZ\x90" + std::string(600, '\0'), "", 1, ""},
        {"an executable without a version marker", "1.7.0.0", Executavel("1.7.0.0").substr(0, 200),
         "", 1, ""},
    };
    for (const auto& c : casos) {
        Mundo m;
        m.site.SetVersion(c.versaoSite, c.arquivo);
        if (!c.jaPendente.empty()) {
            WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Executavel(c.jaPendente), 0755);
        }
        m.Atualizacao().Verificar({});
        EXPECT_EQ(m.Downloads(), c.downloads) << c.what;
        EXPECT_EQ(m.Pendente(), c.pendente) << c.what;
        EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kBaixando) && c.pendente.empty() &&
                     c.downloads > 0)
            << c.what << ": a refused download stays behind";
        if (!c.pendente.empty() && c.downloads > 0) {
            struct stat st {};
            ASSERT_EQ(::stat((m.app + TMonitorUpdate::kBaixado).c_str(), &st), 0);
            EXPECT_EQ(st.st_mode & 07777, 0751u) << c.what << ": the executable's permissions";
        }
    }
}

TEST(MonitorUpdate, AnInterruptedDownloadLeavesNothingPending) {
    Mundo m;
    const std::string novo = Executavel("1.7.0.0");
    m.site.Script("/app/Quelvo.exe",
                  standin::Response{200, "", {}, novo, {}, false, novo.size() / 2});
    m.site.SetVersion("1.7.0.0", novo);
    m.Atualizacao().Verificar({});
    EXPECT_EQ(m.Downloads(), 1);
    EXPECT_EQ(m.Pendente(), "");
    // Nor does an unreachable site.
    m.site.Server().Stop();
    m.Atualizacao().Verificar({});
    EXPECT_EQ(m.Pendente(), "");
}

TEST(MonitorUpdate, TheCheckRunsOnItsOwnThread) {
    Mundo m;
    m.site.SetVersion("1.7.0.0", Executavel("1.7.0.0"));
    TMonitorUpdate atualizacao = m.Atualizacao();
    atualizacao.IniciarVerificacao({});
    const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (atualizacao.Verificando() && std::chrono::steady_clock::now() < ate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    EXPECT_FALSE(atualizacao.Verificando());
    EXPECT_EQ(m.Pendente(), "1.7.0.0");
}

TEST(MonitorUpdate, TheOfferAndWhenItIsMade) {
    const TDateTime hoje = TDateTime::FromDate(2026, 12, 10);
    const struct {
        const char* what;
        std::string pendente;      // the waiting file ("" none)
        const char* naoAtualizar;  // "Não Atualizar.txt" (nullptr: none)
        bool pergunta;
    } casos[] = {
        {"nothing downloaded", "", nullptr, false},
        {"the running version", Executavel("1.6.0.0"), nullptr, false},
        {"a newer one", Executavel("1.7.0.0"), nullptr, true},
        {"declined today", Executavel("1.7.0.0"), "10/12/2026\r\n", false},
        {"declined yesterday", Executavel("1.7.0.0"), "09/12/2026\r\n", true},
        {"a file that is not a date", Executavel("1.7.0.0"), "amanhã\r\n", true},
        {"not for this machine", Executavel("1.7.0.0", true), nullptr, false},
    };
    for (const auto& c : casos) {
        Mundo m;
        if (!c.pendente.empty()) {
            WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, c.pendente, 0755);
        }
        if (c.naoAtualizar) {
            WriteFileAtomic(m.app + TMonitorUpdate::kNaoAtualizar, c.naoAtualizar);
        }
        std::vector<std::string> perguntas;
        EXPECT_FALSE(m.Atualizacao().OfferUpdate(
            [&](const std::string& q) {
                perguntas.push_back(q);
                return false;
            },
            hoje))
            << c.what;
        EXPECT_EQ(perguntas.size(), c.pergunta ? 1u : 0u) << c.what;
        if (c.pergunta) {
            EXPECT_EQ(perguntas[0],
                      "Existe uma atualização desse aplicativo, deseja atualizar agora ?");
            // Declined: not again on the same day.
            EXPECT_EQ(ReadWholeFile(m.app + TMonitorUpdate::kNaoAtualizar), "10/12/2026\r\n");
            EXPECT_FALSE(m.Atualizacao().MayOfferUpdate(hoje));
            EXPECT_TRUE(m.Atualizacao().MayOfferUpdate(TDateTime::FromDate(2026, 12, 11)));
        }
        if (std::string(c.what) == "not for this machine") {
            EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kBaixado));
        }
    }
}

TEST(MonitorUpdate, AnInstalledCopyNeitherChecksNorOffers) {
    Mundo m;
    m.site.SetVersion("1.7.0.0", Executavel("1.7.0.0"));
    // A download left from the days of a portable copy on the same folder.
    WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Executavel("1.8.0.0"), 0755);
    // The same folder, run by the copy the package installed: the package manager updates it.
    TMonitorUpdate instalada(m.app, std::string(kPastaDosProgramas) + "/quelvo", ::getpid());
    EXPECT_FALSE(instalada.Ligada);
    instalada.Verificar({});
    instalada.IniciarVerificacao({});
    EXPECT_FALSE(instalada.Verificando());
    EXPECT_TRUE(m.site.Requests().empty());
    bool perguntou = false;
    EXPECT_FALSE(instalada.OfferUpdate(
        [&](const std::string&) {
            perguntou = true;
            return false;
        },
        TDateTime::Now()));
    EXPECT_FALSE(perguntou);
    EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kNaoAtualizar));

    // The portable copy of that folder checks as before.
    EXPECT_TRUE(m.Atualizacao().Ligada);
    m.Atualizacao().Verificar({});
    EXPECT_EQ(m.Downloads(), 1);
    EXPECT_EQ(m.Pendente(), "1.7.0.0");
}

TEST(MonitorUpdate, AcceptingRunsTheScriptOnceTheProgramHasEnded) {
    Mundo m;
    WriteFileAtomic(m.app + TMonitorUpdate::kBaixado, Executavel("1.7.0.0"), 0751);
    // A process standing in for the program that ends.
    const pid_t programa = ::fork();
    if (programa == 0) {
        ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    const TMonitorUpdate atualizacao = m.Atualizacao(programa);
    EXPECT_TRUE(atualizacao.OfferUpdate([](const std::string&) { return true; }, TDateTime::Now()));
    EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kNaoAtualizar));
    const std::string script = ReadWholeFile(m.app + TMonitorUpdate::kScript);
    EXPECT_NE(script.find("pid=" + std::to_string(programa) + "\n"), std::string::npos);
    EXPECT_NE(script.find("mv -f '" + m.dir.File("pasta d'\\''água") + "/QuelvoAtualizado.exe' '" +
                          m.dir.File("pasta d'\\''água") + "/quelvo'"),
              std::string::npos)
        << script;
    // While the program runs, nothing is replaced.
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    EXPECT_EQ(FileVersion(m.exe), "1.6.0.0");
    ::kill(programa, SIGKILL);
    ::waitpid(programa, nullptr, 0);
    const auto ate = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (FileVersion(m.exe) != "1.7.0.0" && std::chrono::steady_clock::now() < ate) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    EXPECT_EQ(FileVersion(m.exe), "1.7.0.0");
    EXPECT_FALSE(FileExists(m.app + TMonitorUpdate::kBaixado));
    struct stat st {};
    ASSERT_EQ(::stat(m.exe.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0751u);
}

}  // namespace
}  // namespace quelvo
