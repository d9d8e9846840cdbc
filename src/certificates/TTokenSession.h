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

// A session with one token, closed with the object. The module stays loaded while it lives.
//
// Logging in hands the company's password to the token as its PIN, and a token locks itself after
// a few wrong PINs; so a login is one attempt at most, and a PIN the token refused is not presented
// to it again while the program runs. The login belongs to the whole process: a token already
// logged in (by another company's or thread's session) accepts only the PIN that logged it in.
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
    // refuses the PIN, when it is locked, when the PIN is empty, and when the token fails.
    void Login(const std::string& pin);

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
