#include "site/TUsuarioLogin.h"

#include <gtest/gtest.h>

#include "TSiteStandIn.h"
#include "site/TProxySettings.h"
#include "support/TempDir.h"
#include "support/TinyProxy.h"

namespace quelvo {
namespace {

using standin::Response;
using standin::TSiteStandIn;
using Outcome = TLoginResult::Outcome;

TServidores SiteAt(const std::string& hostPort) {
    TServidores s;
    s.Site = hostPort;
    s.SiteChaves = hostPort;
    return s;
}

TEST(Login, AnswersOfTheSite) {
    TSiteStandIn site;
    site.AddUser("ana@empresa.com", "p&ss=1", "42");
    TUsuarioLogin login(TTravonHttpProxy{}, SiteAt(site.HostPort()));

    // A password with "&" goes unencoded in the query.
    auto r = login.Login("ana@empresa.com", "p&ss=1");
    EXPECT_EQ(r.outcome, Outcome::LoggedIn);
    EXPECT_EQ(r.checkAtivado, true);
    EXPECT_EQ(r.editsEnabled, false);
    EXPECT_FALSE(r.info.has_value());
    EXPECT_EQ(r.usuario, "ana@empresa.com");
    EXPECT_EQ(site.Requests().back().target,
              "/usuario/comandos.aspx?t=login&usuario=ana@empresa.com&senha=p&ss=1");
    EXPECT_EQ(login.Login("ana@empresa.com", "p&ss=1", true).info, "Logado com sucesso.");

    struct Refusal {
        const char* body;
    };
    for (const char* body : {"Usuário bloqueado.", "OK\r\n", "ok", ""}) {
        site.Script("/usuario/comandos.aspx?t=login&usuario=ana@empresa.com&senha=p&ss=1",
                    Response{200, "", {{"Content-Type", "text/html; charset=utf-8"}}, body});
        r = login.Login("ana@empresa.com", "p&ss=1");
        EXPECT_EQ(r.outcome, Outcome::Refused) << body;
        EXPECT_EQ(r.checkAtivado, false);
        EXPECT_EQ(r.editsEnabled, true);
        EXPECT_EQ(r.info, body);
        EXPECT_EQ(r.usuario, "");
        EXPECT_FALSE(login.Login("ana@empresa.com", "p&ss=1", false, false).info.has_value());
    }
}

TEST(Login, EmptyEditsSendNothing) {
    TSiteStandIn site;
    TUsuarioLogin login(TTravonHttpProxy{}, SiteAt(site.HostPort()));
    for (const auto& [u, p] : {std::pair{"", "x"}, std::pair{"x", ""}, std::pair{"", ""}}) {
        const auto r = login.Login(u, p);
        EXPECT_EQ(r.outcome, Outcome::Nothing);
        EXPECT_FALSE(r.checkAtivado.has_value());
        EXPECT_FALSE(r.info.has_value());
        EXPECT_FALSE(r.usuario.has_value());
    }
    EXPECT_TRUE(site.Requests().empty());
}

TEST(Login, FailuresNeverShowTheCredentials) {
    const test::ClosedPort closed;
    const std::string host = "127.0.0.1:" + std::to_string(closed.Port());
    TUsuarioLogin login(TTravonHttpProxy{}, SiteAt(host));
    auto r = login.Login("ana", "segredo-muito-secreto");
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_FALSE(r.checkAtivado.has_value());
    EXPECT_FALSE(r.usuario.has_value());  // both unchanged
    ASSERT_TRUE(r.info.has_value());
    const std::string& text = *r.info;
    EXPECT_EQ(text.rfind("Erro:", 0), 0u) << text;
    EXPECT_EQ(text.find("segredo"), std::string::npos) << text;
    EXPECT_EQ(text.find("usuario=ana"), std::string::npos) << text;
    const std::string hint =
        "/usuario/comandos.aspx?t=login\r\n\r\nVerifique no seu navegador se "
        "você tem acesso ao site http://" +
        host + "/usuario";
    ASSERT_GE(text.size(), hint.size());
    EXPECT_EQ(text.substr(text.size() - hint.size()), hint);

    // Table of the failure texts.
    EXPECT_EQ(login.FailureText("Erro HTTP não previsto. Response:0\r\nURL: http://h/"),
              "Não foi possivél conectar-se ao servidor, favor verificar sua conexão com a "
              "internet ou suas configurações proxy caso você use.");
    EXPECT_EQ(login.FailureText("x Response:407\r\nURL: http://h/"),
              "Erro ao autenticar o usuário e senha das suas configurações proxy.");
    EXPECT_EQ(login.FailureText("Erro HTTP não previsto. Response:500\r\nURL: http://" + host +
                                "/usuario/comandos.aspx?t=login&usuario=a&senha=b"),
              "Erro:Erro HTTP não previsto. Response:500\r\nURL: http://" + host +
                  "/usuario/comandos.aspx?t=login\r\n\r\nVerifique no seu navegador se você "
                  "tem acesso ao site http://" +
                  host + "/usuario");
}

TEST(Login, ProxyRefusal) {
    TSiteStandIn site;
    site.AddUser("ana", "1", "42");
    test::TinyProxy proxy("quelvo", "certa");
    TUsuarioLogin semCredenciais(TTravonHttpProxy{"127.0.0.1", proxy.Port(), "", ""},
                                 SiteAt(site.HostPort()));
    auto r = semCredenciais.Login("ana", "1");
    EXPECT_EQ(r.outcome, Outcome::Failed);
    EXPECT_EQ(r.info, "Erro ao autenticar o usuário e senha das suas configurações proxy.");
    TUsuarioLogin login(TTravonHttpProxy{"127.0.0.1", proxy.Port(), "quelvo", "certa"},
                        SiteAt(site.HostPort()));
    EXPECT_EQ(login.Login("ana", "1").outcome, Outcome::LoggedIn);
    EXPECT_NE(proxy.Log().find("/usuario/comandos.aspx"), std::string::npos);
}

TEST(ProxySettings, CancelAndSave) {
    test::TempDir dir;
    TProfileFile ini(dir.File("Config.dat"));
    Guarded<TTravonHttpProxy> shared;
    auto fields = TProxySettings::Cancelar(ini, shared);  // nothing stored
    EXPECT_EQ(fields.Servidor, "");
    EXPECT_EQ(shared.Get(), TTravonHttpProxy{});

    fields = {"proxy.lan", "31 2a8", "joao", "s&nha"};
    std::vector<std::string> asked;
    const auto no = [&](const std::string& q) {
        asked.push_back(q);
        return false;
    };
    EXPECT_FALSE(TProxySettings::Salvar(fields, ini, shared, no));
    EXPECT_EQ(fields.Porta, "3128");  // the digits stay even when declined
    EXPECT_EQ(asked, std::vector<std::string>{"Deseja realmente salvar as configurações proxy ?"});
    EXPECT_EQ(dir.Read("Config.dat"), "");

    EXPECT_TRUE(
        TProxySettings::Salvar(fields, ini, shared, [](const std::string&) { return true; }));
    EXPECT_EQ(dir.Read("Config.dat"),
              "[Proxy]\r\nServidor=proxy.lan\r\nPorta=3128\r\nUsuario=joao\r\nSenha=s&nha\r\n");
    EXPECT_EQ(shared.Get(), (TTravonHttpProxy{"proxy.lan", 3128, "joao", "s&nha"}));

    // "Cancelar" after editing: back to what is stored.
    fields.Servidor = "outro";
    fields = TProxySettings::Cancelar(ini, shared);
    EXPECT_EQ(fields.Servidor, "proxy.lan");

    // A port that is not a number reads as 0 (proxy off).
    ini.WriteString("Proxy", "Porta", "x1");
    TProxySettings::Cancelar(ini, shared);
    EXPECT_EQ(shared.Get().Port, 0);
    EXPECT_FALSE(shared.Get().InUse());
}

}  // namespace
}  // namespace quelvo
