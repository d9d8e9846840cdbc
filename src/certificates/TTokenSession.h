#pragma once

#include <memory>
#include <string>
#include <vector>

#include "certificates/OpenSslHandles.h"
#include "certificates/TPkcs11Module.h"

namespace quelvo {

// An X.509 certificate object of a token.
struct TTokenCertificateObject {
    X509Ptr cert;
    std::string id;  // the id's bytes, shared by the certificate's key
    std::string label;
};

// What a login needs besides the PIN.
struct TLoginDoToken {
    // The serial of the certificate whose key is wanted: refusals are kept per token and
    // certificate.
    std::string certificado;
    // The store's file of refused PINs ("" keeps them in memory, for this run only).
    std::string arquivoRecusas;
    // The user has just typed the PIN (a registration): a refusal kept for it is forgotten, and
    // a token that has already seen a wrong PIN is still tried, once.
    bool digitado = false;
};

// A session with one token, closed with the object. The module stays loaded while it lives.
//
// Logging in hands the company's password to the token as its PIN, and a token locks itself after
// a few wrong PINs; so a login is one attempt at most, a PIN the token refused is not presented to
// it again (also after a restart: the refusal is kept on disk), and a token that says it has seen
// a wrong PIN (or has one try left) is never logged into without the user. The login belongs to
// the whole process: a token already logged in (by another company's or thread's session) accepts
// only the PIN that logged it in.
class TTokenSession {
public:
    // Raises ECertificateError naming the token when no session can be opened.
    TTokenSession(std::shared_ptr<TPkcs11Module> module, TTokenInfo token);
    TTokenSession(const TTokenSession&) = delete;
    TTokenSession& operator=(const TTokenSession&) = delete;
    ~TTokenSession();

    const TTokenInfo& Token() const { return token_; }

    // Every X.509 certificate on the token that can be read without logging in.
    std::vector<TTokenCertificateObject> Certificates() const;

    // Logs in with the PIN. Raises ECertificateError naming the token (never the PIN) when it
    // refuses the PIN, when it is locked or close to locking itself, when the PIN is empty, when
    // the PIN was refused before, and when the token fails.
    void Login(const std::string& pin, const TLoginDoToken& contexto = {});

    // How many PINs this process has presented to tokens so far.
    static long LoginAttempts();

private:
    std::shared_ptr<TPkcs11Module> module_;
    TTokenInfo token_;
    CK_SESSION_HANDLE session_ = CK_INVALID_HANDLE;
};

// The token's name in messages: its label, else its model and serial number.
std::string TokenName(const TTokenInfo& token);

}  // namespace quelvo
