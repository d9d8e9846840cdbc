#pragma once

#include <functional>
#include <string>

#include "common/DateTime.h"
#include "monitor/TConsultas.h"
#include "monitor/TConsultasParam.h"

namespace quelvo {

// What the registration dialog collects.
struct TCadastroEntrada {
    std::string CNPJ;  // as typed: with its punctuation, or its 14 digits alone
    std::string UF;
    std::string Certificado;  // the chosen serial number, or the placeholder text
    std::string Senha;
};

// What the dialog must do after "Confirmar".
struct TCadastroResultado {
    enum class Tipo {
        Recusado,      // a check failed: show `mensagem` (information box), fields unchanged
        Erro,          // an error the dialog does not handle: show it in an error box
        Desistiu,      // the user declined the confirmation: the dialog stays open
        Cadastrado,    // registered: the dialog closes
        FalhaInserir,  // the registry refused: show `mensagem` (error box), the dialog closes
    };
    enum class Foco { Nenhum, CNPJ, UF, Certificado };

    Tipo tipo = Tipo::Recusado;
    std::string mensagem;
    Foco foco = Foco::Nenhum;
    bool limparCampos = false;  // CNPJ, UF and certificate go back to their empty state
    // What was (or would be) registered.
    std::string cnpj, uf, nome, serie, vencimento;
};

// The rules of the company registration: the checks in their order, the certificate's expiry, a
// real test query to the national service with the company's certificate, the confirmation and
// the insertion into the registry. The CNPJ is stored in the dialog's mask ("11.222.333/0001-81")
// however it was typed, and a number already registered in any spelling is refused.
class TCadastroEmpresa {
public:
    static constexpr const char* kSemCertificado =
        "Clique aqui para escolher o certificado digital";
    static constexpr const char* kConfirmacao = "Deseja realmente inserir essa empresa ?";

    TCadastroEmpresa(TConsultasParam& param, TConsultasAmbiente ambiente,
                     std::function<TDateTime()> clock = &TDateTime::Now)
        : param_(param), ambiente_(std::move(ambiente)), clock_(std::move(clock)) {}

    TCadastroResultado Confirmar(const TCadastroEntrada& entrada,
                                 const std::function<bool(const std::string&)>& confirm);

    // The error text of a failed test query as the dialog shows it ("" when it needs none).
    std::string TextoDoErro(std::string erro) const;

private:
    TConsultasParam& param_;
    TConsultasAmbiente ambiente_;
    std::function<TDateTime()> clock_;
};

}  // namespace quelvo
