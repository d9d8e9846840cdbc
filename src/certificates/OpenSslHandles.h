#pragma once

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <memory>
#include <string>

namespace quelvo {

// One owner for each OpenSSL handle the program keeps.
template <typename T, void (*Free)(T*)>
struct OpenSslDeleter {
    void operator()(T* p) const { Free(p); }
};

using X509Ptr = std::unique_ptr<X509, OpenSslDeleter<X509, X509_free>>;
using EvpPkeyPtr = std::unique_ptr<EVP_PKEY, OpenSslDeleter<EVP_PKEY, EVP_PKEY_free>>;
using Pkcs12Ptr = std::unique_ptr<PKCS12, OpenSslDeleter<PKCS12, PKCS12_free>>;
using BioPtr = std::unique_ptr<BIO, OpenSslDeleter<BIO, BIO_free_all>>;
using EvpMdCtxPtr = std::unique_ptr<EVP_MD_CTX, OpenSslDeleter<EVP_MD_CTX, EVP_MD_CTX_free>>;
using GeneralNamesPtr =
    std::unique_ptr<GENERAL_NAMES, OpenSslDeleter<GENERAL_NAMES, GENERAL_NAMES_free>>;

inline void FreeX509Stack(STACK_OF(X509) * s) {
    sk_X509_pop_free(s, X509_free);
}
using X509StackPtr = std::unique_ptr<STACK_OF(X509), OpenSslDeleter<STACK_OF(X509), FreeX509Stack>>;

// The text of OpenSSL's most recent error on this thread (and clears the queue); "" when none.
std::string LastOpenSslError();

// Loads the "legacy" provider beside the default one, once per process, so that PKCS#12 files
// made with older algorithms (RC2-40, 3DES) open. Safe to call from any thread.
void EnableLegacyAlgorithms();

}  // namespace quelvo
