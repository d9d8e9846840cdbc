#include "monitor/TCadastroEmpresa.h"

#include "certificates/CertificateAccess.h"
#include "common/TextTrim.h"
#include "common/Utils.h"
#include "dfe/ENFeRejeicao.h"
#include "dfe/ServiceUrls.h"
#include "dfe/TNFeClient.h"

namespace quelvo {

namespace {

constexpr const char* kPrefixo =
    "WebService Distribuição de DFe:\r\n- Inativo ou Inoperante tente novamente.\r\n- ";

TCadastroResultado Recusa(const std::string& mensagem,
                          TCadastroResultado::Foco foco = TCadastroResultado::Foco::Nenhum) {
    TCadastroResultado r;
    r.tipo = TCadastroResultado::Tipo::Recusado;
    r.mensagem = mensagem;
    r.foco = foco;
    return r;
}

// The 14 digits in the dialog's mask, "99.999.999/9999-99": the form every registration stores.
std::string ComMascara(const std::string& d) {
    return d.substr(0, 2) + "." + d.substr(2, 3) + "." + d.substr(5, 3) + "/" + d.substr(8, 4) +
           "-" + d.substr(12, 2);
}

}  // namespace

std::string TCadastroEmpresa::TextoDoErro(std::string erro) const {
    if (erro.find("WebService Distribuição de DFe:") != std::string::npos) {
        erro +=
            "\r\n\r\nVerifique no seu navegador \"Internet Explorer\" se você tem acesso a "
            "https://" +
            ambiente_.servidores.DFeProducao + kDistDFePath;
    }
    if (const size_t at = erro.find(kPrefixo); at != std::string::npos) {
        erro.erase(at, std::string(kPrefixo).size());
    }
    return erro;
}

TCadastroResultado TCadastroEmpresa::Confirmar(
    const TCadastroEntrada& e, const std::function<bool(const std::string&)>& confirm) {
    using Foco = TCadastroResultado::Foco;
    using Tipo = TCadastroResultado::Tipo;
    const std::string digits = OnlyDigits(e.CNPJ);
    if (digits.size() != 14) {
        return Recusa("É necessário digitar o CNPJ.", Foco::CNPJ);
    }
    // The dialog offers only the 27 states; a text outside them is no choice either.
    const std::string uf = Trim(e.UF);
    if (uf.empty() || UFCode(uf).empty()) {
        return Recusa("É necessário escolher a UF.", Foco::UF);
    }
    const std::string serie = Trim(e.Certificado);
    if (serie == kSemCertificado) {
        return Recusa("É necessário escolher o certificado digital.", Foco::Certificado);
    }
    // One company, one registration, however its number was written (with the mask, bare, or
    // as an earlier version stored it).
    bool registered = param_.Empresas.Localizar(e.CNPJ) >= 0;
    for (const auto& empresa : param_.Empresas.Itens()) {
        registered = registered || OnlyDigits(empresa->CNPJ()) == digits;
    }
    if (registered) {
        return Recusa("CNPJ já cadastrado");
    }
    TCadastroResultado r;
    r.cnpj = ComMascara(digits);
    r.uf = uf;
    r.serie = e.Certificado;
    TDateTime expiry;
    try {
        const TCertificate cert = FindCertificateBySerial(ambiente_.store, e.Certificado);
        expiry = cert.NotAfter();
        r.nome = cert.HolderName();
    } catch (const std::exception& ex) {
        r.tipo = Tipo::Erro;
        r.mensagem = ex.what();
        return r;
    }
    r.vencimento = FormatShortDate(expiry);
    const TDateTime today = clock_().DateOnly();
    if (today > expiry.DateOnly()) {
        return Recusa("Esse certificado digital foi válido até " + FormatShortDate(expiry) +
                      ".\r\nData atual nesse computador " + FormatShortDate(today));
    }

    // The test query counts as any other: never during the service's block of the CNPJ, never
    // past the CNPJ's own budget of one-document queries, and a 656 blocks it as in a cycle.
    const auto agora = ambiente_.relogio();
    try {
        const auto bloqueio = ambiente_.descansos->Ativo(digits, agora, ambiente_.descanso);
        if (bloqueio && bloqueio->cStat == kCStatConsumoIndevido) {
            return Recusa(TDescansos::Texto(*bloqueio, agora));
        }
        if (const auto limite =
                ambiente_.descansos->LimiteAtingido(digits, agora, ambiente_.descanso)) {
            return Recusa(TDescansos::Texto(*limite, agora));
        }
        ambiente_.descansos->RegistrarConsulta(digits, agora, ambiente_.descanso);
    } catch (const std::exception& ex) {
        r.tipo = Tipo::Erro;
        r.mensagem = ex.what();
        return r;
    }
    std::string erro;
    bool failed = false;
    try {
        TNFeClient client;
        ambiente_.PrepararCliente(client, param_.Proxy.Get());
        client.Configuracoes.Certificados.SetNumeroSerie(e.Certificado);
        client.Configuracoes.Certificados.SetSenha(e.Senha);
        client.Configuracoes.Certificados.SetSenhaDigitada(true);
        client.RequestDistribution(std::stoi(UFCode(uf)), digits, "0", "0");
    } catch (const ENFeRejeicao& ex) {
        failed = true;
        erro = ex.what();
        if (ex.cStat == kCStatConsumoIndevido) {
            const TDescansos::Descanso bloqueio{agora + ambiente_.descanso, kCStatConsumoIndevido};
            try {
                ambiente_.descansos->Descansar(digits, bloqueio.fim, bloqueio.cStat);
            } catch (const std::exception& x) {
                erro += "\r\n" + std::string(x.what());  // the rest holds for this run
            }
            erro += "\r\n\r\n" + TDescansos::Texto(bloqueio, agora);
        }
    } catch (const std::exception& ex) {
        failed = true;
        erro = ex.what();
    }
    if (failed && erro.empty()) {
        // An answer without retDistDFeInt leaves no reason; it is no successful test either.
        return Recusa(
            "Não foi possível ler a resposta do serviço de distribuição de DF-e. "
            "Tente novamente mais tarde.");
    }
    if (!erro.empty()) {
        return Recusa(TextoDoErro(erro));
    }

    r.limparCampos = true;
    if (!confirm(kConfirmacao)) {
        r.tipo = Tipo::Desistiu;
        return r;
    }
    try {
        param_.Empresas.Inserir(r.cnpj, uf, r.nome, e.Certificado, e.Senha, r.vencimento);
        r.tipo = Tipo::Cadastrado;
    } catch (const std::exception& ex) {
        r.tipo = Tipo::FalhaInserir;
        r.mensagem = std::string("Não foi possível inserir a empresa.\r\n") + ex.what();
    }
    return r;
}

}  // namespace quelvo
