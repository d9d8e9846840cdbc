#pragma once

#include <memory>
#include <string>

#include "certificates/TCertificate.h"

namespace quelvo {

// What an HTTPS client presents for a company: the certificate, its chain and the private key.
// The key is opened from the store's PKCS#12 file with the company's password and held in memory
// only; or it stays on its token, and the key object only asks the token for signatures (it keeps
// the token's session and the engine that reaches it for as long as it lives).
class TClientCredentials {
public:
    TClientCredentials(TCertificate certificate, EvpPkeyPtr key);
    // A key on a token, or in Windows' key store. `pkcs1Only`: the key makes PKCS#1 v1.5
    // signatures only (no RSA-PSS, which TLS 1.3 requires), so TLS keeps to 1.2 with it.
    TClientCredentials(TCertificate certificate, std::shared_ptr<EVP_PKEY> tokenKey,
                       bool pkcs1Only = false);

    const TCertificate& Certificate() const { return certificate_; }
    EVP_PKEY* Key() const { return key_.get(); }
    // Whether the key is on a token (and so cannot be written out).
    bool OnToken() const { return onToken_; }
    // Whether the key signs with PKCS#1 v1.5 only.
    bool Pkcs1Only() const { return pkcs1Only_; }

    // Presents these credentials on every connection of a TLS context: the certificate, its chain
    // and the key; with a PKCS#1-only key, TLS 1.2 at most and RSA PKCS#1 signatures. False when
    // OpenSSL refuses them (its error queue says why).
    bool UseIn(SSL_CTX* ctx) const;

    // The certificate followed by its chain, PEM.
    std::string CertificatePem() const { return certificate_.ToPem(); }
    // The private key, unencrypted PKCS#8 PEM (for the TLS library, never for a file); "" for a
    // key on a token.
    std::string KeyPem() const;

private:
    TCertificate certificate_;
    std::shared_ptr<EVP_PKEY> key_;
    bool onToken_ = false;
    bool pkcs1Only_ = false;
};

}  // namespace quelvo
