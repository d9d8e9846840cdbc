#include "certificates/TTokenSession.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <atomic>
#include <map>
#include <mutex>
#include <optional>
#include <set>

#include "certificates/ECertificateError.h"
#include "certificates/TPinsRecusados.h"

namespace quelvo {

namespace {

std::atomic<long> gLoginAttempts{0};

// What this process knows of the PINs it gave to tokens: per token, a digest of the PIN that
// logged it in, and the digests of the PINs it refused that could not be kept on disk. Only
// digests are kept, salted per process.
struct PinRecords {
    std::mutex lock;  // held for a whole login, so two threads never race to the token
    std::string salt;
    std::map<std::string, std::string> accepted;
    std::set<std::string> refused;
};

PinRecords& Records() {
    static PinRecords records;
    return records;
}

std::string TokenKey(const std::string& modulePath, const TTokenInfo& t) {
    return modulePath + '\n' + t.label + '\n' + t.manufacturer + '\n' + t.model + '\n' + t.serial;
}

// Runs under the records' lock.
std::string PinDigest(PinRecords& records, const std::string& tokenKey, const std::string& pin) {
    if (records.salt.empty()) {
        unsigned char salt[32];
        RAND_bytes(salt, sizeof salt);
        records.salt.assign(reinterpret_cast<char*>(salt), sizeof salt);
    }
    const std::string input = records.salt + tokenKey + '\0' + pin;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(input.data(), input.size(), md, &len, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(md), len);
}

// One attribute's bytes; empty when the object has none or hides it.
std::string Attribute(CK_FUNCTION_LIST* f, CK_SESSION_HANDLE session, CK_OBJECT_HANDLE object,
                      CK_ATTRIBUTE_TYPE type) {
    CK_ATTRIBUTE attr{type, nullptr, 0};
    if (f->C_GetAttributeValue(session, object, &attr, 1) != CKR_OK ||
        attr.ulValueLen == CK_UNAVAILABLE_INFORMATION || attr.ulValueLen == 0) {
        return {};
    }
    std::string value(attr.ulValueLen, '\0');
    attr.pValue = value.data();
    if (f->C_GetAttributeValue(session, object, &attr, 1) != CKR_OK) {
        return {};
    }
    value.resize(attr.ulValueLen);
    return value;
}

}  // namespace

std::string TokenName(const TTokenInfo& token) {
    if (!token.label.empty()) {
        return token.label;
    }
    return token.model + (token.serial.empty() ? "" : " " + token.serial);
}

long TTokenSession::LoginAttempts() {
    return gLoginAttempts.load();
}

TTokenSession::TTokenSession(std::shared_ptr<TPkcs11Module> module, TTokenInfo token)
    : module_(std::move(module)), token_(std::move(token)) {
    const CK_RV rv = module_->Functions()->C_OpenSession(token_.slot, CKF_SERIAL_SESSION, nullptr,
                                                         nullptr, &session_);
    if (rv != CKR_OK) {
        session_ = CK_INVALID_HANDLE;
        throw ECertificateError("Não foi possível abrir o token \"" + TokenName(token_) +
                                "\": " + Pkcs11ReturnText(rv));
    }
}

TTokenSession::~TTokenSession() {
    if (session_ != CK_INVALID_HANDLE) {
        module_->Functions()->C_CloseSession(session_);
    }
}

std::vector<TTokenCertificateObject> TTokenSession::Certificates() const {
    CK_FUNCTION_LIST* f = module_->Functions();
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_ATTRIBUTE filter[] = {{CKA_CLASS, &cls, sizeof cls},
                             {CKA_CERTIFICATE_TYPE, &type, sizeof type}};
    std::vector<CK_OBJECT_HANDLE> handles;
    if (f->C_FindObjectsInit(session_, filter, 2) != CKR_OK) {
        return {};
    }
    CK_OBJECT_HANDLE batch[32];
    CK_ULONG found = 0;
    while (f->C_FindObjects(session_, batch, 32, &found) == CKR_OK && found > 0) {
        handles.insert(handles.end(), batch, batch + found);
    }
    f->C_FindObjectsFinal(session_);

    std::vector<TTokenCertificateObject> out;
    for (CK_OBJECT_HANDLE h : handles) {
        const std::string der = Attribute(f, session_, h, CKA_VALUE);
        const auto* p = reinterpret_cast<const unsigned char*>(der.data());
        X509Ptr cert(d2i_X509(nullptr, &p, static_cast<long>(der.size())));
        if (!cert) {
            LastOpenSslError();
            continue;  // an object that is no certificate we can read is none for us
        }
        out.push_back({std::move(cert), Attribute(f, session_, h, CKA_ID),
                       Attribute(f, session_, h, CKA_LABEL)});
    }
    return out;
}

void TTokenSession::Login(const std::string& pin, const TLoginDoToken& contexto) {
    CK_FUNCTION_LIST* f = module_->Functions();
    const std::string name = "\"" + TokenName(token_) + "\"";
    CK_TOKEN_INFO info{};
    if (const CK_RV rv = module_->TokenInfo(token_.slot, info); rv != CKR_OK) {
        throw ECertificateError("O token " + name +
                                " não está mais acessível: " + Pkcs11ReturnText(rv));
    }
    if (!(info.flags & CKF_LOGIN_REQUIRED)) {
        return;  // its keys need no PIN
    }
    if (info.flags & CKF_USER_PIN_LOCKED) {
        throw ECertificateError("O PIN do token " + name +
                                " está bloqueado. Desbloqueie o token com o programa do "
                                "fabricante e cadastre a empresa de novo com o PIN.");
    }
    if (pin.empty()) {
        throw ECertificateError("A senha cadastrada para a empresa está vazia: o token " + name +
                                " precisa do seu PIN como senha.");
    }
    PinRecords& records = Records();
    std::lock_guard<std::mutex> lock(records.lock);
    const std::string key = TokenKey(module_->Path(), token_);
    const std::string digest = PinDigest(records, key, pin);
    try {
        std::optional<TPinsRecusados> recusas;
        if (!contexto.arquivoRecusas.empty()) {
            recusas.emplace(contexto.arquivoRecusas);
        }
        if (contexto.digitado) {
            records.refused.erase(digest);
            if (recusas) {
                recusas->Esquecer(token_.serial, contexto.certificado, pin);
            }
        }
        if (records.refused.count(digest) > 0 ||
            (recusas && recusas->Recusado(token_.serial, contexto.certificado, pin))) {
            throw ECertificateError(
                "O token " + name +
                " já recusou esse PIN (a senha cadastrada para a empresa); ele não é apresentado "
                "de novo, para que o token não se bloqueie. Confira o PIN e cadastre a empresa de "
                "novo com ele.");
        }
    } catch (const ECertificateError&) {
        throw;
    } catch (const std::exception& e) {
        // Nobody can tell whether this PIN was refused: it is not presented.
        throw ECertificateError("O PIN do token " + name + " não foi apresentado: " + e.what());
    }
    const std::string oQueFazer =
        " Abra o token com o PIN correto no programa do fabricante (isso zera a contagem de "
        "tentativas) e cadastre a empresa de novo com esse PIN.";
    if (info.flags & CKF_USER_PIN_FINAL_TRY) {
        throw ECertificateError("O token " + name +
                                " só aceita mais uma tentativa de PIN antes de se bloquear; o "
                                "programa não faz o login." +
                                oQueFazer);
    }
    if ((info.flags & CKF_USER_PIN_COUNT_LOW) && !contexto.digitado) {
        throw ECertificateError(
            "O token " + name +
            " avisa que já recebeu um PIN errado; para que ele não se bloqueie, o programa não faz "
            "o login sozinho." +
            oQueFazer);
    }
    ++gLoginAttempts;
    std::string copy = pin;
    const CK_RV rv = f->C_Login(session_, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(copy.data()),
                                static_cast<CK_ULONG>(copy.size()));
    OPENSSL_cleanse(copy.data(), copy.size());
    switch (rv) {
        case CKR_OK:
            records.accepted[key] = digest;
            return;
        case CKR_USER_ALREADY_LOGGED_IN: {
            // The token cannot check a PIN now; the one that logged it in is known.
            const auto it = records.accepted.find(key);
            if (it != records.accepted.end() && it->second == digest) {
                return;
            }
            throw ECertificateError(
                "O PIN (a senha cadastrada para a empresa) não é o que abriu o "
                "token " +
                name + " nesse momento; confira o PIN.");
        }
        case CKR_PIN_INCORRECT:
        case CKR_PIN_INVALID:
        case CKR_PIN_LEN_RANGE: {
            // Kept on disk; in memory only when there is no file or it cannot be written.
            std::string guardado;
            if (contexto.arquivoRecusas.empty()) {
                records.refused.insert(digest);
            } else {
                try {
                    TPinsRecusados(contexto.arquivoRecusas)
                        .Registrar(token_.serial, contexto.certificado, pin);
                } catch (const std::exception& e) {
                    records.refused.insert(digest);
                    guardado =
                        std::string(" (A recusa vale até o programa fechar: ") + e.what() + ".)";
                }
            }
            throw ECertificateError(
                "O token " + name +
                " recusou o PIN (a senha cadastrada para a empresa). Para que o token não se "
                "bloqueie, esse PIN não será apresentado de novo: confira o PIN e cadastre a "
                "empresa de novo com ele." +
                guardado);
        }
        case CKR_PIN_LOCKED:
            throw ECertificateError("O PIN do token " + name +
                                    " está bloqueado. Desbloqueie o token com o programa do "
                                    "fabricante e cadastre a empresa de novo com o PIN.");
        case CKR_PIN_EXPIRED:
            throw ECertificateError("O PIN do token " + name +
                                    " expirou. Troque-o com o programa do fabricante.");
        default:
            throw ECertificateError("O token " + name +
                                    " não aceitou o login: " + Pkcs11ReturnText(rv));
    }
}

}  // namespace quelvo
