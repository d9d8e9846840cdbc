#include "certificates/TClientCredentials.h"

#include <openssl/pem.h>

namespace quelvo {

TClientCredentials::TClientCredentials(TCertificate certificate, EvpPkeyPtr key)
    : certificate_(std::move(certificate)), key_(key.release(), EVP_PKEY_free) {}

TClientCredentials::TClientCredentials(TCertificate certificate, std::shared_ptr<EVP_PKEY> tokenKey)
    : certificate_(std::move(certificate)), key_(std::move(tokenKey)), onToken_(true) {}

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
