#include "certificates/TTokenStore.h"

#include <openssl/x509v3.h>

#include <algorithm>

#include "certificates/ECertificateError.h"
#include "certificates/TPkcs11Engine.h"
#include "certificates/TTokenSession.h"

namespace quelvo {

namespace {

// A URI attribute value: the unreserved characters as they are, every other byte as %XX.
std::string UriValue(const std::string& value) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : value) {
        if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
            c == '-' || c == '.' || c == '_' || c == '~') {
            out += static_cast<char>(c);
        } else {
            out += '%';
            out += kHex[c >> 4];
            out += kHex[c & 0x0F];
        }
    }
    return out;
}

X509Ptr Dup(X509* cert) {
    return X509Ptr(X509_dup(cert));
}

// The leaf's chain from the authorities' certificates beside it, nearest first.
std::vector<X509Ptr> ChainOf(X509* leaf, const std::vector<X509*>& authorities) {
    std::vector<X509Ptr> chain;
    std::vector<X509*> used;
    X509* current = leaf;
    while (chain.size() < authorities.size() && X509_check_issued(current, current) != X509_V_OK) {
        X509* issuer = nullptr;
        for (X509* ca : authorities) {
            if (std::find(used.begin(), used.end(), ca) == used.end() &&
                X509_check_issued(ca, current) == X509_V_OK) {
                issuer = ca;
                break;
            }
        }
        if (issuer == nullptr) {
            break;
        }
        used.push_back(issuer);
        chain.push_back(Dup(issuer));
        current = issuer;
    }
    LastOpenSslError();
    return chain;
}

bool SameToken(const TTokenInfo& token, const TTokenLocation& location) {
    return token.label == location.label && token.manufacturer == location.manufacturer &&
           token.model == location.model && token.serial == location.serial;
}

// A key on a token with the session that logged the token in: the token stays logged in for as
// long as the key is used.
struct HeldKey {
    std::shared_ptr<TTokenSession> session;
    std::shared_ptr<EVP_PKEY> key;
};

}  // namespace

std::string PrivateKeyUri(const TTokenLocation& location) {
    std::string uri = "pkcs11:model=" + UriValue(location.model) +
                      ";manufacturer=" + UriValue(location.manufacturer) +
                      ";serial=" + UriValue(location.serial) + ";token=" + UriValue(location.label);
    if (!location.objectId.empty()) {
        uri += ";id=";
        static const char kHex[] = "0123456789ABCDEF";
        for (unsigned char c : location.objectId) {
            uri += '%';
            uri += kHex[c >> 4];
            uri += kHex[c & 0x0F];
        }
    } else {
        uri += ";object=" + UriValue(location.objectLabel);
    }
    return uri + ";type=private";
}

TTokenStore::TTokenStore(std::string modulePath, std::string arquivoRecusas)
    : modulePath_(std::move(modulePath)), arquivoRecusas_(std::move(arquivoRecusas)) {}

std::vector<TCertificate> TTokenStore::List() const {
    const auto module = TPkcs11Module::Open(modulePath_);
    std::vector<TCertificate> out;
    for (const TTokenInfo& token : module->Tokens()) {
        std::vector<TTokenCertificateObject> objects;
        try {
            objects = TTokenSession(module, token).Certificates();
        } catch (const ECertificateError&) {
            continue;  // pulled out meanwhile, or busy: nothing to list from it
        }
        std::vector<X509*> authorities;
        for (const auto& o : objects) {
            if (X509_check_ca(o.cert.get()) > 0) {
                authorities.push_back(o.cert.get());
            }
        }
        for (const auto& o : objects) {
            if (X509_check_ca(o.cert.get()) > 0) {
                continue;
            }
            TCertificate cert(Dup(o.cert.get()), ChainOf(o.cert.get(), authorities));
            cert.SetToken(TTokenLocation{modulePath_, token.label, token.manufacturer, token.model,
                                         token.serial, o.id, o.label});
            out.push_back(std::move(cert));
        }
    }
    return out;
}

TClientCredentials TTokenStore::LoadCredentials(const TCertificate& certificate,
                                                const std::string& pin, bool digitado) const {
    const TTokenLocation* location = certificate.Token();
    if (location == nullptr) {
        throw ECertificateError("O certificado digital \"" + certificate.SerialNumber() +
                                "\" não está num token.");
    }
    const auto module = TPkcs11Module::Open(location->modulePath);
    const TTokenInfo* token = nullptr;
    const std::vector<TTokenInfo> tokens = module->Tokens();
    for (const TTokenInfo& t : tokens) {
        if (SameToken(t, *location)) {
            token = &t;
            break;
        }
    }
    if (token == nullptr) {
        throw ECertificateError("O token \"" + location->label + "\" do certificado digital \"" +
                                certificate.SerialNumber() +
                                "\" não está conectado nesse computador.");
    }
    auto held = std::make_shared<HeldKey>();
    held->session = std::make_shared<TTokenSession>(module, *token);
    held->session->Login(pin, {certificate.SerialNumber(), arquivoRecusas_, digitado});
    // The engine finds the token logged in (the login belongs to the process) and takes no PIN.
    try {
        held->key = TPkcs11Engine::LoadPrivateKey(TPkcs11Engine::Acquire(location->modulePath),
                                                  PrivateKeyUri(*location));
    } catch (const ECertificateError& e) {
        throw ECertificateError("A chave privada do certificado digital \"" +
                                certificate.SerialNumber() + "\" não pôde ser usada no token \"" +
                                TokenName(*token) + "\". " + e.what());
    }
    if (X509_check_private_key(certificate.Get(), held->key.get()) != 1) {
        LastOpenSslError();
        throw ECertificateError("A chave privada do token \"" + TokenName(*token) +
                                "\" não corresponde ao certificado digital \"" +
                                certificate.SerialNumber() + "\".");
    }
    EVP_PKEY* key = held->key.get();
    return TClientCredentials(certificate, std::shared_ptr<EVP_PKEY>(std::move(held), key));
}

}  // namespace quelvo
