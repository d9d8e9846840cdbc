// OpenSSL 3.0 reaches a key kept outside it through an RSA_METHOD (deprecated in 3.0, still the
// way its TLS signs with keys it cannot read).
#define OPENSSL_SUPPRESS_DEPRECATED

#include "platform/windows/TChaveWindows.h"

#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstring>
#include <mutex>

#include "certificates/ECertificateError.h"

namespace quelvo {

namespace {

DWORD LastErrorOr(DWORD fallback = static_cast<DWORD>(NTE_FAIL)) {
    const DWORD code = GetLastError();
    return code != 0 ? code : fallback;
}

// The certificate's CERT_KEY_PROV_INFO (where its key is): empty when it has none.
std::vector<BYTE> KeyProvInfo(PCCERT_CONTEXT cert) {
    DWORD size = 0;
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, nullptr, &size) ||
        size < sizeof(CRYPT_KEY_PROV_INFO)) {
        return {};
    }
    std::vector<BYTE> info(size);
    if (!CertGetCertificateContextProperty(cert, CERT_KEY_PROV_INFO_PROP_ID, info.data(), &size)) {
        return {};
    }
    return info;
}

std::string ProvParamText(HCRYPTPROV prov, DWORD param) {
    DWORD size = 0;
    if (!CryptGetProvParam(prov, param, nullptr, &size, 0) || size == 0) {
        return {};
    }
    std::string text(size, '\0');
    if (!CryptGetProvParam(prov, param, reinterpret_cast<BYTE*>(text.data()), &size, 0)) {
        return {};
    }
    text.resize(std::strlen(text.c_str()));
    return text;
}

// The ANSI code page text of CryptoAPI as UTF-16.
std::wstring AnsiToWide(const std::string& text) {
    if (text.empty()) {
        return {};
    }
    const int len =
        MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring out(static_cast<size_t>(std::max(len, 0)), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), out.data(), len);
    return out;
}

bool HasUserKey(HCRYPTPROV prov, DWORD keySpec) {
    CryptKeyHandle key;
    return CryptGetUserKey(prov, keySpec, key.receive()) != FALSE;
}

bool MakesSha256(HCRYPTPROV prov) {
    CryptHashHandle hash;
    return CryptCreateHash(prov, CALG_SHA_256, 0, 0, hash.receive()) != FALSE;
}

ALG_ID CryptoApiDigest(int nid) {
    switch (nid) {
        case NID_sha1:
            return CALG_SHA1;
        case NID_sha256:
            return CALG_SHA_256;
        case NID_sha384:
            return CALG_SHA_384;
        case NID_sha512:
            return CALG_SHA_512;
        default:
            return 0;
    }
}

const wchar_t* CngDigest(int nid) {
    switch (nid) {
        case NID_sha1:
            return BCRYPT_SHA1_ALGORITHM;
        case NID_sha256:
            return BCRYPT_SHA256_ALGORITHM;
        case NID_sha384:
            return BCRYPT_SHA384_ALGORITHM;
        case NID_sha512:
            return BCRYPT_SHA512_ALGORITHM;
        default:
            return nullptr;
    }
}

// A CNG key's provider: its name and whether it is hardware or removable.
void DescribeCngProvider(NCRYPT_KEY_HANDLE key, std::string& name, bool& hardware) {
    NCryptHandle provider;
    NCRYPT_PROV_HANDLE handle = 0;
    DWORD got = 0;
    if (NCryptGetProperty(key, NCRYPT_PROVIDER_HANDLE_PROPERTY, reinterpret_cast<PBYTE>(&handle),
                          sizeof handle, &got, 0) == ERROR_SUCCESS) {
        provider.reset(handle);
    }
    DWORD impl = 0;
    const bool known =
        (provider && NCryptGetProperty(provider.get(), NCRYPT_IMPL_TYPE_PROPERTY,
                                       reinterpret_cast<PBYTE>(&impl), sizeof impl, &got,
                                       0) == ERROR_SUCCESS) ||
        NCryptGetProperty(key, NCRYPT_IMPL_TYPE_PROPERTY, reinterpret_cast<PBYTE>(&impl),
                          sizeof impl, &got, 0) == ERROR_SUCCESS;
    hardware = known && (impl & (NCRYPT_IMPL_HARDWARE_FLAG | NCRYPT_IMPL_REMOVABLE_FLAG)) != 0;
    if (name.empty() && provider) {
        wchar_t text[256] = {};
        if (NCryptGetProperty(provider.get(), NCRYPT_NAME_PROPERTY, reinterpret_cast<PBYTE>(text),
                              sizeof text - sizeof(wchar_t), &got, 0) == ERROR_SUCCESS) {
            name = WideToUtf8(text);
        }
    }
}

// --- The OpenSSL side ------------------------------------------------------------------------

// The RSA object's slot that holds the key (a heap std::shared_ptr, freed with the RSA object).
int KeySlot() {
    static const int slot = RSA_get_ex_new_index(
        0, nullptr, nullptr, nullptr, [](void*, void* ptr, CRYPTO_EX_DATA*, int, long, void*) {
            delete static_cast<std::shared_ptr<TChaveWindows>*>(ptr);
        });
    return slot;
}

int SignWithWindows(int type, const unsigned char* m, unsigned int mLength, unsigned char* sigret,
                    unsigned int* siglen, const RSA* rsa) {
    auto* held = static_cast<std::shared_ptr<TChaveWindows>*>(RSA_get_ex_data(rsa, KeySlot()));
    if (held == nullptr || !*held) {
        ERR_raise_data(ERR_LIB_RSA, ERR_R_PASSED_NULL_PARAMETER, "chave do Windows ausente");
        return 0;
    }
    std::vector<unsigned char> signature;
    const DWORD rc = (*held)->Assinar(type, m, mLength, signature);
    const size_t size = static_cast<size_t>(RSA_size(rsa));
    if (rc != 0 || signature.empty() || signature.size() > size) {
        ERR_raise_data(ERR_LIB_RSA, ERR_R_OPERATION_FAIL, "assinatura do Windows: %s",
                       rc != 0 ? WindowsErrorText(rc).c_str() : "tamanho inesperado");
        return 0;
    }
    // A signature is as long as the modulus: a shorter one lost its leading zero bytes.
    std::memset(sigret, 0, size - signature.size());
    std::memcpy(sigret + (size - signature.size()), signature.data(), signature.size());
    *siglen = static_cast<unsigned int>(size);
    return 1;
}

// Raw private operations: a key of the Windows store does none (no decryption, no signature of
// bytes it did not hash with a known digest, and so no PSS either).
int NoRawPrivateOperation(int, const unsigned char*, unsigned char*, RSA*, int) {
    ERR_raise_data(ERR_LIB_RSA, ERR_R_OPERATION_FAIL,
                   "a chave do Windows só faz assinaturas PKCS#1 v1.5 de resumos");
    return -1;
}

const RSA_METHOD* WindowsRsaMethod() {
    static const RSA_METHOD* method = [] {
        RSA_METHOD* m = RSA_meth_dup(RSA_PKCS1_OpenSSL());
        RSA_meth_set1_name(m, "Quelvo: chave do repositório do Windows");
        RSA_meth_set_flags(m, RSA_meth_get_flags(m) | RSA_FLAG_EXT_PKEY);
        RSA_meth_set_sign(m, SignWithWindows);
        RSA_meth_set_priv_enc(m, NoRawPrivateOperation);
        RSA_meth_set_priv_dec(m, NoRawPrivateOperation);
        return m;
    }();
    return method;
}

}  // namespace

std::shared_ptr<TChaveWindows> TChaveWindows::Abrir(PCCERT_CONTEXT certificado,
                                                    const std::string& nome) {
    std::shared_ptr<TChaveWindows> chave(new TChaveWindows());
    chave->certificado_.reset(CertDuplicateCertificateContext(certificado));
    const std::vector<BYTE> infoBytes = KeyProvInfo(certificado);
    const auto* info = infoBytes.empty()
                           ? nullptr
                           : reinterpret_cast<const CRYPT_KEY_PROV_INFO*>(infoBytes.data());
    if (info != nullptr) {
        chave->provedor_ = WideToUtf8(info->pwszProvName);
    }
    const auto falha = [&](const std::string& porque) {
        return ECertificateError("A chave privada do certificado digital " + nome +
                                 " não pôde ser aberta: " + porque);
    };

    // Silent: a provider that would ask the user anything fails instead.
    HCRYPTPROV_OR_NCRYPT_KEY_HANDLE handle = 0;
    DWORD keySpec = 0;
    BOOL mustFree = FALSE;
    if (!CryptAcquireCertificatePrivateKey(
            certificado, CRYPT_ACQUIRE_ALLOW_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG, nullptr,
            &handle, &keySpec, &mustFree)) {
        throw falha(WindowsErrorText(LastErrorOr()));
    }

    if (keySpec == CERT_NCRYPT_KEY_SPEC) {
        chave->cngKey_ = handle;
        if (mustFree) {
            chave->cngOwned_.reset(handle);
        }  // otherwise the certificate context owns it, and the key keeps the context
        DescribeCngProvider(handle, chave->provedor_, chave->noDispositivo_);
        return chave;
    }

    if (mustFree) {
        chave->prov_.reset(handle);
    } else if (CryptContextAddRef(handle, nullptr, 0)) {
        chave->prov_.reset(handle);  // one reference of our own
    } else {
        throw falha(WindowsErrorText(LastErrorOr()));
    }
    HCRYPTPROV prov = chave->prov_.get();
    DWORD impl = 0;
    DWORD size = sizeof impl;
    chave->noDispositivo_ =
        CryptGetProvParam(prov, PP_IMPTYPE, reinterpret_cast<BYTE*>(&impl), &size, 0) &&
        (impl & (CRYPT_IMPL_HARDWARE | CRYPT_IMPL_REMOVABLE)) != 0;
    if (chave->provedor_.empty()) {
        chave->provedor_ = WideToUtf8(AnsiToWide(ProvParamText(prov, PP_NAME)).c_str());
    }

    // The certificate names the container's key pair (dwKeySpec); some stores (Wine's PFX import)
    // record a value that names neither pair: then the container's own pair is taken.
    if (keySpec != AT_KEYEXCHANGE && keySpec != AT_SIGNATURE) {
        keySpec = HasUserKey(prov, AT_KEYEXCHANGE) ? AT_KEYEXCHANGE
                  : HasUserKey(prov, AT_SIGNATURE) ? AT_SIGNATURE
                                                   : 0;
        if (keySpec == 0) {
            throw falha("o contêiner \"" + ProvParamText(prov, PP_CONTAINER) +
                        "\" não tem par de chaves.");
        }
    }
    chave->keySpec_ = keySpec;

    // The older software provider where PFX imports often put the key (the "Enhanced" one, type
    // PROV_RSA_FULL) makes no SHA-2 digests, which TLS 1.2 needs; the AES provider opens the same
    // containers and does. A token's provider is left as it is.
    if (!chave->noDispositivo_ && !MakesSha256(prov)) {
        std::wstring container;
        DWORD flags = CRYPT_SILENT;
        if (info != nullptr && info->pwszContainerName != nullptr) {
            container = info->pwszContainerName;
            flags |= info->dwFlags & CRYPT_MACHINE_KEYSET;
        } else {
            container = AnsiToWide(ProvParamText(prov, PP_CONTAINER));
        }
        CryptProvHandle aes;
        if (!container.empty() &&
            CryptAcquireContextW(aes.receive(), container.c_str(), nullptr, PROV_RSA_AES, flags) &&
            HasUserKey(aes.get(), keySpec) && MakesSha256(aes.get())) {
            chave->prov_ = std::move(aes);
        }  // otherwise signing says why
    }
    return chave;
}

DWORD TChaveWindows::EntregarPin(const std::string& pin) {
    std::lock_guard lock(mutex_);
    std::wstring wide = Utf8ToWide(pin);
    DWORD rc = 0;
    if (cngKey_ != 0) {
        const SECURITY_STATUS st = NCryptSetProperty(
            cngKey_, NCRYPT_PIN_PROPERTY, reinterpret_cast<PBYTE>(wide.data()),
            static_cast<DWORD>((wide.size() + 1) * sizeof(wchar_t)), NCRYPT_SILENT_FLAG);
        rc = static_cast<DWORD>(st);
    } else {
        // CryptoAPI takes the PIN in the system's code page, ending in a zero.
        const int len =
            WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, nullptr, 0, nullptr, nullptr);
        std::string ansi(static_cast<size_t>(std::max(len, 1)), '\0');
        WideCharToMultiByte(CP_ACP, 0, wide.c_str(), -1, ansi.data(), len, nullptr, nullptr);
        // The PIN of the key's own pair; a provider that knows only the other parameter (one PIN
        // for both pairs) gets that one.
        const DWORD own = keySpec_ == AT_SIGNATURE ? PP_SIGNATURE_PIN : PP_KEYEXCHANGE_PIN;
        const DWORD other = own == PP_SIGNATURE_PIN ? PP_KEYEXCHANGE_PIN : PP_SIGNATURE_PIN;
        const auto* bytes = reinterpret_cast<const BYTE*>(ansi.c_str());
        if (!CryptSetProvParam(prov_.get(), own, bytes, 0)) {
            rc = LastErrorOr();
            if (rc == static_cast<DWORD>(NTE_BAD_TYPE)) {
                rc = CryptSetProvParam(prov_.get(), other, bytes, 0) ? 0 : LastErrorOr();
            }
        }
        SecureZeroMemory(ansi.data(), ansi.size());
    }
    SecureZeroMemory(wide.data(), wide.size() * sizeof(wchar_t));
    return rc;
}

DWORD TChaveWindows::Assinar(int nidDoResumo, const unsigned char* resumo, size_t tamanho,
                             std::vector<unsigned char>& assinatura) {
    std::lock_guard lock(mutex_);
    assinatura.clear();
    DWORD rc = 0;
    if (cngKey_ != 0) {
        BCRYPT_PKCS1_PADDING_INFO padding{CngDigest(nidDoResumo)};
        DWORD size = 0;
        SECURITY_STATUS st = NTE_BAD_ALGID;
        if (padding.pszAlgId != nullptr) {
            st = NCryptSignHash(cngKey_, &padding, const_cast<PBYTE>(resumo),
                                static_cast<DWORD>(tamanho), nullptr, 0, &size,
                                BCRYPT_PAD_PKCS1 | NCRYPT_SILENT_FLAG);
        }
        if (st == ERROR_SUCCESS) {
            assinatura.resize(size);
            st = NCryptSignHash(cngKey_, &padding, const_cast<PBYTE>(resumo),
                                static_cast<DWORD>(tamanho), assinatura.data(), size, &size,
                                BCRYPT_PAD_PKCS1 | NCRYPT_SILENT_FLAG);
            assinatura.resize(size);
        }
        rc = static_cast<DWORD>(st);
    } else {
        const ALG_ID digest = CryptoApiDigest(nidDoResumo);
        CryptHashHandle hash;
        DWORD hashSize = 0;
        DWORD len = sizeof hashSize;
        DWORD size = 0;
        if (digest == 0) {
            rc = static_cast<DWORD>(NTE_BAD_ALGID);
        } else if (!CryptCreateHash(prov_.get(), digest, 0, 0, hash.receive()) ||
                   !CryptGetHashParam(hash.get(), HP_HASHSIZE, reinterpret_cast<BYTE*>(&hashSize),
                                      &len, 0)) {
            rc = LastErrorOr();
        } else if (hashSize != tamanho) {
            rc = static_cast<DWORD>(NTE_BAD_HASH);
        } else if (!CryptSetHashParam(hash.get(), HP_HASHVAL, resumo, 0) ||
                   !CryptSignHashW(hash.get(), keySpec_, nullptr, 0, nullptr, &size)) {
            rc = LastErrorOr();
        } else {
            assinatura.resize(size);
            if (!CryptSignHashW(hash.get(), keySpec_, nullptr, 0, assinatura.data(), &size)) {
                rc = LastErrorOr();
            }
            assinatura.resize(size);
            // CryptoAPI writes the number little-endian.
            std::reverse(assinatura.begin(), assinatura.end());
        }
    }
    if (rc != 0) {
        assinatura.clear();
    }
    ultimoErro_ = rc;
    return rc;
}

DWORD TChaveWindows::UltimoErro() const {
    std::lock_guard lock(mutex_);
    return ultimoErro_;
}

EvpPkeyPtr TChaveWindows::ParaOpenSsl(std::shared_ptr<TChaveWindows> chave, X509* certificado,
                                      const std::string& nome) {
    EVP_PKEY* publica = X509_get0_pubkey(certificado);
    BIGNUM* n = nullptr;
    BIGNUM* e = nullptr;
    if (publica == nullptr || !EVP_PKEY_is_a(publica, "RSA") ||
        EVP_PKEY_get_bn_param(publica, OSSL_PKEY_PARAM_RSA_N, &n) != 1 ||
        EVP_PKEY_get_bn_param(publica, OSSL_PKEY_PARAM_RSA_E, &e) != 1) {
        BN_free(n);
        BN_free(e);
        LastOpenSslError();
        throw ECertificateError("A chave do certificado digital " + nome +
                                " não é RSA; o programa só usa certificados com chave RSA.");
    }
    std::unique_ptr<RSA, OpenSslDeleter<RSA, RSA_free>> rsa(RSA_new());
    EvpPkeyPtr key(EVP_PKEY_new());
    // The method before the key goes into the EVP_PKEY: OpenSSL then knows the key is kept
    // elsewhere and signs through the method.
    if (!rsa || !key || RSA_set_method(rsa.get(), WindowsRsaMethod()) != 1 ||
        RSA_set0_key(rsa.get(), n, e, nullptr) != 1) {
        BN_free(n);
        BN_free(e);
        throw ECertificateError("A chave privada do certificado digital " + nome +
                                " não pôde ser preparada: " + LastOpenSslError());
    }
    auto* held = new std::shared_ptr<TChaveWindows>(std::move(chave));
    if (RSA_set_ex_data(rsa.get(), KeySlot(), held) != 1) {
        delete held;
        throw ECertificateError("A chave privada do certificado digital " + nome +
                                " não pôde ser preparada: " + LastOpenSslError());
    }
    if (EVP_PKEY_assign_RSA(key.get(), rsa.get()) != 1) {
        throw ECertificateError("A chave privada do certificado digital " + nome +
                                " não pôde ser preparada: " + LastOpenSslError());
    }
    rsa.release();  // the EVP_PKEY has it now
    return key;
}

}  // namespace quelvo
