#include "site/TUsuarioLogin.h"

#include <exception>

#include "site/TTravonHttp.h"

namespace quelvo {

std::string TUsuarioLogin::LoginUrl(const std::string& usuario, const std::string& senha) const {
    return "http://" + servidores_.Site + "/usuario/comandos.aspx?t=login&usuario=" + usuario +
           "&" + "senha=" + senha;
}

std::string TUsuarioLogin::VerNotasUrl(const std::string& usuario, const std::string& senha) const {
    return "http://" + servidores_.Site +
           "/usuario/comandos.aspx?t=loginmonitor&usuario=" + usuario + "&" + "senha=" + senha;
}

std::string TUsuarioLogin::CadastroUrl() const {
    return "http://" + servidores_.Site + "/usuario/cadastro.aspx";
}

std::string TUsuarioLogin::FailureText(std::string message) const {
    const std::string marker = "/usuario/comandos.aspx?t=login&";
    if (const size_t at = message.find(marker); at != std::string::npos) {
        // Cut right after "t=login": the user name and password follow in the address.
        message = message.substr(0, at + marker.size() - 1) + "\r\n\r\n" +
                  "Verifique no seu navegador se você tem acesso ao site http://" +
                  servidores_.Site + "/usuario";
    }
    if (message.find(" Response:0") != std::string::npos) {
        return "Não foi possivél conectar-se ao servidor, favor verificar sua conexão com a "
               "internet ou suas configurações proxy caso você use.";
    }
    if (message.find(" Response:407") != std::string::npos) {
        return "Erro ao autenticar o usuário e senha das suas configurações proxy.";
    }
    return "Erro:" + message;
}

TLoginResult TUsuarioLogin::Login(const std::string& usuario, const std::string& senha,
                                  bool announceSuccess, bool reportRefusal) {
    TLoginResult result;
    if (usuario.empty() || senha.empty()) {
        return result;
    }
    std::string answer;
    try {
        TTravonHttp http;
        http.Proxy = proxy_;
        answer = http.GetText(LoginUrl(usuario, senha));
    } catch (const std::exception& e) {
        result.outcome = TLoginResult::Outcome::Failed;
        result.info = FailureText(e.what());
        return result;
    }
    if (answer == "OK") {
        result.outcome = TLoginResult::Outcome::LoggedIn;
        if (announceSuccess) {
            result.info = "Logado com sucesso.";
        }
        result.checkAtivado = true;
        result.editsEnabled = false;
        result.usuario = usuario;
    } else {
        result.outcome = TLoginResult::Outcome::Refused;
        result.checkAtivado = false;
        result.editsEnabled = true;
        result.usuario = "";
        if (reportRefusal) {
            result.info = answer;
        }
    }
    return result;
}

}  // namespace quelvo
