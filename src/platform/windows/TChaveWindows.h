#pragma once

#include "platform/windows/CryptoApiHandles.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "certificates/OpenSslHandles.h"

namespace quelvo {

// The private key of a certificate of the Windows store, where Windows keeps it: a key container
// of a CryptoAPI provider (software, or a token's or smart card's provider) or a CNG key. It only
// makes PKCS#1 v1.5 signatures of digests; the key itself never leaves its place. No provider is
// allowed to show anything to the user: a key that would ask for a PIN or a confirmation fails
// instead, so that nothing stops an unattended cycle.
class TChaveWindows {
public:
    // Opens the key of a certificate that has one. `nome` names the certificate in messages.
    // Raises ECertificateError with Windows' reason.
    static std::shared_ptr<TChaveWindows> Abrir(PCCERT_CONTEXT certificado,
                                                const std::string& nome);

    TChaveWindows(const TChaveWindows&) = delete;
    TChaveWindows& operator=(const TChaveWindows&) = delete;
    ~TChaveWindows() = default;

    // Whether the key is on a token or smart card (its provider says it is hardware or removable).
    bool NoDispositivo() const { return noDispositivo_; }
    // The provider that holds the key, as Windows names it.
    const std::string& Provedor() const { return provedor_; }

    // Hands the PIN to the key's provider (PP_KEYEXCHANGE_PIN / PP_SIGNATURE_PIN, or
    // NCRYPT_PIN_PROPERTY). Returns 0, or the error code Windows gave.
    DWORD EntregarPin(const std::string& pin);

    // Signs a digest made with the OpenSSL digest `nidDoResumo` (SHA-1, SHA-256, SHA-384 or
    // SHA-512): PKCS#1 v1.5, big-endian like every RSA signature outside CryptoAPI. Returns 0, or
    // the error code Windows gave (also kept for UltimoErro). Safe from several threads.
    DWORD Assinar(int nidDoResumo, const unsigned char* resumo, size_t tamanho,
                  std::vector<unsigned char>& assinatura);
    // The error code of the last failed signature (0 when the last one succeeded).
    DWORD UltimoErro() const;

    // An OpenSSL key with the certificate's public key whose signatures this key makes (any
    // other private operation fails). It holds the key, and so its handles, for as long as it
    // lives. Raises ECertificateError when the certificate's key is not RSA.
    static EvpPkeyPtr ParaOpenSsl(std::shared_ptr<TChaveWindows> chave, X509* certificado,
                                  const std::string& nome);

private:
    TChaveWindows() = default;

    // Keeps the certificate context (and with it a handle it may own) while the key lives.
    CertContextPtr certificado_;
    CryptProvHandle prov_;
    DWORD keySpec_ = 0;
    NCRYPT_KEY_HANDLE cngKey_ = 0;
    NCryptHandle cngOwned_;  // empty when the certificate context owns the CNG handle
    bool noDispositivo_ = false;
    std::string provedor_;
    mutable std::mutex mutex_;  // one operation on the handles at a time
    DWORD ultimoErro_ = 0;
};

}  // namespace quelvo
