#include "certificates/TClientCredentials.h"

#include <openssl/pem.h>
#include <openssl/ssl.h>

namespace quelvo {

TClientCredentials::TClientCredentials(TCertificate certificate, EvpPkeyPtr key)
    : certificate_(std::move(certificate)), key_(key.release(), EVP_PKEY_free) {}

TClientCredentials::TClientCredentials(TCertificate certificate, std::shared_ptr<EVP_PKEY> tokenKey,
                                       bool pkcs1Only)
    : certificate_(std::move(certificate)),
      key_(std::move(tokenKey)),
      onToken_(true),
      pkcs1Only_(pkcs1Only) {}

bool TClientCredentials::UseIn(SSL_CTX* ctx) const {
    bool ok = SSL_CTX_use_certificate(ctx, certificate_.Get()) == 1;
    for (const auto& c : certificate_.Chain()) {
        ok = ok && SSL_CTX_add1_chain_cert(ctx, c.get()) == 1;
    }
    ok = ok && SSL_CTX_use_PrivateKey(ctx, key_.get()) == 1;
    if (ok && pkcs1Only_) {
        // TLS 1.3 signs with RSA-PSS alone; 1.2 lets the client sign with PKCS#1 v1.5.
        ok = SSL_CTX_set_max_proto_version(ctx, TLS1_2_VERSION) == 1 &&
             SSL_CTX_set1_client_sigalgs_list(ctx, "RSA+SHA256:RSA+SHA384:RSA+SHA512") == 1;
    }
    return ok;
}

std::string TClientCredentials::KeyPem() const {
    if (OnToken()) {
        return {};
    }
    BioPtr bio(BIO_new(BIO_s_secmem()));
    if (!bio) {
        bio.reset(BIO_new(BIO_s_mem()));
    }
    PEM_write_bio_PrivateKey(bio.get(), key_.get(), nullptr, nullptr, 0, nullptr, nullptr);
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return std::string(data, static_cast<size_t>(len));
}

}  // namespace quelvo
