// The desktop program as processes: one copy per folder, a folder held by the headless program,
// and the end of a program whose cycle waits on a stalled server.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "TDfeStandIn.h"
#include "common/TFolderLock.h"
#include "monitor/TConsultasEmpresas.h"
#include "shell/ShellWorld.h"
#include "shell/TInstanciaUnica.h"

namespace quelvo {
namespace {

using test::ShellWorld;
using Script = standin::TDfeStandIn::Script;
using Clock = std::chrono::steady_clock;

// A copy of the program in the world's folder (its folder is its executable's), started there.
class Copia {
public:
    explicit Copia(const ShellWorld& w) {
        const std::string exe = w.dir.File("quelvo");
        if (!std::filesystem::exists(exe)) {
            std::filesystem::copy_file(QUELVO_DESKTOP, exe);
        }
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
    const auto inicio = Clock::now();
    ::kill(copia.Pid(), SIGTERM);
    const auto fim = copia.Fim(std::chrono::seconds(10));
    const auto levou = Clock::now() - inicio;
    ASSERT_TRUE(fim.has_value());
    EXPECT_LT(levou, std::chrono::seconds(2));
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

}  // namespace
}  // namespace quelvo
