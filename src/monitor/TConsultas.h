#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "certificates/TCertificateStore.h"
#include "common/TServidores.h"
#include "dfe/ENFeRejeicao.h"
#include "dfe/TNFeClient.h"
#include "monitor/IConsultasSync.h"
#include "monitor/TConsultasParam.h"
#include "monitor/TDescansos.h"
#include "monitor/TEnviosPendentes.h"
#include "monitor/TUltimosNSU.h"

namespace quelvo {

// Where a worker finds the outside world: the application folder, the hosts, the certificate
// store and the extra trust anchors of the national service's chain; the files that keep what
// the national service's usage rules need across cycles and runs (shared by every worker of a
// schedule); the clock and the length of a rest.
struct TConsultasAmbiente {
    using Relogio = std::function<std::chrono::system_clock::time_point()>;

    std::string appDir;
    TServidores servidores;
    TCertificateStore store;
    std::string acConfiaveis;
    std::shared_ptr<TDescansos> descansos;
    std::shared_ptr<TUltimosNSU> ultimosNsu;
    std::shared_ptr<TEnviosPendentes> pendentes;
    Relogio relogio = [] { return std::chrono::system_clock::now(); };
    // How long the service blocks a CNPJ after a 656, and how long a CNPJ that has read
    // everything waits before the next distNSU.
    std::chrono::milliseconds descanso = std::chrono::hours(1);
    // How long a walk goes at most without saving the seen-lists (besides the save after every
    // company's turn).
    std::chrono::milliseconds gravacao = std::chrono::minutes(1);
    // How many summaries may wait for the site per CNPJ before the sequential mode stops reading.
    size_t maximoPendentes = TEnviosPendentes::kMaximoPorCnpj;

    // The application folder's: its "Servidores.ini", "certificados", "ac-confiaveis",
    // "Descansos.dat", "UltimosNSU.dat" and "EnviosPendentes.dat".
    static TConsultasAmbiente Of(const std::string& appDir);
    // A new fiscal client for production, with these hosts, store, anchors and the proxy.
    void PrepararCliente(TNFeClient& client, const TTravonHttpProxy& proxy) const;
};

// One monitoring cycle on its own thread: walks the registry, queries the national service for
// every waiting company, NSU by NSU from the newest down, uploads every new invoice summary to the
// site and records what was handled in the seen-lists. It reaches the program only through the
// six synchronised calls. Whoever starts it joins it (Join, or the destructor).
// What it records reaches the files early: the seen-lists are saved before the first upload (the
// check that the folder can be written), after every company's turn and at least once every
// `gravacao` during a walk. A save that fails is shown at once (log line, status text, the
// company's status, `ErroGravacao`) and ends the cycle: nothing is uploaded that could not be
// recorded.
class TConsultas {
public:
    TConsultas(TConsultasParam& param, IConsultasSync& sync, TConsultasAmbiente ambiente);
    TConsultas(const TConsultas&) = delete;
    TConsultas& operator=(const TConsultas&) = delete;
    ~TConsultas();

    void Start();
    // True once the cycle has run its last synchronised call.
    bool Finished() const { return finished_; }
    void Join();

    // The cycle itself (Start runs it on the worker's thread).
    void Execute();

    // Invoice-key upload.
    void ObterIDUsuario();
    void ProcessarDocumentos(TNFeClient& client, const std::string& cnpj, long long nsu);
    bool EnviarChave(const TresNFe& resumo, const std::string& cnpj, int nsu);
    void NotificarNota(const std::string& de, const std::string& para);
    // The fifteen-element payload of an upload.
    static std::string MontarPayload(const TresNFe& resumo, const std::string& cnpj,
                                     const std::string& idUsuario, int nsu);

    void Configurar(TNFeClient& client) const;
    // Deletes every file in the folder and its subfolders, keeping the folders.
    static void LimparPastaTemp(const std::string& folder);
    void Log(const std::string& text);

    // The worker's own fields, handed across in the synchronised calls.
    int Progresso = 0;
    int MaxNSU = 0;
    bool Ativo = false;
    int NovasNotas = 0;

private:
    void Turno(const EmpresaPtr& empresa, TNFeClient& client);
    // The default mode: NSU 0 for maxNSU, then one NSU per query from maxNSU down.
    void Caminhada(TNFeClient& client, const std::string& cnpj, int uf);
    // The sequential mode: distNSU from the stored ultNSU, up to 50 documents per answer, until
    // the service has nothing more; then the CNPJ rests.
    void TurnoSequencial(TNFeClient& client, const std::string& cnpj, int uf);
    // The summaries the sequential mode could not deliver yet, sent again without any query.
    void EnviarPendentes(const std::string& cnpj);
    // Records what a document needs when nothing is to be sent for it (a full invoice, an event,
    // a summary already handled), with query key d followed by n. False for a summary to send.
    bool RegistrarSemEnvio(const TdocZipCollectionItem& item, const std::string& cnpj, long long n);
    void RegistrarEnviado(const std::string& chave, const std::string& queryKey);
    // Counts a consNSU in the CNPJ's own budget before it is sent. False when the budget is used
    // up (`limite_` then says until when): the query must not be sent. Raises when the count
    // cannot be written.
    bool ReservarConsulta(const std::string& cnpj);
    // The status and log lines of a turn that ended without a rejection.
    void FimDoTurno(const EmpresaPtr& empresa);
    // A 656: the company's turn ends, and its CNPJ rests.
    void ConsumoIndevido(const EmpresaPtr& empresa, const std::string& cnpj, const ENFeRejeicao& e);
    void Descansar(const std::string& cnpj, int cStat);
    void LogNovasNotas(const EmpresaPtr& empresa);
    // Logs, once, what the readers of the rule files left out of a damaged file.
    void AvisarArquivosDanificados();
    // Saves both seen-lists when they changed since the last save (`sempre`: in any case). False
    // once a save has failed: the failure is shown and the cycle uploads nothing more.
    bool GravarListas(bool sempre = false);
    // GravarListas when `gravacao` has passed since the last save.
    void GravarSeVencido();
    bool PodeEnviar() const { return falhaGravacao_.empty(); }

    TConsultasParam& param_;
    IConsultasSync& sync_;
    TConsultasAmbiente ambiente_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    // Upload attempts in a row that got no answer from the site (not a refusal: no answer).
    int falhasDeEnvio_ = 0;
    // The turn stopped at the CNPJ's own budget of consNSU queries: until when.
    std::optional<TDescansos::Descanso> limite_;
    // The turn read nothing from the service because this many summaries still wait to be sent.
    size_t retidos_ = 0;
    // The last save of the seen-lists: when, and the lists' versions it wrote.
    std::chrono::steady_clock::time_point ultimaGravacao_{};
    bool gravou_ = false;
    uint64_t versaoConsultados_ = 0;
    uint64_t versaoNums_ = 0;
    // Why the seen-lists could not be saved; "" while they can.
    std::string falhaGravacao_;
};

// Upload attempts in a row without an answer after which the sequential mode stops sending for
// the rest of the company's turn: the site is out of reach, and each attempt may take a time-out.
inline constexpr int kFalhasDeEnvioSeguidas = 3;

// The text after which the walk found a key: the NSU needs no query.
inline constexpr const char* kJaTinhaNoTemp = "Já tinha no temp.";

}  // namespace quelvo
