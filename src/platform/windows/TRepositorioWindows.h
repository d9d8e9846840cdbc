#pragma once

#include <string>
#include <vector>

#include "certificates/TCertificate.h"
#include "certificates/TClientCredentials.h"

namespace quelvo {

// The certificates of the current user's personal store of Windows ("MY", "Pessoal"), where the
// user imports a company's PFX file and where a token's or smart card's driver shows its
// certificates. The keys stay where Windows keeps them: the program only asks them for
// signatures. Nothing is kept between calls: each one looks at the store as it is then.
class TRepositorioWindows {
public:
    // `arquivoRecusas`: the file that keeps the PINs a hardware key refused ("" for none).
    explicit TRepositorioWindows(std::string arquivoRecusas = "");

    // The certificates of the current user's personal store ("MY") that have a private key, in
    // the store's order, each with its chain (the intermediates the system's chain engine finds,
    // CertGetCertificateChain, without the root). Raises ECertificateError when the store cannot
    // be opened.
    std::vector<TCertificate> List() const;

    // Opens the private key of a certificate of List() (found again by its serial, the text
    // TCertificate::SerialNumber writes) for TLS: the key stays where it is and signs through
    // CryptoAPI or CNG; TLS keeps to 1.2 with it (PKCS#1 v1.5 signatures only). `senha`, when not
    // empty, is handed to a key on a token or smart card as its PIN, with the rules of
    // TPinDaChave (`digitado`: the user has just typed it); a key in the computer needs none and
    // ignores it. One signature is made and checked against the certificate before the
    // credentials are returned. Raises ECertificateError naming the certificate (never the
    // password).
    TClientCredentials LoadCredentials(const TCertificate& certificate, const std::string& senha,
                                       bool digitado = false) const;

private:
    std::string arquivoRecusas_;
};

}  // namespace quelvo
