#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <utility>

namespace quelvo {

// Status codes of a company (the row's icon in the company list).
enum : int {
    kEstadoEsperando = 0,  // waiting or done
    kEstadoBuscando = 1,   // being queried
    kEstadoErro = 2,       // expired certificate or error
};

// One registered company. The registration fields are fixed at creation; the expiry date and the
// status pair change while the program runs, from the window's thread and from the worker, so
// they are guarded by the record's lock. `Estado` and `Situacao` are always written together.
class TConsultasEmpresa {
public:
    TConsultasEmpresa(std::string cnpj, std::string uf, std::string nome,
                      std::string certificadoDigital, std::string certSenha,
                      std::string vencimento);
    TConsultasEmpresa(const TConsultasEmpresa&) = delete;
    TConsultasEmpresa& operator=(const TConsultasEmpresa&) = delete;

    const std::string& CNPJ() const { return cnpj_; }
    const std::string& UF() const { return uf_; }
    const std::string& Nome() const { return nome_; }
    const std::string& CertificadoDigital() const { return certificadoDigital_; }
    const std::string& CertSenha() const { return certSenha_; }

    std::string Vencimento() const;
    void SetVencimento(std::string vencimento);

    int Estado() const;
    std::string Situacao() const;
    // Both halves of the status at one instant.
    std::pair<int, std::string> Status() const;
    void SetStatus(int estado, std::string situacao);
    // Grows with every change of the expiry date or the status (a write of the same values
    // changes nothing): a list shows a record again only when it changed.
    uint64_t Revisao() const { return revisao_; }

private:
    const std::string cnpj_;
    const std::string uf_;
    const std::string nome_;
    const std::string certificadoDigital_;
    const std::string certSenha_;

    mutable std::mutex mutex_;
    std::string vencimento_;
    int estado_ = kEstadoEsperando;
    std::string situacao_;
    std::atomic<uint64_t> revisao_{0};
};

}  // namespace quelvo
