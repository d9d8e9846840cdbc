// The desktop program as processes: one copy per folder, a folder held by the headless program,
// and the end of a program whose cycle waits on a stalled server.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QPlainTextEdit>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TDfeStandIn.h"
#include "common/SafeFile.h"
#include "common/TFolderLock.h"
#include "common/Utils.h"
#include "monitor/TConsultasEmpresas.h"
#include "shell/ShellWorld.h"
#include "shell/TInstanciaUnica.h"
#include "support/ReleaseKey.h"

namespace quelvo {
namespace {

using test::ShellWorld;
using Script = standin::TDfeStandIn::Script;
using Clock = std::chrono::steady_clock;

// The program copied into the world's folder (its folder is its executable's): this build's, or
// with `chaveDeTeste` its build that trusts the tests' release key.
std::string Programa(const ShellWorld& w, bool chaveDeTeste = false) {
    const std::string exe = w.dir.File("quelvo");
    if (!std::filesystem::exists(exe)) {
        std::filesystem::copy_file(chaveDeTeste ? QUELVO_DESKTOP_TEST_KEY : QUELVO_DESKTOP, exe);
    }
    return exe;
}

// A copy of the program in the world's folder, started there.
class Copia {
public:
    explicit Copia(const ShellWorld& w) {
        const std::string exe = Programa(w);
        pid_ = ::fork();
        if (pid_ == 0) {
            ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
            ::execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
            ::_exit(127);
        }
    }
    ~Copia() {
        if (pid_ > 0 && !status_) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }
    // The exit status once the process has ended within `limite`; nothing otherwise.
    std::optional<int> Fim(std::chrono::milliseconds limite) {
        const auto ate = Clock::now() + limite;
        while (!status_ && Clock::now() < ate) {
            int s = 0;
            if (::waitpid(pid_, &s, WNOHANG) == pid_) {
                status_ = s;
            } else {
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        }
        return status_;
    }

private:
    pid_t pid_ = -1;
    std::optional<int> status_;
};

bool Ate(const std::function<bool()>& pronto, std::chrono::seconds limite) {
    const auto ate = Clock::now() + limite;
    while (!pronto()) {
        if (Clock::now() > ate) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

bool Dono(const ShellWorld& w, pid_t pid) {
    const auto holder = TFolderLock::CurrentHolder(w.AppDir());
    return holder.program == "quelvo" && holder.pid == pid;
}

TEST(Processes, ANewCopyEndsTheOlderOneAfterItSaved) {
    ShellWorld w;
    w.Credenciais();
    w.Registradas({w.a});
    Copia antiga(w);
    // Up and through its first cycle.
    ASSERT_TRUE(Ate([&] { return Dono(w, antiga.Pid()) && !w.service.Queries().empty(); },
                    std::chrono::seconds(20)));
    ASSERT_TRUE(Ate([&] { return std::filesystem::exists(w.dir.File("ConsultadosNums.dat")); },
                    std::chrono::seconds(20)));
    // Only the close handler writes the nine window keys.
    w.Credenciais();
    Copia nova(w);
    const auto fim = antiga.Fim(std::chrono::seconds(8));
    ASSERT_TRUE(fim.has_value());
    // It ended by itself, after its close handler: not killed.
    EXPECT_TRUE(WIFEXITED(*fim) && WEXITSTATUS(*fim) == 0) << *fim;
    EXPECT_NE(w.dir.Read("Config.dat").find("N30Minutos1=1"), std::string::npos);
    ASSERT_TRUE(Ate([&] { return Dono(w, nova.Pid()); }, std::chrono::seconds(10)));

    // The new copy goes on; SIGTERM ends it like "Finalizar Aplicação".
    ::kill(nova.Pid(), SIGTERM);
    const auto fimNova = nova.Fim(std::chrono::seconds(5));
    ASSERT_TRUE(fimNova.has_value());
    EXPECT_TRUE(WIFEXITED(*fimNova) && WEXITSTATUS(*fimNova) == 0);
}

// An older copy that does not quit when asked (here: stopped, so it can neither answer nor save)
// is given its time, then ended, and the new copy takes the folder.
TEST(Processes, AnOlderCopyThatDoesNotQuitIsEndedAfterItsTime) {
    ShellWorld w;
    w.Credenciais();
    Copia antiga(w);
    ASSERT_TRUE(Ate([&] { return Dono(w, antiga.Pid()); }, std::chrono::seconds(20)));
    ASSERT_EQ(::kill(antiga.Pid(), SIGSTOP), 0);
    const auto espera = std::chrono::milliseconds(500);
    const auto inicio = Clock::now();
    std::string motivo;
    const auto instancia = TInstanciaUnica::Assumir(w.AppDir(), motivo, espera);
    const auto levou = Clock::now() - inicio;
    ASSERT_NE(instancia, nullptr) << motivo;
    EXPECT_GE(levou, espera);  // it had its time first
    const auto fim = antiga.Fim(std::chrono::seconds(10));
    ASSERT_TRUE(fim.has_value());
    EXPECT_TRUE(WIFSIGNALED(*fim) && WTERMSIG(*fim) == SIGKILL) << *fim;
    const auto dono = TFolderLock::CurrentHolder(w.AppDir());
    EXPECT_EQ(dono.program, "quelvo");
    EXPECT_EQ(dono.pid, ::getpid());
}

TEST(Processes, AFolderHeldByTheHeadlessProgramIsNotTakenOver) {
    ShellWorld w;
    const auto monitor = TFolderLock::TryAcquire(w.AppDir(), "quelvo-monitor");
    ASSERT_TRUE(monitor);
    std::string motivo;
    EXPECT_EQ(TInstanciaUnica::Assumir(w.AppDir(), motivo), nullptr);
    EXPECT_EQ(motivo, "A pasta do aplicativo " + w.AppDir() +
                          " está em uso (quelvo-monitor, processo " + std::to_string(::getpid()) +
                          "). Finalize esse programa antes de abrir o Quelvo nesta pasta.");
}

TEST(Processes, ExitWhileTheCycleWaitsOnAStalledServer) {
    ShellWorld w;
    w.Credenciais();
    w.Registradas({w.a});
    w.service.ScriptQuery(w.a.cnpj, 0,
                          Script{Script::Kind::Slow, 0, "", std::chrono::milliseconds(60000)});
    Copia copia(w);
    ASSERT_TRUE(Ate([&] { return !w.service.Queries().empty(); }, std::chrono::seconds(20)));
    std::filesystem::remove(w.dir.File("Empresas2.dat"));
    ::kill(copia.Pid(), SIGTERM);
    // It ends long before the server answers (a minute): it does not wait for the cycle.
    const auto fim = copia.Fim(std::chrono::seconds(30));
    ASSERT_TRUE(fim.has_value());
    EXPECT_TRUE(WIFEXITED(*fim) && WEXITSTATUS(*fim) == 0);
    // Its files are whole: the registry reads back, the settings have the window's keys.
    test::ScopedMessageBoxes boxes;
    TConsultasEmpresas r;
    r.Carregar(w.dir.File("Empresas2.dat"));
    EXPECT_EQ(r.Quantidade(), 1);
    EXPECT_TRUE(boxes->All().empty());
    EXPECT_NE(w.dir.Read("Config.dat").find("N60Minutos1=0"), std::string::npos);
    EXPECT_TRUE(std::filesystem::exists(w.dir.File("ConsultadosNums.dat")));
}

// The processes running an executable file.
std::vector<pid_t> RodandoDe(const std::string& exe) {
    std::vector<pid_t> out;
    for (const auto& e : std::filesystem::directory_iterator("/proc")) {
        std::error_code ec;
        const auto alvo = std::filesystem::read_symlink(e.path() / "exe", ec);
        if (!ec && alvo == exe) {
            out.push_back(static_cast<pid_t>(std::stol(e.path().filename().string())));
        }
    }
    return out;
}

// This program with a later version in its version marker; `versao` takes that version.
std::string OutraVersao(const std::string& exe, std::string& versao) {
    std::string bytes = ReadWholeFile(exe);
    const std::string marca = std::string("QUELVO-FILEVERSION=") + QUELVO_VERSION;
    // One of its numbers one higher, the length kept: the last digit that is not a 9.
    std::string nova = marca;
    const size_t digito = nova.find_last_of("012345678");
    nova[digito] = static_cast<char>(nova[digito] + 1);
    for (size_t at = bytes.find(marca); at != std::string::npos;
         at = bytes.find(marca, at + marca.size())) {
        bytes.replace(at, marca.size(), nova);
    }
    versao = nova.substr(nova.find('=') + 1);
    return bytes;
}

TEST(Processes, AnAcceptedUpdateReplacesTheProgramAndStartsTheNewVersion) {
    ShellWorld w;
    w.Credenciais();
    // The program that trusts the tests' release key: the installing script has it check the
    // download once more.
    const std::string exe = Programa(w, true);
    // The site offers this very program with a later version, signed with our release key.
    const test::ReleaseKey& chave = test::ReleaseKey::DosProgramasDeTeste();
    std::string versaoNova;
    const std::string assinado = chave.Sign(OutraVersao(exe, versaoNova));
    w.site.SetVersion(versaoNova, assinado);

    // This program's process, as the script sees it: it ends when the program has ended.
    const pid_t programa = ::fork();
    if (programa == 0) {
        ::execl("/bin/sleep", "sleep", "30", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    w.boxes->confirmAnswer = true;
    w.Iniciar({}, [&] {
        auto& atualizacao = F_Principal->Atualizacao();
        atualizacao.Executavel = exe;
        atualizacao.Processo = programa;
        atualizacao.ChavePublica = chave.PublicPem();
        // The check of an earlier start downloads it.
        atualizacao.Verificar({});
        ASSERT_EQ(FileVersion(w.dir.File("QuelvoAtualizado.exe")), versaoNova);
    });
    ASSERT_TRUE(test::Esperar([&] { return w.terminou == 1; }));
    // The offer, accepted: the program ends at once, without its close handler.
    bool perguntou = false;
    for (const auto& c : w.Caixas()) {
        perguntou |= c.text == "Existe uma atualização desse aplicativo (versão " + versaoNova +
                                   "), deseja atualizar agora ?";
    }
    EXPECT_TRUE(perguntou);
    EXPECT_EQ(w.dir.Read("Config.dat").find("N30Minutos1"), std::string::npos);
    EXPECT_EQ(FileVersion(exe), QUELVO_VERSION);  // nothing replaced while it runs

    ::kill(programa, SIGKILL);
    ::waitpid(programa, nullptr, 0);
    // The script replaces the file and starts the new version from its path.
    ASSERT_TRUE(Ate([&] { return FileVersion(exe) == versaoNova; }, std::chrono::seconds(15)));
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("QuelvoAtualizado.exe")));
    std::vector<pid_t> novos;
    ASSERT_TRUE(Ate(
        [&] {
            novos = RodandoDe(exe);
            return novos.size() == 1 && Dono(w, novos[0]);
        },
        std::chrono::seconds(20)));
    ::kill(novos[0], SIGTERM);
    int status = 0;
    const bool terminou = Ate([&] { return ::waitpid(novos[0], &status, WNOHANG) == novos[0]; },
                              std::chrono::seconds(10));
    if (!terminou) {
        ::kill(novos[0], SIGKILL);
        ::waitpid(novos[0], &status, 0);
    }
    EXPECT_TRUE(terminou && WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

TEST(Processes, AnUpdateThatIsNotOurReleaseIsNotOfferedAndTheLogSaysWhy) {
    ShellWorld w;
    w.Credenciais();
    const std::string exe = Programa(w);
    // Left by an older version, which kept unsigned downloads.
    std::string versaoNova;
    WriteFileAtomic(w.dir.File("QuelvoAtualizado.exe"), OutraVersao(exe, versaoNova), 0755);
    w.boxes->confirmAnswer = true;
    const test::ReleaseKey chave;
    auto& p = w.Iniciar({}, [&] {
        F_Principal->Atualizacao().Executavel = exe;
        F_Principal->Atualizacao().ChavePublica = chave.PublicPem();
    });
    auto* memo = w.Achar<QPlainTextEdit>(&p, "MemoLogs");
    const std::string aviso = "Atualização " + versaoNova +
                              " baixada antes foi apagada sem ser instalada: o arquivo não tem "
                              "assinatura de lançamento.";
    ASSERT_TRUE(test::Esperar([&] {
        return memo->toPlainText().toStdString().find(aviso) != std::string::npos;
    })) << memo->toPlainText().toStdString();
    EXPECT_TRUE(w.Caixas().empty());
    EXPECT_EQ(w.terminou, 0);
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("QuelvoAtualizado.exe")));
    EXPECT_FALSE(std::filesystem::exists(w.dir.File("Atualizar.sh")));
}

// `quelvo --verificar-atualizacao FILE` answers without a display: exit 0 only for a later release
// of itself signed with the key built into it.
TEST(Processes, TheProgramChecksADownloadForTheInstallingScript) {
    ShellWorld w;
    const std::string exe = Programa(w, true);
    std::string versaoNova;
    const std::string nova = OutraVersao(exe, versaoNova);
    const std::string arquivo = w.dir.File("QuelvoAtualizado.exe");
    const struct {
        const char* what;
        const char* programa;  // the build that checks
        std::string bytes;
        int status;
        std::string motivo;
    } casos[] = {
        {"signed with the key built in", QUELVO_DESKTOP_TEST_KEY,
         test::ReleaseKey::DosProgramasDeTeste().Sign(nova), 0, ""},
        {"signed with another key", QUELVO_DESKTOP_TEST_KEY, test::ReleaseKey().Sign(nova), 1,
         "a assinatura do arquivo não confere com a chave de lançamento deste programa"},
        {"its own version", QUELVO_DESKTOP_TEST_KEY,
         test::ReleaseKey::DosProgramasDeTeste().Sign(ReadWholeFile(exe)), 1,
         std::string("a versão ") + QUELVO_VERSION + " não é mais nova que a " + QUELVO_VERSION +
             ", em uso"},
        // This repository carries no release key.
        {"a build without a release key", QUELVO_DESKTOP,
         test::ReleaseKey::DosProgramasDeTeste().Sign(nova), 1,
         "este programa foi compilado sem chave pública de lançamento e não aceita atualizações"},
    };
    for (const auto& c : casos) {
        std::filesystem::remove(exe);
        std::filesystem::copy_file(c.programa, exe);
        WriteFileAtomic(arquivo, c.bytes, 0755);
        const std::string erros = w.dir.File("erros");
        const pid_t pid = ::fork();
        if (pid == 0) {
            // No display at all: the answer needs none.
            ::unsetenv("QT_QPA_PLATFORM");
            ::unsetenv("DISPLAY");
            ::unsetenv("WAYLAND_DISPLAY");
            const int fd = ::open(erros.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
            ::dup2(fd, 2);
            ::execl(exe.c_str(), exe.c_str(), "--verificar-atualizacao", arquivo.c_str(),
                    static_cast<char*>(nullptr));
            ::_exit(127);
        }
        int status = -1;
        ::waitpid(pid, &status, 0);
        ASSERT_TRUE(WIFEXITED(status)) << c.what << ": " << status;
        EXPECT_EQ(WEXITSTATUS(status), c.status) << c.what;
        EXPECT_EQ(ReadWholeFile(erros),
                  c.motivo.empty()
                      ? ""
                      : "O arquivo " + arquivo + " não pode ser instalado: " + c.motivo + ".\n")
            << c.what;
    }
}

}  // namespace
}  // namespace quelvo
