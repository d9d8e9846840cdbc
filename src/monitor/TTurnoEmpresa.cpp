#include "monitor/TTurnoEmpresa.h"

#include <charconv>
#include <climits>
#include <sstream>

#include "certificates/TPinsRecusados.h"
#include "common/PayloadCipher.h"
#include "common/Utils.h"
#include "dfe/TRetDistDFeInt.h"
#include "monitor/TConsultas.h"
#include "site/TTravonHttp.h"

namespace quelvo {

namespace {

// A decimal text as a 32-bit number; nothing when it is not one or does not fit.
std::optional<int> ToInt32(const std::string& text) {
    long long v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || p != text.data() + text.size() || v > INT_MAX ||
        v < INT_MIN) {
        return std::nullopt;
    }
    return static_cast<int>(v);
}

const std::string kRegua(74, '=');

}  // namespace

TTurnoEmpresa::TTurnoEmpresa(TConsultas& ciclo, EmpresaPtr empresa)
    : ciclo_(ciclo), empresa_(std::move(empresa)), cnpj_(OnlyDigits(empresa_->CNPJ())) {
    ciclo_.Configurar(client_);
}

bool TTurnoEmpresa::Ativo() const {
    return ciclo_.Ligado();
}

void TTurnoEmpresa::Log(const std::string& text) {
    if (ciclo_.Simultaneas() == 1) {
        ciclo_.Log(text);
        return;
    }
    const TDateTime now = TDateTime::Now();
    bloco_.push_back(FormatShortDate(now) + " " + FormatLongTime(now) + " " + text);
}

void TTurnoEmpresa::Executar() {
    IConsultasSync& sync = ciclo_.Sync();
    const auto& ambiente = ciclo_.Ambiente();
    empresa_->SetStatus(kEstadoBuscando, "Buscando...");
    sync.AtualizaLista();
    try {
        AvisarArquivosDanificados();
        // What an earlier turn could not deliver goes first: it needs no query.
        EnviarPendentes();
        const auto agora = ambiente.relogio();
        if (const auto descanso = ambiente.descansos->Ativo(cnpj_, agora, ambiente.descanso)) {
            // The service must not be asked for this CNPJ yet.
            if (novasNotas_ > 0) {
                LogNovasNotas();
            }
            empresa_->SetStatus(
                descanso->cStat == kCStatConsumoIndevido ? kEstadoErro : kEstadoEsperando,
                TDescansos::Texto(*descanso, agora));
            sync.AtualizaLista();
        } else {
            auto& cert = client_.Configuracoes.Certificados;
            cert.SetNumeroSerie(empresa_->CertificadoDigital());
            cert.SetSenha(empresa_->CertSenha());
            Log("Verificando NFes emitidas para o CNPJ: " + empresa_->CNPJ());
            const auto uf = ToInt32(UFCode(empresa_->UF()));
            if (!uf) {
                throw std::runtime_error("UF inválida: \"" + empresa_->UF() + "\".");
            }
            if (ciclo_.Sequencial()) {
                Sequencial(*uf);
            } else if (ReservarConsulta() && client_.RequestDistribution(*uf, cnpj_, "0", "0")) {
                maxNSU_ = ToInt32(client_.Services.Distribution.Response().maxNSU).value_or(0);
                ProcessarDocumentos(0);
                Caminhada(*uf);
            }
            Fim();
        }
    } catch (const ENFeRejeicao& e) {
        if (e.cStat == kCStatConsumoIndevido) {
            ConsumoIndevido(e);
        } else {
            empresa_->SetStatus(kEstadoErro, e.what());
        }
        sync.AtualizaLista();
    } catch (const std::exception& e) {
        empresa_->SetStatus(kEstadoErro, e.what());
        sync.AtualizaLista();
    }
    // A token's login in this turn may have read a damaged file of refused PINs.
    AvisarArquivosDanificados();
    if (!bloco_.empty()) {
        ciclo_.LogBloco(bloco_);
    }
    sync.AtualizaLista();
}

void TTurnoEmpresa::Fim() {
    if (limite_) {
        const auto agora = ciclo_.Ambiente().relogio();
        std::string linha =
            "Limite de consultas por hora atingido para o CNPJ: " + empresa_->CNPJ() +
            ". Nova consulta após " + TDescansos::Quando(limite_->fim, agora) + ".";
        if (novasNotas_ > 0) {
            linha += ' ';
            linha += FormatThousands(novasNotas_) + " novas notas foram inseridas antes.";
        }
        Log(linha);
        empresa_->SetStatus(kEstadoEsperando, TDescansos::Texto(*limite_, agora));
    } else if (siteSemResposta_) {
        if (novasNotas_ > 0) {
            LogNovasNotas();
        }
        empresa_->SetStatus(kEstadoErro,
                            "O site não respondeu; os resumos lidos ficam pendentes "
                            "para o próximo ciclo.");
    } else if (retidos_ > 0) {
        const std::string texto =
            FormatThousands(static_cast<long long>(retidos_)) +
            " resumos aguardam o envio ao site; novos documentos serão lidos do serviço "
            "nacional quando eles forem enviados.";
        if (novasNotas_ > 0) {
            LogNovasNotas();
        }
        Log("CNPJ " + empresa_->CNPJ() + ": " + texto);
        empresa_->SetStatus(kEstadoErro, texto);
    } else if (novasNotas_ == 0) {
        const TDateTime now = TDateTime::Now();
        Log("O servidor nacional da fazenda não tem novas notas para o CNPJ: " + empresa_->CNPJ() +
            "\r\n" + kRegua);
        empresa_->SetStatus(kEstadoEsperando, "Nenhuma nova nota foi encontrada até " +
                                                  FormatShortDate(now) + " " + FormatLongTime(now));
    } else {
        LogNovasNotas();
        empresa_->SetStatus(kEstadoEsperando,
                            FormatThousands(novasNotas_) + " novas notas foi inseridas");
    }
    ciclo_.Sync().AtualizaLista();
}

bool TTurnoEmpresa::ReservarConsulta() {
    const auto& ambiente = ciclo_.Ambiente();
    const auto agora = ambiente.relogio();
    if (auto limite = ambiente.descansos->LimiteAtingido(cnpj_, agora, ambiente.descanso)) {
        limite_ = limite;
        return false;
    }
    if (!RegistrosNoDisco()) {
        return false;
    }
    ambiente.descansos->RegistrarConsulta(cnpj_, agora, ambiente.descanso);
    return true;
}

bool TTurnoEmpresa::RegistrosNoDisco() {
    try {
        ciclo_.Param().SincronizarListas(ciclo_.Ambiente().appDir);
        return true;
    } catch (const std::exception& e) {
        ciclo_.FalhaDeGravacao(e.what());
        return false;
    }
}

void TTurnoEmpresa::LogNovasNotas() {
    Log(FormatThousands(novasNotas_) +
        " novas notas foi inseridas para o CNPJ: " + empresa_->CNPJ() + "\r\n" + kRegua);
}

void TTurnoEmpresa::AvisarArquivosDanificados() {
    const auto& ambiente = ciclo_.Ambiente();
    for (const std::string& aviso :
         {ambiente.descansos->TomarAviso(), ambiente.ultimosNsu->TomarAviso(),
          ambiente.pendentes->TomarAviso(), TPinsRecusados::TomarAvisos()}) {
        if (!aviso.empty()) {
            Log(aviso);
        }
    }
}

void TTurnoEmpresa::Descansar(int cStat) {
    const auto& ambiente = ciclo_.Ambiente();
    ambiente.descansos->Descansar(cnpj_, ambiente.relogio() + ambiente.descanso, cStat);
}

void TTurnoEmpresa::ConsumoIndevido(const ENFeRejeicao& e) {
    const auto& ambiente = ciclo_.Ambiente();
    const auto agora = ambiente.relogio();
    std::string falha;
    try {
        Descansar(kCStatConsumoIndevido);
    } catch (const std::exception& x) {
        // The rest still holds for this run; only a restart would forget it.
        falha = std::string(" ") + x.what();
    }
    const std::string motivo = std::to_string(e.cStat) + " - " + e.xMotivo;
    empresa_->SetStatus(kEstadoErro, motivo);
    std::string linha = "Consumo indevido para o CNPJ: " + empresa_->CNPJ() + " (" + motivo +
                        "). Nova consulta após " +
                        TDescansos::Quando(agora + ambiente.descanso, agora) + ".";
    if (novasNotas_ > 0) {
        // Built in steps: GCC 12 warns falsely on " " + string.
        linha += ' ';
        linha += FormatThousands(novasNotas_) + " novas notas foram inseridas antes.";
    }
    Log(linha + falha);
}

void TTurnoEmpresa::FimDoPasso(bool consultou) {
    if (consultou) {
        TConsultas::LimparPastaTemp(ciclo_.Ambiente().appDir + "temp/");
    }
    ciclo_.AtualizarProgresso(progresso_);
    ciclo_.GravarSeVencido();
}

void TTurnoEmpresa::Caminhada(int uf) {
    bool continuar = true;
    int s = maxNSU_;
    while (s > 0 && continuar && Ativo() && ciclo_.PodeEnviar()) {
        const std::string key = cnpj_ + std::to_string(s);
        bool consultou = false;
        if (!ciclo_.Param().ConsultadosNums.Contains(key)) {
            if (!ReservarConsulta()) {
                break;  // the budget is used up: the next turn goes on from this NSU
            }
            consultou = true;
            try {
                if (client_.RequestDistribution(uf, cnpj_, "0", std::to_string(s))) {
                    ProcessarDocumentos(s);
                }
                continuar = client_.Services.Distribution.Response().cStat == 138;
            } catch (const ENFeRejeicao& e) {
                // The CNPJ is blocked: every further query would start the hour again.
                if (e.cStat == kCStatConsumoIndevido) {
                    throw;
                }
            } catch (...) {
                // A failed NSU is queried again in a later cycle; the walk goes on.
            }
        } else {
            ciclo_.Param().StatusTexto.Set(kJaTinhaNoTemp);
        }
        --s;
        progresso_ = maxNSU_ - s;
        FimDoPasso(consultou);
    }
}

void TTurnoEmpresa::Sequencial(int uf) {
    const auto& ambiente = ciclo_.Ambiente();
    long long ult = ambiente.ultimosNsu->Ler(cnpj_);
    int lidos = 0;
    for (;;) {
        if (const size_t n = ambiente.pendentes->Quantos(cnpj_); n >= ambiente.maximoPendentes) {
            retidos_ = n;
            return;
        }
        if (!RegistrosNoDisco()) {
            return;
        }
        client_.RequestDistribution(uf, cnpj_, std::to_string(ult), "");
        const TRetDistDFeInt& r = client_.Services.Distribution.Response();
        const auto novo = ToInt32(r.ultNSU);
        const auto max = ToInt32(r.maxNSU);
        if (!novo || *novo < 0) {
            throw std::runtime_error(
                "O serviço nacional respondeu com um ultNSU que não é um número válido: \"" +
                r.ultNSU + "\".");
        }
        // Every summary to send is written down before the stored ultNSU moves past it.
        std::vector<const TdocZipCollectionItem*> enviar;
        std::vector<TEnviosPendentes::Envio> pendentes;
        if (r.cStat == 138) {
            for (const auto& item : r.docZip) {
                const long long n = ToInt32(item.NSU).value_or(0);
                if (!RegistrarSemEnvio(item, n)) {
                    enviar.push_back(&item);
                    pendentes.push_back({cnpj_, n, item.XML});
                }
            }
        }
        if (!pendentes.empty()) {
            ambiente.pendentes->Acrescentar(pendentes);
        }
        ambiente.ultimosNsu->Gravar(cnpj_, *novo);
        std::vector<long long> aceitos;
        for (size_t i = 0; i < enviar.size() && falhasDeEnvio_ < kFalhasDeEnvioSeguidas; ++i) {
            if (!Ativo()) {
                break;  // what was not sent stays pending
            }
            if (Entregar(enviar[i]->resNFe, pendentes[i].nsu)) {
                aceitos.push_back(pendentes[i].nsu);
            }
        }
        // What the site took leaves the pending file only once its record is on the disk.
        if (!aceitos.empty() && !RegistrosNoDisco()) {
            return;
        }
        ambiente.pendentes->Remover(cnpj_, aceitos);
        lidos += static_cast<int>(r.docZip.size());
        progresso_ = lidos;
        FimDoPasso(true);
        if (!ciclo_.PodeEnviar()) {
            return;  // what was not sent stays pending
        }
        if (r.cStat == 137 || !max || *novo >= *max) {
            // Nothing more to read for now: the service wants an hour before the next distNSU.
            Descansar(137);
            return;
        }
        if (falhasDeEnvio_ >= kFalhasDeEnvioSeguidas) {
            Log("O site não respondeu; os resumos não enviados do CNPJ " + cnpj_ +
                " ficam pendentes para o próximo ciclo.");
            siteSemResposta_ = true;
            return;
        }
        if (*novo <= ult || !Ativo()) {
            return;  // the next turn goes on from the stored ultNSU
        }
        ult = *novo;
    }
}

void TTurnoEmpresa::EnviarPendentes() {
    const auto lista = ciclo_.Ambiente().pendentes->DoCnpj(cnpj_);
    std::vector<long long> feitos;
    for (const auto& envio : lista) {
        if (falhasDeEnvio_ >= kFalhasDeEnvioSeguidas || !ciclo_.PodeEnviar() || !Ativo()) {
            break;
        }
        if (Entregar(LerResNFe(envio.xml), envio.nsu)) {
            feitos.push_back(envio.nsu);
        }
    }
    if (!feitos.empty() && !RegistrosNoDisco()) {
        return;
    }
    ciclo_.Ambiente().pendentes->Remover(cnpj_, feitos);
}

void TTurnoEmpresa::ProcessarDocumentos(long long nsu) {
    const TRetDistDFeInt& response = client_.Services.Distribution.Response();
    if (response.cStat != 138) {
        return;
    }
    for (const auto& item : response.docZip) {
        if (!RegistrarSemEnvio(item, nsu)) {
            Entregar(item.resNFe, nsu);
        }
    }
}

bool TTurnoEmpresa::RegistrarSemEnvio(const TdocZipCollectionItem& item, long long n) {
    TConsultasParam& param = ciclo_.Param();
    const std::string& key = item.resNFe.chNFe;
    const std::string queryKey = cnpj_ + std::to_string(n);
    if (item.XML.find("<resNFe ") == std::string::npos) {
        // A full invoice or an event: handled as it is, nothing to send.
        RegistrarEnviado(key, queryKey);
        return true;
    }
    if (param.Consultados.Contains(key)) {
        // Sent already, for another company: its NSU needs no further query.
        RegistrarEnviado(key, queryKey);
        return true;
    }
    return n != 0 && param.ConsultadosNums.Contains(queryKey);
}

bool TTurnoEmpresa::Entregar(const TresNFe& resumo, long long nsu) {
    TConsultasParam& param = ciclo_.Param();
    const std::string queryKey = cnpj_ + std::to_string(nsu);
    const auto reserva = ciclo_.EnviosEmCurso().Reservar(
        resumo.chNFe, [&] { return param.Consultados.Contains(resumo.chNFe); },
        [this] { return Ativo(); });
    if (!Ativo()) {
        // Switched off, perhaps while another turn was sending it: the summary stays pending, the
        // NSU unrecorded, for a later cycle.
        return false;
    }
    if (!reserva) {
        // Another company's turn delivered it meanwhile: only this NSU is left to record.
        RegistrarEnviado(resumo.chNFe, queryKey);
        return true;
    }
    if (!EnviarChave(resumo, static_cast<int>(nsu))) {
        return false;
    }
    RegistrarEnviado(resumo.chNFe, queryKey);
    return true;
}

void TTurnoEmpresa::RegistrarEnviado(const std::string& chave, const std::string& queryKey) {
    try {
        ciclo_.Param().RegistrarEnviado(ciclo_.Ambiente().appDir, chave, queryKey);
    } catch (const std::exception& e) {
        ciclo_.FalhaDeGravacao(e.what());
    }
}

bool TTurnoEmpresa::EnviarChave(const TresNFe& resumo, int nsu) {
    if (!ciclo_.PodeEnviar()) {
        return false;  // what could not be recorded is never sent
    }
    TConsultasParam& param = ciclo_.Param();
    try {
        TTravonHttp http;
        http.Proxy = param.Proxy.Get();
        http.SetMultiPart(true);
        std::stringstream stream;
        // The payload's texts come from the document as the service sent them (UTF-8); the
        // site has always received those bytes.
        CipherToStream(TConsultas::MontarPayload(resumo, cnpj_, param.IDUsuario.Get(), nsu), stream,
                       kTravonKey, false);
        http.AddFileField("hash", "hash", stream);
        const std::string answer =
            http.PostText("http://" + ciclo_.Ambiente().servidores.SiteChaves + "/chaves.php");
        falhasDeEnvio_ = 0;
        const bool accepted = answer == "OK" || answer == "JA";
        if (answer == "OK") {
            ++novasNotas_;
        }
        if (!accepted) {
            Log("Erro ao inserir a chave " + resumo.chNFe + " Descrição: " + answer);
        }
        if (answer == "OK") {
            ciclo_.Sync().MostraNota(resumo.xNome, cnpj_);
        }
        const bool blank = resumo.chNFe.find_first_not_of(" \t\r\n") == std::string::npos;
        param.StatusTexto.Set(blank ? "none"
                                    : resumo.chNFe + " " +
                                          (answer == "OK"   ? "OK"
                                           : answer == "JA" ? "Já OK"
                                                            : "ERRO"));
        return accepted;
    } catch (...) {
        ++falhasDeEnvio_;
        return false;  // an HTTP failure is retried in a later cycle, silently
    }
}

}  // namespace quelvo
