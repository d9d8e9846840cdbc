#include "support/SoftHsm.h"

#include <openssl/core_names.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "certificates/TCertificate.h"
#include "certificates/TPkcs11Engine.h"
#include "certificates/TPkcs11Module.h"
#include "support/SharedPki.h"

namespace quelvo::test {

namespace {

constexpr const char* kSoPin = "87654321";

void Check(CK_RV rv, const char* what) {
    if (rv != CKR_OK) {
        throw std::runtime_error(std::string("SoftHSM2: ") + what + ": " + Pkcs11ReturnText(rv));
    }
}

std::shared_ptr<TPkcs11Module> Module() {
    return TPkcs11Module::Open(TPkcs11Module::DefaultPath());
}

CK_SLOT_ID SlotOf(TPkcs11Module& module, const std::string& label) {
    for (const auto& t : module.Tokens()) {
        if (t.label == label) {
            return t.slot;
        }
    }
    throw std::runtime_error("SoftHSM2: no token \"" + label + "\"");
}

std::string Der(X509* cert) {
    unsigned char* out = nullptr;
    const int len = i2d_X509(cert, &out);
    std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(len));
    OPENSSL_free(out);
    return der;
}

std::string NameDer(const X509_NAME* name) {
    unsigned char* out = nullptr;
    const int len = i2d_X509_NAME(name, &out);
    std::string der(reinterpret_cast<char*>(out), static_cast<size_t>(len));
    OPENSSL_free(out);
    return der;
}

std::string Bignum(EVP_PKEY* key, const char* param) {
    BIGNUM* bn = nullptr;
    if (!EVP_PKEY_get_bn_param(key, param, &bn)) {
        throw std::runtime_error(std::string("SoftHSM2: key without ") + param);
    }
    std::string bytes(static_cast<size_t>(BN_num_bytes(bn)), '\0');
    BN_bn2bin(bn, reinterpret_cast<unsigned char*>(bytes.data()));
    BN_free(bn);
    return bytes;
}

// A logged-in read-write session, closed (and so logged out) at the end.
class UserSession {
public:
    UserSession(TPkcs11Module& module, CK_SLOT_ID slot, const std::string& pin)
        : f_(module.Functions()) {
        Check(f_->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr,
                                &session_),
              "C_OpenSession");
        std::string copy = pin;
        Check(f_->C_Login(session_, CKU_USER, reinterpret_cast<CK_UTF8CHAR*>(copy.data()),
                          copy.size()),
              "C_Login");
    }
    ~UserSession() {
        f_->C_Logout(session_);
        f_->C_CloseSession(session_);
    }
    void Create(std::vector<CK_ATTRIBUTE> attributes) {
        CK_OBJECT_HANDLE object = 0;
        Check(f_->C_CreateObject(session_, attributes.data(), attributes.size(), &object),
              "C_CreateObject");
    }

private:
    CK_FUNCTION_LIST* f_;
    CK_SESSION_HANDLE session_ = 0;
};

CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, const std::string& bytes) {
    return {type, const_cast<char*>(bytes.data()), bytes.size()};
}

template <typename T>
CK_ATTRIBUTE Attr(CK_ATTRIBUTE_TYPE type, T& value) {
    return {type, &value, sizeof value};
}

void CreateCertificate(UserSession& s, X509* cert, const std::string& id, const std::string& label,
                       CK_ULONG category) {
    CK_OBJECT_CLASS cls = CKO_CERTIFICATE;
    CK_CERTIFICATE_TYPE type = CKC_X_509;
    CK_BBOOL yes = CK_TRUE;
    CK_BBOOL no = CK_FALSE;
    const std::string value = Der(cert);
    const std::string subject = NameDer(X509_get_subject_name(cert));
    const std::string issuer = NameDer(X509_get_issuer_name(cert));
    s.Create({Attr(CKA_CLASS, cls), Attr(CKA_CERTIFICATE_TYPE, type), Attr(CKA_TOKEN, yes),
              Attr(CKA_PRIVATE, no), Attr(CKA_ID, id), Attr(CKA_LABEL, label),
              Attr(CKA_VALUE, value), Attr(CKA_SUBJECT, subject), Attr(CKA_ISSUER, issuer),
              Attr(CKA_CERTIFICATE_CATEGORY, category)});
}

}  // namespace

SoftHsm::SoftHsm() {
    if (const char* p = std::getenv("SOFTHSM2_CONF")) {
        previous_ = p;
        hadPrevious_ = true;
    }
    std::filesystem::create_directories(dir_.File("tokens"));
    std::filesystem::create_directories(dir_.File("vazio"));
    const std::string common =
        "objectstore.backend = file\nlog.level = ERROR\nslots.removable = false\n";
    dir_.Write("softhsm2.conf", "directories.tokendir = " + dir_.File("tokens") + "\n" + common);
    dir_.Write("vazio.conf", "directories.tokendir = " + dir_.File("vazio") + "\n" + common);
    Plug();
}

SoftHsm::~SoftHsm() {
    if (hadPrevious_) {
        ::setenv("SOFTHSM2_CONF", previous_.c_str(), 1);
    } else {
        ::unsetenv("SOFTHSM2_CONF");
    }
}

void SoftHsm::UseConfiguration(const std::string& file) {
    if (TPkcs11Module::IsOpen(TPkcs11Module::DefaultPath()) || TPkcs11Engine::InUse()) {
        throw std::logic_error("SoftHSM2's configuration changed while its module is in use");
    }
    ::setenv("SOFTHSM2_CONF", file.c_str(), 1);
}

void SoftHsm::Unplug() {
    UseConfiguration(dir_.File("vazio.conf"));
}

void SoftHsm::Plug() {
    UseConfiguration(dir_.File("softhsm2.conf"));
}

void SoftHsm::AddToken(const std::string& label, const std::string& pin) {
    auto module = Module();
    CK_FUNCTION_LIST* f = module->Functions();
    // SoftHSM2 always offers one slot with an empty token.
    CK_ULONG count = 0;
    Check(f->C_GetSlotList(CK_TRUE, nullptr, &count), "C_GetSlotList");
    std::vector<CK_SLOT_ID> slots(count);
    Check(f->C_GetSlotList(CK_TRUE, slots.data(), &count), "C_GetSlotList");
    CK_SLOT_ID empty = 0;
    bool found = false;
    for (CK_ULONG i = 0; i < count && !found; ++i) {
        CK_TOKEN_INFO info{};
        if (f->C_GetTokenInfo(slots[i], &info) == CKR_OK && !(info.flags & CKF_TOKEN_INITIALIZED) &&
            Pkcs11Text(info.model, sizeof info.model) == "SoftHSM v2") {
            empty = slots[i];
            found = true;
        }
    }
    if (!found) {
        throw std::runtime_error("SoftHSM2: no empty slot");
    }
    CK_UTF8CHAR padded[32];
    std::memset(padded, ' ', sizeof padded);
    std::memcpy(padded, label.data(), std::min(label.size(), sizeof padded));
    std::string so = kSoPin;
    Check(f->C_InitToken(empty, reinterpret_cast<CK_UTF8CHAR*>(so.data()), so.size(), padded),
          "C_InitToken");
    // The token moves to a slot of its own.
    const CK_SLOT_ID slot = SlotOf(*module, label);
    CK_SESSION_HANDLE s = 0;
    Check(f->C_OpenSession(slot, CKF_SERIAL_SESSION | CKF_RW_SESSION, nullptr, nullptr, &s),
          "C_OpenSession");
    std::string user = pin;
    CK_RV rv = f->C_Login(s, CKU_SO, reinterpret_cast<CK_UTF8CHAR*>(so.data()), so.size());
    if (rv == CKR_OK) {
        rv = f->C_InitPIN(s, reinterpret_cast<CK_UTF8CHAR*>(user.data()), user.size());
        f->C_Logout(s);
    }
    f->C_CloseSession(s);
    Check(rv, "C_InitPIN");
}

std::string SoftHsm::Import(const std::string& label, const std::string& pin,
                            const testpki::Issued& issued) {
    auto module = Module();
    UserSession s(*module, SlotOf(*module, label), pin);
    const std::string id(1, static_cast<char>(nextId_++));
    EVP_PKEY* key = issued.key.get();
    CK_OBJECT_CLASS cls = CKO_PRIVATE_KEY;
    CK_KEY_TYPE type = CKK_RSA;
    CK_BBOOL yes = CK_TRUE;
    const std::string keyLabel = "chave " + std::to_string(nextId_ - 1);
    const std::string subject = NameDer(X509_get_subject_name(issued.cert.get()));
    const std::string n = Bignum(key, OSSL_PKEY_PARAM_RSA_N);
    const std::string e = Bignum(key, OSSL_PKEY_PARAM_RSA_E);
    const std::string d = Bignum(key, OSSL_PKEY_PARAM_RSA_D);
    const std::string p = Bignum(key, OSSL_PKEY_PARAM_RSA_FACTOR1);
    const std::string q = Bignum(key, OSSL_PKEY_PARAM_RSA_FACTOR2);
    const std::string dp = Bignum(key, OSSL_PKEY_PARAM_RSA_EXPONENT1);
    const std::string dq = Bignum(key, OSSL_PKEY_PARAM_RSA_EXPONENT2);
    const std::string qinv = Bignum(key, OSSL_PKEY_PARAM_RSA_COEFFICIENT1);
    s.Create({Attr(CKA_CLASS, cls), Attr(CKA_KEY_TYPE, type), Attr(CKA_TOKEN, yes),
              Attr(CKA_PRIVATE, yes), Attr(CKA_SENSITIVE, yes), Attr(CKA_SIGN, yes),
              Attr(CKA_DECRYPT, yes), Attr(CKA_ID, id), Attr(CKA_LABEL, keyLabel),
              Attr(CKA_SUBJECT, subject), Attr(CKA_MODULUS, n), Attr(CKA_PUBLIC_EXPONENT, e),
              Attr(CKA_PRIVATE_EXPONENT, d), Attr(CKA_PRIME_1, p), Attr(CKA_PRIME_2, q),
              Attr(CKA_EXPONENT_1, dp), Attr(CKA_EXPONENT_2, dq), Attr(CKA_COEFFICIENT, qinv)});
    CreateCertificate(s, issued.cert.get(), id, "certificado " + std::to_string(nextId_ - 1), 1);
    // The authorities, once per token (under ids of their own).
    if (withAuthorities_.insert(label).second) {
        CreateCertificate(s, SharedPki().Intermediate(), "AC1", "AC intermediaria", 2);
        CreateCertificate(s, SharedPki().Root(), "AC2", "AC raiz", 2);
    }
    return SerialNumberOf(issued.cert.get());
}

}  // namespace quelvo::test
