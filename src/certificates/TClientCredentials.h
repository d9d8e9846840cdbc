#pragma once

#include <string>

#include "certificates/TCertificate.h"

namespace quelvo {

// What an HTTPS client presents for a company: the certificate, its chain and the private key,
// opened from the store's PKCS#12 file with the company's password. Held in memory only.
class TClientCredentials {
public:
    TClientCredentials(TCertificate certificate, EvpPkeyPtr key);

    const TCertificate& Certificate() const { return certificate_; }
    EVP_PKEY* Key() const { return key_.get(); }

    // The certificate followed by its chain, PEM.
    std::string CertificatePem() const { return certificate_.ToPem(); }
    // The private key, unencrypted PKCS#8 PEM (for the TLS library, never for a file).
    std::string KeyPem() const;

private:
    TCertificate certificate_;
    EvpPkeyPtr key_;
};

}  // namespace quelvo
