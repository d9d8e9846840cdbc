#include "dfe/TCertificadosConf.h"

#include "dfe/ENFeClientError.h"

namespace quelvo {

std::string NormalizeSerial(const std::string& serial) {
    std::string out;
    for (char c : serial) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        }
        out += (c >= 'a' && c <= 'z') ? static_cast<char>(c - 32) : c;
    }
    return out;
}

TCertificadosConf::TCertificadosConf() : store_(TCertificateStore::Default()) {}

TCertificadosConf::TCertificadosConf(TCertificateStore store) : store_(std::move(store)) {}

void TCertificadosConf::SetNumeroSerie(const std::string& serial) {
    numeroSerie_ = NormalizeSerial(serial);
}

const TCertificate& TCertificadosConf::LoadCertificate() {
    if (cached_ && cached_->SerialNumber() == numeroSerie_) {
        return *cached_;
    }
    if (numeroSerie_.empty()) {
        throw ENFeClientError("Número de Série do Certificado Digital não especificado !");
    }
    auto found = store_.Find(numeroSerie_);
    if (!found) {
        throw ENFeClientError("Certificado Digital não encontrado!");
    }
    // A key on a token is there as long as its token is (it is opened with Credentials).
    if (found->Token() == nullptr && !store_.HasKey(numeroSerie_)) {
        throw ECertificateError("A chave privada do certificado digital \"" + numeroSerie_ +
                                "\" não está acessível neste computador.");
    }
    cached_ = std::move(*found);
    return *cached_;
}

TDateTime TCertificadosConf::DataVenc() {
    return numeroSerie_.empty() ? TDateTime{} : LoadCertificate().NotAfter();
}

std::string TCertificadosConf::SubjectName() {
    return numeroSerie_.empty() ? std::string() : LoadCertificate().SubjectName();
}

std::string TCertificadosConf::CNPJ() {
    return numeroSerie_.empty() ? std::string() : LoadCertificate().CNPJ();
}

std::shared_ptr<const TClientCredentials> TCertificadosConf::Credentials() {
    const TCertificate& certificate = LoadCertificate();
    if (!credentials_ || credentialsSerial_ != numeroSerie_ || credentialsSenha_ != senha_) {
        credentials_ = std::make_shared<const TClientCredentials>(
            store_.LoadCredentials(certificate, senha_, digitada_));
        credentialsSerial_ = numeroSerie_;
        credentialsSenha_ = senha_;
    }
    return credentials_;
}

}  // namespace quelvo
