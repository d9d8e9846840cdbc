#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <string>

#include "TSiteStandIn.h"
#include "certificates/TCertificate.h"
#include "common/TFolderLock.h"
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

// Runs quelvo-monitor with the arguments (already quoted for the shell); standard error joins
// standard output.
Result Monitor(const std::string& args) {
    const std::string cmd = std::string("'") + QUELVO_MONITOR + "' " + args + " 2>&1";
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
    EXPECT_EQ(Monitor("--versao").out, std::string(QUELVO_VERSION) + "\n");
    const auto help = Monitor("--ajuda");
    EXPECT_EQ(help.code, 0);
    EXPECT_NE(help.out.find("Uso: quelvo-monitor"), std::string::npos);
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

TEST(MonitorCli, ImportAndListCertificates) {
    const auto& pki = SharedPki();
    test::SoftHsm hsm;
    TempDir dir;
    const auto a = pki.IssueECnpj("EMPRESA A", "11222333000181");
    const auto b = pki.IssueECnpj("EMPRESA B", "45997418000153", -400, -10);
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
    EXPECT_NE(r.out.find(SerialNumberOf(b.cert.get()) + "\tEMPRESA B:45997418000153\t"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find(SerialNumberOf(t.cert.get()) + "\tEMPRESA T:60746948000112\t" +
                         FormatShortDate(TCertificate(X509Ptr(X509_dup(t.cert.get()))).NotAfter()) +
                         "\ttoken Token CLI\n"),
              std::string::npos)
        << r.out;
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
