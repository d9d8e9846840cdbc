// The engine interface is deprecated in OpenSSL 3, and it is the one the pkcs11 engine offers.
#define OPENSSL_SUPPRESS_DEPRECATED

#include "certificates/TPkcs11Engine.h"

#include <openssl/engine.h>
#include <openssl/err.h>
#include <openssl/ui.h>

#include "certificates/ECertificateError.h"
#include "certificates/OpenSslHandles.h"

namespace quelvo {

namespace {

struct Shared {
    std::mutex lock;
    TPkcs11Engine* engine = nullptr;
    std::string modulePath;
    int holders = 0;
};

Shared& Current() {
    static Shared shared;
    return shared;
}

int AnswerNothing(UI*, UI_STRING*) {
    return 0;
}

}  // namespace

TPkcs11Engine::TPkcs11Engine(ENGINE* engine, std::string modulePath)
    : engine_(engine), noPin_(UI_create_method("Quelvo")), modulePath_(std::move(modulePath)) {
    UI_method_set_reader(noPin_, &AnswerNothing);
}

TPkcs11Engine::~TPkcs11Engine() {
    ENGINE_finish(engine_);
    ENGINE_free(engine_);
    UI_destroy_method(noPin_);
}

std::shared_ptr<TPkcs11Engine> TPkcs11Engine::Acquire(const std::string& modulePath) {
    Shared& shared = Current();
    std::lock_guard<std::mutex> lock(shared.lock);
    if (shared.engine != nullptr && shared.modulePath != modulePath) {
        throw ECertificateError("O engine PKCS#11 do OpenSSL já está em uso com o módulo \"" +
                                shared.modulePath + "\".");
    }
    if (shared.engine == nullptr) {
        ENGINE* engine = ENGINE_by_id("pkcs11");
        if (engine == nullptr) {
            LastOpenSslError();
            throw ECertificateError(
                "O engine PKCS#11 do OpenSSL, que usa as chaves dos tokens e cartões, não está "
                "instalado nesse computador (pacote libengine-pkcs11-openssl).");
        }
        if (!ENGINE_ctrl_cmd_string(engine, "MODULE_PATH", modulePath.c_str(), 0) ||
            !ENGINE_init(engine)) {
            const std::string why = LastOpenSslError();
            ENGINE_free(engine);
            throw ECertificateError("Não foi possível iniciar o engine PKCS#11 do OpenSSL: " + why);
        }
        shared.engine = new TPkcs11Engine(engine, modulePath);
        shared.modulePath = modulePath;
    }
    ++shared.holders;
    return std::shared_ptr<TPkcs11Engine>(shared.engine, [](TPkcs11Engine* engine) {
        Shared& shared = Current();
        std::lock_guard<std::mutex> lock(shared.lock);
        if (--shared.holders == 0) {
            shared.engine = nullptr;
            shared.modulePath.clear();
            delete engine;
        }
    });
}

bool TPkcs11Engine::InUse() {
    Shared& shared = Current();
    std::lock_guard<std::mutex> lock(shared.lock);
    return shared.engine != nullptr;
}

std::shared_ptr<EVP_PKEY> TPkcs11Engine::LoadPrivateKey(
    const std::shared_ptr<TPkcs11Engine>& engine, const std::string& uri) {
    TPkcs11Engine& self = *engine;
    std::lock_guard<std::mutex> lock(self.lock_);
    ERR_clear_error();
    EVP_PKEY* key = ENGINE_load_private_key(self.engine_, uri.c_str(), self.noPin_, nullptr);
    if (key == nullptr) {
        const std::string why = LastOpenSslError();
        throw ECertificateError("O engine PKCS#11 do OpenSSL não encontrou a chave privada: " +
                                (why.empty() ? std::string("motivo desconhecido") : why));
    }
    ++self.keys_[key];
    return std::shared_ptr<EVP_PKEY>(key, [engine](EVP_PKEY* k) { engine->Release(k); });
}

void TPkcs11Engine::Release(EVP_PKEY* key) {
    std::lock_guard<std::mutex> lock(lock_);
    // The engine keeps every key it gave, and a key it gave holds the engine, so neither would
    // ever end. When no one here uses the key any more its hold on the engine is cut, and the
    // engine can end (and let its module go) after its last holder.
    if (--keys_[key] == 0) {
        keys_.erase(key);
        EVP_PKEY_set1_engine(key, nullptr);
    }
    EVP_PKEY_free(key);
}

}  // namespace quelvo
