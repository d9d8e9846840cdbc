#pragma once

#include <functional>
#include <string>

namespace quelvo {

// What the provider of a key on a token or smart card made of a PIN.
enum class TRespostaDoPin {
    Aceito,
    Recusado,   // a wrong PIN: the token counts it
    Bloqueado,  // the token's PIN is locked
};

// The rules for handing a company's password, as its PIN, to a certificate's key on a token or
// smart card that Windows reaches (the same as for the tokens the program reaches itself): a
// token locks itself after a few wrong PINs, so a PIN is presented once at most per call, a PIN
// the key refused is kept (a salted, slow digest of it, never the PIN) and not presented again,
// also after a restart, until the user types it again when registering the company. One
// presentation at a time in the process.
class TPinDaChave {
public:
    // `certificado`: the certificate's serial number; `dispositivo`: what holds the key (its
    // provider's name). Refusals are kept per both, in `arquivoRecusas` ("" keeps them in memory,
    // for this run only).
    TPinDaChave(std::string certificado, std::string dispositivo, std::string arquivoRecusas);

    // Presents the PIN through `apresentar`, which hands it to the key and says what the key made
    // of it (and raises for any other failure). `digitado`: the user has just typed the PIN, so a
    // refusal kept for it is forgotten first. Raises ECertificateError naming the certificate
    // (never the PIN) when the PIN was refused before, is refused now, or the token is locked.
    void Apresentar(const std::string& pin, bool digitado,
                    const std::function<TRespostaDoPin()>& apresentar) const;

    // The message for a key that needs a PIN when the company's password is empty.
    static std::string SemSenha(const std::string& certificado);
    // The message for a locked PIN.
    static std::string PinBloqueado(const std::string& certificado);

private:
    std::string certificado_;
    std::string dispositivo_;
    std::string arquivoRecusas_;
};

}  // namespace quelvo
