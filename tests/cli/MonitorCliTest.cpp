#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "TSiteStandIn.h"
#include "certificates/TCertificate.h"
#include "common/TFolderLock.h"
#include "dfe/TTrustAnchors.h"
#include "support/SharedPki.h"
#include "support/SoftHsm.h"
#include "support/TempDir.h"

namespace quelvo {
namespace {

using test::SharedPki;
using test::TempDir;

struct Result {
    int code;
    std::string out;
};

// Runs quelvo-monitor with the arguments (already quoted for the shell), in Brazil's time zone so
// that the dates it shows are known whatever the machine's zone; standard error joins standard
// output. `input` (shell-quoted) is fed to its standard input as one line; without it the standard
// input is empty.
Result Monitor(const std::string& args, const std::string& input = "") {
    const std::string feed = input.empty() ? "" : "printf '%s\\n' " + input + " | ";
    const std::string cmd = feed + "TZ=America/Sao_Paulo '" + QUELVO_MONITOR + "' " + args +
                            (input.empty() ? " </dev/null" : "") + " 2>&1";
    FILE* pipe = ::popen(cmd.c_str(), "r");
    std::string out;
    std::array<char, 4096> buf;
    size_t n = 0;
    while ((n = std::fread(buf.data(), 1, buf.size(), pipe)) > 0) {
        out.append(buf.data(), n);
    }
    const int status = ::pclose(pipe);
    return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, out};
}

std::string LastLine(const std::string& text) {
    std::string t = text;
    while (!t.empty() && t.back() == '\n') {
        t.pop_back();
    }
    return t.substr(t.rfind('\n') + 1);
}

TEST(MonitorCli, UsageAndVersion) {
    for (const char* version : {"--versao", "--version"}) {
        EXPECT_EQ(Monitor(version).out, std::string(QUELVO_VERSION) + "\n") << version;
    }
    for (const char* ajuda : {"--ajuda", "--help", "-h"}) {
        const auto help = Monitor(ajuda);
        EXPECT_EQ(help.code, 0) << ajuda;
        EXPECT_EQ(help.out.rfind("Uso: quelvo-monitor", 0), 0u) << ajuda;
        // The password form shown is the one that keeps it off the command line.
        EXPECT_NE(help.out.find("--login USUARIO -\n"), std::string::npos) << help.out;
        EXPECT_NE(help.out.find("--senha -\n"), std::string::npos) << help.out;
        EXPECT_NE(help.out.find("--cadastrar CNPJ UF SERIE - [--sim]"), std::string::npos);
    }
    // No command runs a cycle; with no stored user the login fails.
    TempDir dir;
    const auto bare = Monitor("--pasta '" + dir.path().string() + "'");
    EXPECT_EQ(bare.code, 3) << bare.out;
    for (const char* bad :
         {"--desconhecido", "--pasta", "--importar-certificado x", "--certificados --senha x",
          "--certificados --certificados", "--ciclo --sim", "--cadastrar 1 SP 2"}) {
        const auto r = Monitor(bad);
        EXPECT_EQ(r.code, 2) << bad;
        EXPECT_NE(r.out.find("Uso: quelvo-monitor"), std::string::npos) << bad;
    }
}

TEST(MonitorCli, ReadingCommandsRefuseAMissingFolder) {
    TempDir dir;
    const std::string missing = dir.File("nao-existe");
    for (const char* command :
         {"--ciclo", "--continuo", "--empresas", "--certificados", "--cadeias", ""}) {
        const auto r = Monitor("--pasta '" + missing + "' " + command);
        EXPECT_EQ(r.code, 2) << command;
        EXPECT_EQ(r.out, "A pasta " + missing + " não existe.\n") << command;
        EXPECT_FALSE(std::filesystem::exists(missing)) << command;
    }
    // A file is no folder either.
    const std::string file = dir.Write("arquivo", "x");
    EXPECT_EQ(Monitor("--pasta '" + file + "' --empresas").code, 2);
    // Commands that store something make their folder.
    const auto r = Monitor("--pasta '" + missing + "' --importar-certificado '" +
                               dir.Write("x.pfx", "nada") + "' --senha -",
                           "x");
    EXPECT_EQ(r.code, 1) << r.out;
    EXPECT_TRUE(std::filesystem::is_directory(missing));
}

TEST(MonitorCli, PasswordsFromStandardInput) {
    const auto& pki = SharedPki();
    TempDir dir;
    const auto a = pki.IssueECnpj("EMPRESA A", "11222333000181");
    const std::string fa = dir.Write("a.pfx", pki.Pkcs12(a, "um dois", false));
    const std::string app = "--pasta '" + dir.File("app") + "' ";
    // "-" reads the password, one line, from standard input.
    auto r = Monitor(app + "--importar-certificado '" + fa + "' --senha -", "'um dois'");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(LastLine(r.out), SerialNumberOf(a.cert.get()));
    // The old form still works.
    r = Monitor(app + "--importar-certificado '" + fa + "' --senha 'um dois'");
    EXPECT_EQ(r.code, 0) << r.out;
    // Nothing to read: a usage error, in one line.
    r = Monitor(app + "--importar-certificado '" + fa + "' --senha -");
    EXPECT_EQ(r.code, 2);
    EXPECT_EQ(r.out, "Nenhuma senha foi lida da entrada padrão.\n");

    standin::TSiteStandIn site;
    site.AddUser("ana", "s&nha-x", "42");
    dir.Write("app/Servidores.ini", "[Servidores]\r\nSite=" + site.HostPort() + "\r\n");
    r = Monitor(app + "--login ana -", "'s&nha-x'");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(dir.Read("app/Config.dat"), "[Config]\r\nUsuario=ana\r\nSenha=s&nha-x\r\n");
    // A line ended by CR LF gives the password without its CR.
    r = Monitor(app + "--login ana -", "'s&nha-x\r'");
    EXPECT_EQ(r.code, 0) << r.out;
}

TEST(MonitorCli, APasswordTypedAtATerminalIsNotEchoed) {
    standin::TSiteStandIn site;
    site.AddUser("ana", "segredo-tty", "42");
    TempDir dir;
    dir.Write("Servidores.ini", "[Servidores]\r\nSite=" + site.HostPort() + "\r\n");
    int master = -1;
    const pid_t pid = ::forkpty(&master, nullptr, nullptr, nullptr);
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        ::execl(QUELVO_MONITOR, QUELVO_MONITOR, "--pasta", dir.path().c_str(), "--login", "ana",
                "-", nullptr);
        ::_exit(127);
    }
    // Everything the terminal shows, until the program ends.
    std::string screen;
    const auto readUntil = [&](const std::string& wanted) {
        char buf[256];
        for (int i = 0; i < 100 && screen.find(wanted) == std::string::npos; ++i) {
            pollfd p{master, POLLIN, 0};
            if (::poll(&p, 1, 100) > 0) {
                const ssize_t n = ::read(master, buf, sizeof buf);
                if (n <= 0) {
                    break;
                }
                screen.append(buf, static_cast<size_t>(n));
            }
        }
    };
    readUntil("Senha do site: ");
    ASSERT_NE(screen.find("Senha do site: "), std::string::npos) << screen;
    const std::string typed = "segredo-tty\n";
    ASSERT_EQ(::write(master, typed.data(), typed.size()), static_cast<ssize_t>(typed.size()));
    readUntil("\n");
    int status = 0;
    for (int i = 0; i < 100 && ::waitpid(pid, &status, WNOHANG) == 0; ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (::waitpid(pid, &status, WNOHANG) == 0) {
        ::kill(pid, SIGKILL);  // still waiting for its password: a failure, never a hang
        ::waitpid(pid, &status, 0);
    }
    readUntil("\x04");  // whatever is left
    ::close(master);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << screen;
    EXPECT_EQ(screen.find("segredo-tty"), std::string::npos) << screen;
    EXPECT_EQ(dir.Read("Config.dat"), "[Config]\r\nUsuario=ana\r\nSenha=segredo-tty\r\n");
}

TEST(MonitorCli, ImportAndListCertificates) {
    const auto& pki = SharedPki();
    test::SoftHsm hsm;
    TempDir dir;
    const auto a = pki.IssueECnpj("EMPRESA A", "11222333000181");
    const auto b = pki.IssueECnpj("EMPRESA B", "45997418000153", testpki::Validity::Expired());
    const std::string fa = dir.Write("a.pfx", pki.Pkcs12(a, "um dois", false));
    const std::string fb = dir.Write("b.p12", pki.Pkcs12(b, "3", true));
    const std::string app = "--pasta '" + dir.File("app") + "' ";

    auto r = Monitor(app + "--importar-certificado '" + fa + "' --senha 'um dois'");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(LastLine(r.out), SerialNumberOf(a.cert.get()));
    r = Monitor(app + "--senha 3 --importar-certificado '" + fb + "'");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(LastLine(r.out), SerialNumberOf(b.cert.get()));

    r = Monitor(app + "--importar-certificado '" + fa + "' --senha errada");
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("A senha informada não abre"), std::string::npos) << r.out;

    // A certificate on a token is listed with its token's name.
    hsm.AddToken("Token CLI", "4321");
    const auto t = pki.IssueECnpj("EMPRESA T", "60746948000112");
    hsm.Import("Token CLI", "4321", t);
    r = Monitor(app + "--certificados");
    EXPECT_EQ(r.code, 0);
    EXPECT_NE(r.out.find(SerialNumberOf(a.cert.get()) + "\tEMPRESA A:11222333000181\t"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(SerialNumberOf(b.cert.get()) + "\tEMPRESA B:45997418000153\t30/06/2025\n"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(SerialNumberOf(t.cert.get()) +
                         "\tEMPRESA T:60746948000112\t31/12/2049\ttoken Token CLI\n"),
              std::string::npos)
        << r.out;
}

TEST(MonitorCli, ListsTheTrustAnchorsOfTheNationalService) {
    TempDir dir;
    const std::string app = dir.path().string() + "/";
    std::filesystem::create_directories(app + "ac-confiaveis");
    X509* testRoot = SharedPki().Root();
    dir.Write("ac-confiaveis/raiz-teste.pem", testpki::CertPem(testRoot));
    std::filesystem::create_symlink("sumiu.crt", app + "ac-confiaveis/quebrado.pem");
    // Listing only reads: it is served while another program holds the folder.
    const auto held = TFolderLock::TryAcquire(app, "quelvo");
    ASSERT_TRUE(held);

    const auto r = Monitor("--pasta '" + app + "' --cadeias");
    EXPECT_EQ(r.code, 0) << r.out;
    const auto& builtIn = TTrustAnchors::BuiltIn();
    ASSERT_EQ(builtIn.size(), 3u);
    // The dates in Brazil's time zone (the built-in roots' ends are at 23:59:38, 12:00:59 and
    // 12:00:24 UTC).
    const std::string expected =
        std::string("Titular\tVencimento\tSHA-256\tOrigem\n") +
        "Autoridade Certificadora Raiz Brasileira v5\t02/03/2029\t"
        "CA:A5:3F:C6:09:1C:69:51:88:7C:97:6E:37:8F:6E:F8:9A:A6:37:7C:55:D9:7B:64:75:42:2B:71:"
        "ED:7E:9B:17\tembutida no aplicativo (ac-raiz-icp-brasil-v5.pem)\n"
        "Autoridade Certificadora Raiz Brasileira v10\t01/07/2032\t"
        "6E:0B:FF:06:9A:26:99:4C:15:DE:2C:48:88:CC:54:AF:84:88:2E:54:95:B7:FB:F6:6B:E9:CC:FF:"
        "EC:74:89:F6\tembutida no aplicativo (ac-raiz-icp-brasil-v10.pem)\n"
        "Autoridade Certificadora Raiz Brasileira v12\t22/10/2037\t"
        "D8:47:8E:37:CE:19:C6:90:CF:65:73:81:E6:8F:E6:00:E4:E1:A0:42:53:68:30:F0:68:47:E0:3E:"
        "55:4C:4B:01\tembutida no aplicativo (ac-raiz-icp-brasil-v12.pem)\n"
        "AC Raiz Teste Quelvo\t31/12/2049\t" +
        Sha256Fingerprint(testRoot) + "\t" + app +
        "ac-confiaveis/raiz-teste.pem\n"
        "Não lido: " +
        app + "ac-confiaveis/quebrado.pem (No such file or directory)\n";
    EXPECT_EQ(r.out, expected);

    // Without the folder, the built-in roots alone.
    std::filesystem::remove_all(app + "ac-confiaveis");
    const auto bare = Monitor("--pasta '" + app + "' --cadeias");
    EXPECT_EQ(bare.code, 0);
    EXPECT_EQ(bare.out, expected.substr(0, expected.find("AC Raiz Teste Quelvo")));
}

TEST(MonitorCli, LoginStoresTheCredentialsAndAsksTheSite) {
    standin::TSiteStandIn site;
    site.AddUser("ana", "s&nha", "42");
    TempDir dir;
    dir.Write("Servidores.ini", "[Servidores]\r\nSite=" + site.HostPort() + "\r\n");
    const std::string app = "--pasta '" + dir.path().string() + "' ";
    auto r = Monitor(app + "--login ana 's&nha'");
    EXPECT_EQ(r.code, 0) << r.out;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(dir.Read("Config.dat"), "[Config]\r\nUsuario=ana\r\nSenha=s&nha\r\n");

    r = Monitor(app + "--login ana errada");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out, "Usuário ou senha inválidos.\n");
    EXPECT_EQ(dir.Read("Config.dat"), "[Config]\r\nUsuario=ana\r\nSenha=errada\r\n");

    site.Server().Stop();
    r = Monitor(app + "--login ana 's&nha'");
    EXPECT_EQ(r.code, 3);
    EXPECT_EQ(r.out.rfind("Erro:", 0), 0u) << r.out;
    EXPECT_EQ(r.out.find("s&nha"), std::string::npos) << r.out;
}

TEST(MonitorCli, AFolderInUseIsLeftAlone) {
    TempDir dir;
    dir.Write("Config.dat", "[Config]\r\nUsuario=ana\r\nSenha=s\r\n");
    dir.Write("Empresas2.dat", "<nao mexer/>");
    const auto held = TFolderLock::TryAcquire(dir.path().string() + "/", "quelvo");
    ASSERT_TRUE(held);
    const auto snapshot = [&] {
        std::string s;
        for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
            s += e.path().filename().string() + "=" + dir.Read(e.path().filename().string()) + ";";
        }
        return s;
    };
    const std::string before = snapshot();
    const std::string app = "--pasta '" + dir.path().string() + "' ";
    for (const char* args : {"--ciclo", "--continuo", "--login ana x", "--empresas",
                             "--cadastrar 11222333000181 SP 0A s --sim", "--certificados"}) {
        const auto r = Monitor(app + args);
        EXPECT_EQ(r.code, 1) << args;
        EXPECT_EQ(r.out, "A pasta " + dir.path().string() + "/ está em uso (quelvo, processo " +
                             std::to_string(::getpid()) + "): nada foi feito.\n")
            << args;
    }
    EXPECT_EQ(snapshot(), before);
    EXPECT_EQ(Monitor("--versao").code, 0);  // touches no folder
}

}  // namespace
}  // namespace quelvo
