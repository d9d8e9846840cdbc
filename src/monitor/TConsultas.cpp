#include "monitor/TConsultas.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cstdio>
#include <filesystem>
#include <sstream>
#include <system_error>

#include "common/ConsultaSequencial.h"
#include "common/PayloadCipher.h"
#include "common/ProfileFile.h"
#include "common/Utils.h"
#include "common/Win1252.h"
#include "monitor/TTurnoEmpresa.h"
#include "platform/Paths.h"
#include "site/TTravonHttp.h"

namespace quelvo {

namespace {

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
    for (std::filesystem::directory_iterator it(platform::PathOf(folder), ec), end;
         !ec && it != end; it.increment(ec)) {
        std::error_code kind;
        if (it->is_directory(kind) && !it->is_symlink(kind)) {
            LimparPastaTemp(platform::Utf8Of(it->path()));
        } else {
            std::error_code ignored;
            std::filesystem::remove(it->path(), ignored);
        }
    }
}

void TConsultas::LogBloco(const std::vector<std::string>& linhas) {
    // One call: the lines reach the log together, and the program's thread is asked once.
    std::string texto;
    for (const auto& linha : linhas) {
        if (!texto.empty()) {
            texto += "\r\n";
        }
        texto += linha;
    }
    std::lock_guard lock(log_);
    sync_.EscreveLog(texto);
}

void TConsultas::AtualizarProgresso(int progresso) {
    std::lock_guard lock(progresso_);
    Progresso = progresso;
    sync_.AtualizaProgresso(*this);
}

TEnviosEmCurso::Reserva TEnviosEmCurso::Reservar(const std::string& chave,
                                                 const std::function<bool()>& enviada,
                                                 const std::function<bool()>& ligado) {
    std::unique_lock lock(mutex_);
    // The switch has no signal of its own here: it is looked at a few times a second.
    while (chaves_.count(chave) > 0) {
        if (!ligado()) {
            return Reserva();
        }
        livre_.wait_for(lock, std::chrono::milliseconds(100));
    }
    if (!ligado() || enviada()) {
        return Reserva();
    }
    chaves_.insert(chave);
    return Reserva(this, chave);
}

void TEnviosEmCurso::Liberar(const std::string& chave) {
    {
        std::lock_guard lock(mutex_);
        chaves_.erase(chave);
    }
    livre_.notify_all();
}

void TConsultas::Execute() {
    try {
        sync_.InicioRodada(*this);
        // The settings of the whole cycle, read once.
        const TProfileFile config(ambiente_.appDir + "Config.dat");
        sequencial_ = LerConsultaSequencial(config);
        simultaneas_ = LerConsultasSimultaneas(config);
        // The keys of companies removed or certificates replaced since the last cycle go.
        TCertificateStore::VarrerChavesAbertas();
        // Before anything is uploaded: what the cycle records must be able to reach the files.
        if (Ativo && GravarListas(true)) {
            ObterIDUsuario();
            if (param_.IDUsuario.Get().empty()) {
                Log("Não foi possível obter o ID do usuário.");
            } else {
                Turnos();
            }
        }
    } catch (...) {
        // An error outside a company's turn, the first call's included, ends the cycle quietly.
    }
    param_.TurnosEmCurso = 0;
    try {
        sync_.FimRodada();
    } catch (...) {
        // The seen-list files could not be written: nowhere to report it. FimRodada has ended
        // the cycle either way.
    }
}

void TConsultas::Turnos() {
    // The registry's companies in order, each CNPJ in one turn at a time, `simultaneas_` turns
    // at most; a turn that ends lets the next company start.
    std::mutex agenda;
    std::condition_variable mudou;
    const int n = param_.Empresas.Quantidade();
    int proximo = 0;
    bool fim = false;
    std::set<std::string> emCurso;  // CNPJ digits
    const auto trabalhar = [&] {
        for (;;) {
            EmpresaPtr empresa;
            std::string cnpj;
            {
                std::unique_lock lock(agenda);
                for (;;) {
                    if (fim || proximo >= n || !Ligado() || !PodeEnviar()) {
                        return;
                    }
                    empresa = param_.Empresas.ItemOrNull(proximo);
                    if (!empresa) {
                        fim = true;  // the registry shrank under the cycle
                        mudou.notify_all();
                        return;
                    }
                    if (empresa->Situacao() != "Esperando...") {
                        ++proximo;
                        continue;
                    }
                    cnpj = OnlyDigits(empresa->CNPJ());
                    if (emCurso.count(cnpj) == 0) {
                        break;
                    }
                    mudou.wait(lock);  // the same CNPJ is being queried: after that turn
                }
                ++proximo;
                emCurso.insert(cnpj);
                ++param_.TurnosEmCurso;
            }
            try {
                TTurnoEmpresa(*this, empresa).Executar();
                if (!GravarListas()) {
                    empresa->SetStatus(kEstadoErro, FalhaGravacao());
                    sync_.AtualizaLista();
                }
            } catch (...) {
                // A turn keeps its failures in the company's status; nothing else may stop the
                // other turns.
            }
            {
                std::lock_guard lock(agenda);
                emCurso.erase(cnpj);
                --param_.TurnosEmCurso;
            }
            mudou.notify_all();
        }
    };
    if (simultaneas_ <= 1) {
        trabalhar();
        return;
    }
    std::vector<std::thread> turnos;
    turnos.reserve(static_cast<size_t>(std::min(simultaneas_, n)));
    for (int i = 0; i < simultaneas_ && i < n; ++i) {
        try {
            turnos.emplace_back(trabalhar);
        } catch (const std::system_error& e) {
            // The system gives no more threads (a limit of tasks, memory): the turns that started
            // carry the cycle, or this thread does when none could.
            Log("Não foi possível iniciar mais consultas ao mesmo tempo (" + std::string(e.what()) +
                "): o ciclo continua com " + std::to_string(std::max<size_t>(turnos.size(), 1)) +
                (turnos.size() > 1 ? " consultas ao mesmo tempo." : " consulta de cada vez."));
            break;
        }
    }
    if (turnos.empty()) {
        trabalhar();
    }
    for (auto& t : turnos) {
        t.join();
    }
}

bool TConsultas::GravarListas(bool sempre) {
    std::lock_guard lock(gravacao_);
    if (!PodeEnviar()) {
        return false;
    }
    const auto agora = std::chrono::steady_clock::now();
    // Taken before the save: whatever is added meanwhile counts as not saved yet.
    const uint64_t consultados = param_.Consultados.Version();
    const uint64_t nums = param_.ConsultadosNums.Version();
    const auto marcar = [&] { ultimaGravacaoNs_ = agora.time_since_epoch().count(); };
    if (!sempre && gravou_ && consultados == versaoConsultados_ && nums == versaoNums_) {
        marcar();
        return true;
    }
    try {
        param_.SalvarListas(ambiente_.appDir);
    } catch (const std::exception& e) {
        FalharLocked(e.what());
        return false;
    }
    gravou_ = true;
    versaoConsultados_ = consultados;
    versaoNums_ = nums;
    marcar();
    param_.ErroGravacao.Set("");
    return true;
}

void TConsultas::FalhaDeGravacao(const std::string& motivo) {
    std::lock_guard lock(gravacao_);
    if (!falhou_) {
        FalharLocked(motivo);
    }
}

void TConsultas::FalharLocked(const std::string& motivo) {
    falhaGravacao_ = std::string("Não foi possível gravar as listas de notas já enviadas (") +
                     motivo +
                     "). Os envios ao site foram interrompidos: nada é enviado sem ficar "
                     "registrado.";
    falhou_ = true;
    param_.ErroGravacao.Set(falhaGravacao_);
    param_.StatusTexto.Set(falhaGravacao_);
    Log(falhaGravacao_);
}

std::string TConsultas::FalhaGravacao() const {
    std::lock_guard lock(gravacao_);
    return falhaGravacao_;
}

void TConsultas::GravarSeVencido() {
    const auto agora = std::chrono::steady_clock::now().time_since_epoch().count();
    if (agora - ultimaGravacaoNs_ >=
        std::chrono::duration_cast<std::chrono::steady_clock::duration>(ambiente_.gravacao)
            .count()) {
        GravarListas();
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
