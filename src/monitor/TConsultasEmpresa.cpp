#include "monitor/TConsultasEmpresa.h"

namespace quelvo {

TConsultasEmpresa::TConsultasEmpresa(std::string cnpj, std::string uf, std::string nome,
                                     std::string certificadoDigital, std::string certSenha,
                                     std::string vencimento)
    : cnpj_(std::move(cnpj)),
      uf_(std::move(uf)),
      nome_(std::move(nome)),
      certificadoDigital_(std::move(certificadoDigital)),
      certSenha_(std::move(certSenha)),
      vencimento_(std::move(vencimento)) {}

std::string TConsultasEmpresa::Vencimento() const {
    std::lock_guard lock(mutex_);
    return vencimento_;
}

void TConsultasEmpresa::SetVencimento(std::string vencimento) {
    std::lock_guard lock(mutex_);
    if (vencimento_ != vencimento) {
        vencimento_ = std::move(vencimento);
        ++revisao_;
    }
}

int TConsultasEmpresa::Estado() const {
    std::lock_guard lock(mutex_);
    return estado_;
}

std::string TConsultasEmpresa::Situacao() const {
    std::lock_guard lock(mutex_);
    return situacao_;
}

std::pair<int, std::string> TConsultasEmpresa::Status() const {
    std::lock_guard lock(mutex_);
    return {estado_, situacao_};
}

void TConsultasEmpresa::SetStatus(int estado, std::string situacao) {
    std::lock_guard lock(mutex_);
    if (estado_ != estado || situacao_ != situacao) {
        estado_ = estado;
        situacao_ = std::move(situacao);
        ++revisao_;
    }
}

}  // namespace quelvo
