#include "monitor/TConsultas.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <sstream>

#include "common/ConsultaSequencial.h"
#include "common/PayloadCipher.h"
#include "common/ProfileFile.h"
#include "common/Utils.h"
#include "common/Win1252.h"
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

std::string PayloadDate(const TDateTime& t) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second);
    return buf;
}

// The shortest form with at most 15 significant digits and "." as the point, whatever the
// process's locale.
std::string PayloadAmount(double v) {
    char buf[64];
    const auto [p, ec] = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 15);
    std::string s(buf, ec == std::errc{} ? p : buf);
    if (s.find('e') == std::string::npos && s.find('.') != std::string::npos) {
        while (s.back() == '0') {
            s.pop_back();
        }
        if (s.back() == '.') {
            s.pop_back();
        }
    }
    return s;
}

std::string Element(const char* name, const std::string& value) {
    return std::string("<") + name + ">" + value + "</" + name + ">";
}

const std::string kRegua(74, '=');

}  // namespace

TConsultasAmbiente TConsultasAmbiente::Of(const std::string& appDir) {
    return TConsultasAmbiente{appDir,
                              TServidores::Load(appDir),
                              TCertificateStore(appDir + "certificados/"),
                              appDir + "ac-confiaveis/",
                              std::make_shared<TDescansos>(appDir),
                              std::make_shared<TUltimosNSU>(appDir),
                              std::make_shared<TEnviosPendentes>(appDir)};
}

TConsultas::TConsultas(TConsultasParam& param, IConsultasSync& sync, TConsultasAmbiente ambiente)
    : param_(param), sync_(sync), ambiente_(std::move(ambiente)) {}

TConsultas::~TConsultas() {
    Join();
}

void TConsultas::Start() {
    thread_ = std::thread([this] {
        Execute();
        finished_ = true;
    });
}

void TConsultas::Join() {
    if (thread_.joinable()) {
        thread_.join();
    }
}

void TConsultas::Log(const std::string& text) {
    const TDateTime now = TDateTime::Now();
    sync_.EscreveLog(FormatShortDate(now) + " " + FormatLongTime(now) + " " + text);
}

void TConsultasAmbiente::PrepararCliente(TNFeClient& client, const TTravonHttpProxy& proxy) const {
    auto& c = client.Configuracoes;
    c.WebServices.Ambiente = TpcnTipoAmbiente::taProducao;
    c.Servidores = servidores;
    c.PastaAcConfiaveis = acConfiaveis;
    c.Certificados = TCertificadosConf(store);
    c.WebServices.UsarProxy(proxy);
}

void TConsultas::Configurar(TNFeClient& client) const {
    ambiente_.PrepararCliente(client, param_.Proxy.Get());
    auto& c = client.Configuracoes;
    c.Geral.SetPathSalvar(ambiente_.appDir + "temp/");
    c.Geral.Salvar = false;
    c.WebServices.Salvar = false;
}

void TConsultas::LimparPastaTemp(const std::string& folder) {
    std::error_code ec;
    for (std::filesystem::directory_iterator it(folder, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code kind;
        if (it->is_directory(kind) && !it->is_symlink(kind)) {
            LimparPastaTemp(it->path().string());
        } else {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

void TConsultas::Execute() {
    try {
        sync_.InicioRodada(*this);
        TNFeClient client;
        Configurar(client);
        // Before anything is uploaded: what the cycle records must be able to reach the files.
        if (Ativo && GravarListas(true)) {
            ObterIDUsuario();
            if (param_.IDUsuario.Get().empty()) {
                Log("Não foi possível obter o ID do usuário.");
            } else {
                const int n = param_.Empresas.Quantidade();
                for (int i = 0; i < n; ++i) {
                    if (!Ativo || !PodeEnviar()) {
                        break;
                    }
                    const EmpresaPtr empresa = param_.Empresas.ItemOrNull(i);
                    if (!empresa) {
                        break;  // the registry shrank under the cycle
                    }
                    if (empresa->Situacao() == "Esperando...") {
                        Turno(empresa, client);
                        if (!GravarListas()) {
                            empresa->SetStatus(kEstadoErro, falhaGravacao_);
                            sync_.AtualizaLista();
                        }
                    }
                }
            }
        }
    } catch (...) {
        // An error outside a company's turn, the first call's included, ends the cycle quietly.
    }
    try {
        sync_.FimRodada();
    } catch (...) {
        // The seen-list files could not be written: nowhere to report it. FimRodada has ended
        // the cycle either way.
    }
}

void TConsultas::Turno(const EmpresaPtr& empresa, TNFeClient& client) {
    NovasNotas = 0;
    falhasDeEnvio_ = 0;
    limite_.reset();
    retidos_ = 0;
    empresa->SetStatus(kEstadoBuscando, "Buscando...");
    sync_.AtualizaLista();
    const std::string cnpj = OnlyDigits(empresa->CNPJ());
    try {
        AvisarArquivosDanificados();
        // What an earlier turn could not deliver goes first: it needs no query.
        EnviarPendentes(cnpj);
        const auto agora = ambiente_.relogio();
        if (const auto descanso = ambiente_.descansos->Ativo(cnpj, agora, ambiente_.descanso)) {
            // The service must not be asked for this CNPJ yet.
            if (NovasNotas > 0) {
                LogNovasNotas(empresa);
            }
            empresa->SetStatus(
                descanso->cStat == kCStatConsumoIndevido ? kEstadoErro : kEstadoEsperando,
                TDescansos::Texto(*descanso, agora));
            sync_.AtualizaLista();
            sync_.AtualizaLista();
            return;
        }
        auto& cert = client.Configuracoes.Certificados;
        cert.SetNumeroSerie(empresa->CertificadoDigital());
        cert.SetSenha(empresa->CertSenha());
        Log("Verificando NFes emitidas para o CNPJ: " + empresa->CNPJ());
        const auto uf = ToInt32(UFCode(empresa->UF()));
        if (!uf) {
            throw std::runtime_error("UF inválida: \"" + empresa->UF() + "\".");
        }
        if (LerConsultaSequencial(TProfileFile(ambiente_.appDir + "Config.dat"))) {
            TurnoSequencial(client, cnpj, *uf);
        } else if (ReservarConsulta(cnpj) && client.RequestDistribution(*uf, cnpj, "0", "0")) {
            MaxNSU = ToInt32(client.Services.Distribution.Response().maxNSU).value_or(0);
            ProcessarDocumentos(client, cnpj, 0);
            Caminhada(client, cnpj, *uf);
        }
        FimDoTurno(empresa);
    } catch (const ENFeRejeicao& e) {
        if (e.cStat == kCStatConsumoIndevido) {
            ConsumoIndevido(empresa, cnpj, e);
        } else {
            empresa->SetStatus(kEstadoErro, e.what());
        }
        sync_.AtualizaLista();
    } catch (const std::exception& e) {
        empresa->SetStatus(kEstadoErro, e.what());
        sync_.AtualizaLista();
    }
    sync_.AtualizaLista();
}

void TConsultas::FimDoTurno(const EmpresaPtr& empresa) {
    if (limite_) {
        const auto agora = ambiente_.relogio();
        std::string linha =
            "Limite de consultas por hora atingido para o CNPJ: " + empresa->CNPJ() +
            ". Nova consulta após " + TDescansos::Quando(limite_->fim, agora) + ".";
        if (NovasNotas > 0) {
            linha += ' ';
            linha += FormatThousands(NovasNotas) + " novas notas foram inseridas antes.";
        }
        Log(linha);
        empresa->SetStatus(kEstadoEsperando, TDescansos::Texto(*limite_, agora));
    } else if (retidos_ > 0) {
        const std::string texto =
            FormatThousands(static_cast<long long>(retidos_)) +
            " resumos aguardam o envio ao site; novos documentos serão lidos do serviço "
            "nacional quando eles forem enviados.";
        if (NovasNotas > 0) {
            LogNovasNotas(empresa);
        }
        Log("CNPJ " + empresa->CNPJ() + ": " + texto);
        empresa->SetStatus(kEstadoErro, texto);
    } else if (NovasNotas == 0) {
        const TDateTime now = TDateTime::Now();
        Log("O servidor nacional da fazenda não tem novas notas para o CNPJ: " + empresa->CNPJ() +
            "\r\n" + kRegua);
        empresa->SetStatus(kEstadoEsperando, "Nenhuma nova nota foi encontrada até " +
                                                 FormatShortDate(now) + " " + FormatLongTime(now));
    } else {
        LogNovasNotas(empresa);
        empresa->SetStatus(kEstadoEsperando,
                           FormatThousands(NovasNotas) + " novas notas foi inseridas");
    }
    sync_.AtualizaLista();
}

bool TConsultas::ReservarConsulta(const std::string& cnpj) {
    const auto agora = ambiente_.relogio();
    if (auto limite = ambiente_.descansos->LimiteAtingido(cnpj, agora, ambiente_.descanso)) {
        limite_ = limite;
        return false;
    }
    ambiente_.descansos->RegistrarConsulta(cnpj, agora, ambiente_.descanso);
    return true;
}

bool TConsultas::GravarListas(bool sempre) {
    if (!PodeEnviar()) {
        return false;
    }
    const auto agora = std::chrono::steady_clock::now();
    // Taken before the save: whatever is added meanwhile counts as not saved yet.
    const uint64_t consultados = param_.Consultados.Version();
    const uint64_t nums = param_.ConsultadosNums.Version();
    if (!sempre && gravou_ && consultados == versaoConsultados_ && nums == versaoNums_) {
        ultimaGravacao_ = agora;
        return true;
    }
    try {
        param_.SalvarListas(ambiente_.appDir);
    } catch (const std::exception& e) {
        falhaGravacao_ = std::string("Não foi possível gravar as listas de notas já enviadas (") +
                         e.what() +
                         "). Os envios ao site foram interrompidos: nada é enviado sem ficar "
                         "registrado.";
        param_.ErroGravacao.Set(falhaGravacao_);
        param_.StatusTexto.Set(falhaGravacao_);
        Log(falhaGravacao_);
        return false;
    }
    gravou_ = true;
    versaoConsultados_ = consultados;
    versaoNums_ = nums;
    ultimaGravacao_ = agora;
    param_.ErroGravacao.Set("");
    return true;
}

void TConsultas::GravarSeVencido() {
    if (std::chrono::steady_clock::now() - ultimaGravacao_ >= ambiente_.gravacao) {
        GravarListas();
    }
}

void TConsultas::LogNovasNotas(const EmpresaPtr& empresa) {
    Log(FormatThousands(NovasNotas) + " novas notas foi inseridas para o CNPJ: " + empresa->CNPJ() +
        "\r\n" + kRegua);
}

void TConsultas::AvisarArquivosDanificados() {
    for (const std::string& aviso :
         {ambiente_.descansos->TomarAviso(), ambiente_.ultimosNsu->TomarAviso(),
          ambiente_.pendentes->TomarAviso()}) {
        if (!aviso.empty()) {
            Log(aviso);
        }
    }
}

void TConsultas::Descansar(const std::string& cnpj, int cStat) {
    ambiente_.descansos->Descansar(cnpj, ambiente_.relogio() + ambiente_.descanso, cStat);
}

void TConsultas::ConsumoIndevido(const EmpresaPtr& empresa, const std::string& cnpj,
                                 const ENFeRejeicao& e) {
    const auto agora = ambiente_.relogio();
    std::string falha;
    try {
        Descansar(cnpj, kCStatConsumoIndevido);
    } catch (const std::exception& x) {
        // The rest still holds for this run; only a restart would forget it.
        falha = std::string(" ") + x.what();
    }
    const std::string motivo = std::to_string(e.cStat) + " - " + e.xMotivo;
    empresa->SetStatus(kEstadoErro, motivo);
    std::string linha = "Consumo indevido para o CNPJ: " + empresa->CNPJ() + " (" + motivo +
                        "). Nova consulta após " +
                        TDescansos::Quando(agora + ambiente_.descanso, agora) + ".";
    if (NovasNotas > 0) {
        // Built in steps: GCC 12 warns falsely on " " + string.
        linha += ' ';
        linha += FormatThousands(NovasNotas) + " novas notas foram inseridas antes.";
    }
    Log(linha + falha);
}

void TConsultas::Caminhada(TNFeClient& client, const std::string& cnpj, int uf) {
    bool continuar = true;
    int s = MaxNSU;
    const std::string temp = ambiente_.appDir + "temp/";
    while (s > 0 && continuar && Ativo && PodeEnviar()) {
        const std::string key = cnpj + std::to_string(s);
        if (!param_.ConsultadosNums.Contains(key)) {
            if (!ReservarConsulta(cnpj)) {
                break;  // the budget is used up: the next turn goes on from this NSU
            }
            try {
                if (client.RequestDistribution(uf, cnpj, "0", std::to_string(s))) {
                    ProcessarDocumentos(client, cnpj, s);
                }
                continuar = client.Services.Distribution.Response().cStat == 138;
            } catch (const ENFeRejeicao& e) {
                // The CNPJ is blocked: every further query would start the hour again.
                if (e.cStat == kCStatConsumoIndevido) {
                    throw;
                }
            } catch (...) {
                // A failed NSU is queried again in a later cycle; the walk goes on.
            }
        } else {
            param_.StatusTexto.Set(kJaTinhaNoTemp);
        }
        --s;
        Progresso = MaxNSU - s;
        LimparPastaTemp(temp);
        sync_.AtualizaProgresso(*this);
        GravarSeVencido();
    }
}

void TConsultas::TurnoSequencial(TNFeClient& client, const std::string& cnpj, int uf) {
    const std::string temp = ambiente_.appDir + "temp/";
    long long ult = ambiente_.ultimosNsu->Ler(cnpj);
    int lidos = 0;
    for (;;) {
        if (const size_t n = ambiente_.pendentes->Quantos(cnpj); n >= ambiente_.maximoPendentes) {
            retidos_ = n;
            return;
        }
        client.RequestDistribution(uf, cnpj, std::to_string(ult), "");
        const TRetDistDFeInt& r = client.Services.Distribution.Response();
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
                if (!RegistrarSemEnvio(item, cnpj, n)) {
                    enviar.push_back(&item);
                    pendentes.push_back({cnpj, n, item.XML});
                }
            }
        }
        if (!pendentes.empty()) {
            ambiente_.pendentes->Acrescentar(pendentes);
        }
        ambiente_.ultimosNsu->Gravar(cnpj, *novo);
        std::vector<long long> aceitos;
        for (size_t i = 0; i < enviar.size() && falhasDeEnvio_ < kFalhasDeEnvioSeguidas; ++i) {
            const long long n = pendentes[i].nsu;
            if (EnviarChave(enviar[i]->resNFe, cnpj, static_cast<int>(n))) {
                RegistrarEnviado(enviar[i]->resNFe.chNFe, cnpj + std::to_string(n));
                aceitos.push_back(n);
            }
        }
        ambiente_.pendentes->Remover(cnpj, aceitos);
        lidos += static_cast<int>(r.docZip.size());
        Progresso = lidos;
        LimparPastaTemp(temp);
        sync_.AtualizaProgresso(*this);
        GravarSeVencido();
        if (!PodeEnviar()) {
            return;  // what was not sent stays pending
        }
        if (r.cStat == 137 || !max || *novo >= *max) {
            // Nothing more to read for now: the service wants an hour before the next distNSU.
            Descansar(cnpj, 137);
            return;
        }
        if (falhasDeEnvio_ >= kFalhasDeEnvioSeguidas) {
            Log("O site não respondeu; os resumos não enviados do CNPJ " + cnpj +
                " ficam pendentes para o próximo ciclo.");
            return;
        }
        if (*novo <= ult || !Ativo) {
            return;  // the next turn goes on from the stored ultNSU
        }
        ult = *novo;
    }
}

void TConsultas::EnviarPendentes(const std::string& cnpj) {
    const auto lista = ambiente_.pendentes->DoCnpj(cnpj);
    std::vector<long long> feitos;
    for (const auto& envio : lista) {
        if (falhasDeEnvio_ >= kFalhasDeEnvioSeguidas || !PodeEnviar()) {
            break;
        }
        const TresNFe resumo = LerResNFe(envio.xml);
        const std::string queryKey = cnpj + std::to_string(envio.nsu);
        if (param_.Consultados.Contains(resumo.chNFe)) {
            // Delivered meanwhile for another company.
            RegistrarEnviado(resumo.chNFe, queryKey);
            feitos.push_back(envio.nsu);
        } else if (EnviarChave(resumo, cnpj, static_cast<int>(envio.nsu))) {
            RegistrarEnviado(resumo.chNFe, queryKey);
            feitos.push_back(envio.nsu);
        }
    }
    ambiente_.pendentes->Remover(cnpj, feitos);
}

void TConsultas::ProcessarDocumentos(TNFeClient& client, const std::string& cnpj, long long nsu) {
    const TRetDistDFeInt& response = client.Services.Distribution.Response();
    if (response.cStat != 138) {
        return;
    }
    for (const auto& item : response.docZip) {
        if (RegistrarSemEnvio(item, cnpj, nsu)) {
            continue;
        }
        if (EnviarChave(item.resNFe, cnpj, ToInt32(item.NSU).value_or(0))) {
            param_.Consultados.Add(item.resNFe.chNFe);
            param_.ConsultadosNums.Add(cnpj + std::to_string(nsu));
        }
    }
}

bool TConsultas::RegistrarSemEnvio(const TdocZipCollectionItem& item, const std::string& cnpj,
                                   long long n) {
    const std::string& key = item.resNFe.chNFe;
    const std::string queryKey = cnpj + std::to_string(n);
    if (item.XML.find("<resNFe ") == std::string::npos) {
        // A full invoice or an event: handled as it is, nothing to send.
        RegistrarEnviado(key, queryKey);
        return true;
    }
    if (param_.Consultados.Contains(key)) {
        // Sent already, for another company: its NSU needs no further query.
        if (!param_.ConsultadosNums.Contains(queryKey)) {
            param_.ConsultadosNums.Add(queryKey);
        }
        return true;
    }
    return n != 0 && param_.ConsultadosNums.Contains(queryKey);
}

void TConsultas::RegistrarEnviado(const std::string& chave, const std::string& queryKey) {
    if (!param_.Consultados.Contains(chave)) {
        param_.Consultados.Add(chave);
    }
    if (!param_.ConsultadosNums.Contains(queryKey)) {
        param_.ConsultadosNums.Add(queryKey);
    }
}

std::string TConsultas::MontarPayload(const TresNFe& r, const std::string& cnpj,
                                      const std::string& idUsuario, int nsu) {
    return Element("CNPJDestinatario", cnpj) + Element("IDUsuario", idUsuario) +
           "<versao>0</versao>" + Element("chNFe", r.chNFe) + Element("CNPJ", r.CNPJCPF) +
           Element("xNome", r.xNome) + Element("IE", r.IE) +
           Element("dhEmi", PayloadDate(r.dhEmi)) +
           Element("tpNF", std::to_string(static_cast<int>(r.tpNF))) +
           Element("vNF", PayloadAmount(r.vNF)) + Element("digVal", r.digVal) +
           Element("dhRecbto", PayloadDate(r.dhRecbto)) + Element("nProt", r.nProt) +
           Element("cSitNFe", std::to_string(static_cast<int>(r.cSitNFe))) +
           Element("nsu", std::to_string(nsu));
}

bool TConsultas::EnviarChave(const TresNFe& resumo, const std::string& cnpj, int nsu) {
    if (!PodeEnviar()) {
        return false;  // what could not be recorded is never sent
    }
    try {
        TTravonHttp http;
        http.Proxy = param_.Proxy.Get();
        http.SetMultiPart(true);
        std::stringstream stream;
        // The payload's texts come from the document as the service sent them (UTF-8); the
        // site has always received those bytes.
        CipherToStream(MontarPayload(resumo, cnpj, param_.IDUsuario.Get(), nsu), stream, kTravonKey,
                       false);
        http.AddFileField("hash", "hash", stream);
        const std::string answer =
            http.PostText("http://" + ambiente_.servidores.SiteChaves + "/chaves.php");
        falhasDeEnvio_ = 0;
        const bool accepted = answer == "OK" || answer == "JA";
        if (answer == "OK") {
            ++NovasNotas;
        }
        if (!accepted) {
            Log("Erro ao inserir a chave " + resumo.chNFe + " Descrição: " + answer);
        }
        if (answer == "OK") {
            NotificarNota(resumo.xNome, cnpj);
        }
        const bool blank = resumo.chNFe.find_first_not_of(" \t\r\n") == std::string::npos;
        param_.StatusTexto.Set(blank ? "none"
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

void TConsultas::NotificarNota(const std::string& de, const std::string& para) {
    sync_.MostraNota(de, para);
}

void TConsultas::ObterIDUsuario() {
    const std::string usuario = param_.Usuario.Get();
    if (usuario.empty()) {
        return;
    }
    try {
        TTravonHttp http;
        http.Proxy = param_.Proxy.Get();
        http.SetMultiPart(true);
        std::stringstream request;
        // The user name is text the user typed: Windows-1252 on the wire.
        CipherToStream(Utf8ToWin1252(usuario), request, kTravonKey, false);
        http.AddFileField("hash", "hash", request);
        std::stringstream answer;
        http.Post("http://" + ambiente_.servidores.SiteChaves + "/chaves.php?t=id", answer);
        param_.IDUsuario.Set(OnlyDigits(BytesToString(CipherStream(answer, kTravonKey, true))));
    } catch (...) {
        // The previous identity stays in use.
    }
}

}  // namespace quelvo
