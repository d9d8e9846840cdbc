#pragma once

#include <string>
#include <vector>

#include "certificates/TCertificate.h"
#include "certificates/TClientCredentials.h"

namespace quelvo {

// The certificates on the tokens and smart cards that a PKCS#11 module reaches (by default
// p11-kit's proxy module, and so every module registered on this system). Nothing is kept between
// calls: each one looks at the tokens present at that moment.
class TTokenStore {
public:
    // `arquivoRecusas`: the file that keeps the PINs tokens refused ("" for none).
    explicit TTokenStore(std::string modulePath, std::string arquivoRecusas = "");

    const std::string& ModulePath() const { return modulePath_; }

    // The certificates of persons and companies on every token present, each with its token and
    // with its chain taken from the authorities' certificates on the same token. Raises
    // ECertificateError when the module cannot be used; a token that cannot be read adds nothing.
    std::vector<TCertificate> List() const;

    // Opens the key of a certificate of List(): logs in to its token with the PIN (one attempt;
    // see TTokenSession) and loads the key through OpenSSL's PKCS#11 engine. The key never
    // leaves the token. Raises ECertificateError naming the token.
    // `digitado`: the user has just typed the PIN (see TLoginDoToken).
    TClientCredentials LoadCredentials(const TCertificate& certificate, const std::string& pin,
                                       bool digitado = false) const;

private:
    std::string modulePath_;
    std::string arquivoRecusas_;
};

// The PKCS#11 URI of the private key beside a certificate on a token.
std::string PrivateKeyUri(const TTokenLocation& location);

}  // namespace quelvo
