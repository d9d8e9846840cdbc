#pragma once

#include <optional>
#include <string>

#include "common/TServidores.h"
#include "site/TTravonHttpProxy.h"

namespace quelvo {

// What the login dialog and the main window must do after a login.
struct TLoginResult {
    enum class Outcome {
        Nothing,   // an edit was empty: no request, nothing changes
        LoggedIn,  // the site answered "OK"
        Refused,   // any other answer
        Failed,    // the request failed: nothing changes
    };
    Outcome outcome = Outcome::Nothing;
    // "Ativado" checked (true) or unchecked (false); nothing when it stays as it is.
    std::optional<bool> checkAtivado;
    // Whether the user and password edits (and "Confirma") are enabled; nothing: unchanged.
    std::optional<bool> editsEnabled;
    // The text of the information box to show, if any.
    std::optional<std::string> info;
    // The site user the program works for from now on ("" after a refusal); nothing when it
    // stays as it was.
    std::optional<std::string> usuario;
};

// The site login: checks a user name and password against the site's login command, through the
// proxy, and says what the program must do with the answer (the monitoring switched on or off,
// the site user). The failure texts never show the user name or the password.
class TUsuarioLogin {
public:
    TUsuarioLogin(TTravonHttpProxy proxy, TServidores servidores)
        : proxy_(std::move(proxy)), servidores_(std::move(servidores)) {}

    TLoginResult Login(const std::string& usuario, const std::string& senha,
                       bool announceSuccess = false, bool reportRefusal = true);

    // The address of the login command (holds the credentials: never shown or logged).
    std::string LoginUrl(const std::string& usuario, const std::string& senha) const;
    // The user's invoice page on the site, opened in the browser by "Ver as Notas" (holds the
    // credentials as typed, unescaped).
    std::string VerNotasUrl(const std::string& usuario, const std::string& senha) const;
    // The site's user registration page.
    std::string CadastroUrl() const;
    // The text shown for a failed request, from the failure's message.
    std::string FailureText(std::string message) const;

private:
    TTravonHttpProxy proxy_;
    TServidores servidores_;
};

}  // namespace quelvo
