#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "certificates/TCertificateStore.h"
#include "common/DateTime.h"

namespace quelvo {

// The certificate settings of a fiscal-document client: which certificate of the store it
// presents (by serial number) and the password of its key. The certificate found last is kept
// and reused for the same serial number.
class TCertificadosConf {
public:
    // The store defaults to the application folder's.
    TCertificadosConf();
    explicit TCertificadosConf(TCertificateStore store);

    // Stored and read back without blanks, upper-cased ("0a 1b" reads "0A1B").
    void SetNumeroSerie(const std::string& serial);
    const std::string& NumeroSerie() const { return numeroSerie_; }
    void SetSenha(const std::string& senha) { senha_ = senha; }
    const std::string& Senha() const { return senha_; }
    // The user has just typed the password (a registration): for a token, a refusal kept for
    // it is forgotten and it is presented once.
    void SetSenhaDigitada(bool digitada) { digitada_ = digitada; }

    // End of validity, subject and CNPJ of the certificate; reading them loads it. With a blank
    // serial number they are zero and empty.
    TDateTime DataVenc();
    std::string SubjectName();
    std::string CNPJ();

    // The certificate of NumeroSerie, from the cache when it is the same serial number.
    // Raises ENFeClientError "Número de Série do Certificado Digital não especificado !" and
    // "Certificado Digital não encontrado!", and ECertificateError when its key is not in the
    // store.
    const TCertificate& LoadCertificate();

    // What the HTTPS client presents: the certificate, its chain and its key opened with Senha
    // (for a certificate on a token, Senha is the token's PIN: one login, and the key stays on
    // the token). Kept for the same serial number and password, so one client logs in to a token
    // once for a company. Raises what LoadCertificate raises, and ECertificateError for a wrong
    // password or PIN or a file without a usable key.
    std::shared_ptr<const TClientCredentials> Credentials();

    const TCertificateStore& Store() const { return store_; }

private:
    TCertificateStore store_;
    std::string numeroSerie_;
    std::string senha_;
    bool digitada_ = false;
    std::optional<TCertificate> cached_;
    std::shared_ptr<const TClientCredentials> credentials_;
    std::string credentialsSerial_;
    std::string credentialsSenha_;
};

// The serial-number normalisation of NumeroSerie: no blanks, upper case.
std::string NormalizeSerial(const std::string& serial);

}  // namespace quelvo
