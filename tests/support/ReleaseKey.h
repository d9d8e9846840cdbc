#pragma once

#include <openssl/evp.h>
#include <openssl/pem.h>

#include <stdexcept>
#include <string>
#include <string_view>

#include "certificates/OpenSslHandles.h"
#include "monitor/TReleaseSignature.h"

namespace quelvo::test {

// A release key pair made on the spot (Ed25519), standing in for the one our releases are signed
// with.
class ReleaseKey {
public:
    ReleaseKey() : chave_(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519")) {
        if (!chave_) {
            throw std::runtime_error("EVP_PKEY_Q_keygen(ED25519) falhou");
        }
    }

    // The private key (PEM) in the file.
    explicit ReleaseKey(const std::string& arquivoPrivado) : chave_(nullptr) {
        BioPtr bio(BIO_new_file(arquivoPrivado.c_str(), "r"));
        chave_.reset(bio ? PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr) : nullptr);
        if (!chave_) {
            throw std::runtime_error("chave de teste ilegível: " + arquivoPrivado);
        }
    }

    // The key of this build tree's test programs (the desktop program and the stand-ins of our
    // releases built for the tests trust it): what our releases are signed with, for the tests.
    static const ReleaseKey& DosProgramasDeTeste() {
        static const ReleaseKey chave(QUELVO_TEST_RELEASE_KEY);
        return chave;
    }

    // The public half in PEM form, as the build compiles it in.
    std::string PublicPem() const { return PublicPemOf(chave_.get()); }
    // Any key's public half in PEM form.
    static std::string PublicPemOf(EVP_PKEY* chave) {
        return Pem([&](BIO* b) { return PEM_write_bio_PUBKEY(b, chave); });
    }
    // The private half in PEM form (unencrypted), as tools/sign.sh reads it.
    std::string PrivatePem() const {
        return Pem([&](BIO* b) {
            return PEM_write_bio_PrivateKey(b, chave_.get(), nullptr, nullptr, 0, nullptr, nullptr);
        });
    }
    // `imagem` with this key's signature block.
    std::string Sign(std::string_view imagem) const {
        return TReleaseSignature::Assinar(imagem, chave_.get());
    }

private:
    template <typename Write>
    static std::string Pem(Write write) {
        BioPtr bio(BIO_new(BIO_s_mem()));
        if (!bio || write(bio.get()) != 1) {
            throw std::runtime_error("PEM da chave de teste falhou");
        }
        char* dados = nullptr;
        const long n = BIO_get_mem_data(bio.get(), &dados);
        return std::string(dados, static_cast<size_t>(n));
    }

    EvpPkeyPtr chave_;
};

}  // namespace quelvo::test
