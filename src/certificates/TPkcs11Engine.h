#pragma once

#include <openssl/types.h>

#include <map>
#include <memory>
#include <mutex>
#include <string>

#include <openssl/evp.h>

namespace quelvo {

// OpenSSL's PKCS#11 engine ("pkcs11", Debian package libengine-pkcs11-openssl) working on one
// PKCS#11 module: it gives keys that stay on their token as OpenSSL keys, whose signatures the
// token makes. One instance lives while anyone holds it (the engine unloads its module after the
// last); the keys it gave must be freed before it.
class TPkcs11Engine {
public:
    // Raises ECertificateError when the engine is not installed or cannot start, and when it
    // works on another module in this process now.
    static std::shared_ptr<TPkcs11Engine> Acquire(const std::string& modulePath);
    // Whether anyone holds the engine now.
    static bool InUse();

    TPkcs11Engine(const TPkcs11Engine&) = delete;
    TPkcs11Engine& operator=(const TPkcs11Engine&) = delete;
    ~TPkcs11Engine();

    // The private key at a PKCS#11 URI, on a token this process has logged in to already. The
    // engine is never given a PIN, and its questions for one get no answer: it can neither prompt
    // on a terminal nor present a PIN of its own. The key holds the engine while it lives.
    // Raises ECertificateError with the engine's reason.
    static std::shared_ptr<EVP_PKEY> LoadPrivateKey(const std::shared_ptr<TPkcs11Engine>& engine,
                                                    const std::string& uri);

private:
    TPkcs11Engine(ENGINE* engine, std::string modulePath);
    void Release(EVP_PKEY* key);

    ENGINE* engine_;
    UI_METHOD* noPin_;
    std::string modulePath_;
    std::mutex lock_;  // one load or release at a time
    // The keys given and not yet released, with how many times each (the engine gives the same
    // key object again for the same key).
    std::map<EVP_PKEY*, int> keys_;
};

}  // namespace quelvo
