#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <thread>
#include <unordered_set>
#include <utility>
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

// The keys being uploaded at this moment by some company's turn. "Already sent?" and "record as
// sent" are one step for a key: a turn that meets a key another turn is sending waits for that
// upload, then finds the key recorded (and sends nothing) or, if it failed, sends it itself.
class TEnviosEmCurso {
public:
    // Holds a key for one turn until it goes.
    class Reserva {
    public:
        Reserva() = default;
        Reserva(TEnviosEmCurso* dono, std::string chave) : dono_(dono), chave_(std::move(chave)) {}
        Reserva(Reserva&& o) noexcept
            : dono_(std::exchange(o.dono_, nullptr)), chave_(std::move(o.chave_)) {}
        Reserva& operator=(Reserva&&) = delete;
        ~Reserva() {
            if (dono_) {
                dono_->Liberar(chave_);
            }
        }
        explicit operator bool() const { return dono_ != nullptr; }

    private:
        TEnviosEmCurso* dono_ = nullptr;
        std::string chave_;
    };

    // Waits while another turn sends the key; then holds it for this turn, unless `enviada` (read
    // while no other turn holds the key) says it was sent: then an empty reservation. Stops
    // waiting, with an empty reservation, once `ligado` says the turns must stop.
    Reserva Reservar(const std::string& chave, const std::function<bool()>& enviada,
                     const std::function<bool()>& ligado);

private:
    void Liberar(const std::string& chave);
    std::mutex mutex_;
    std::condition_variable livre_;
    std::unordered_set<std::string> chaves_;
};

// One monitoring cycle on its own thread: walks the registry and runs the turn of every waiting
// company (TTurnoEmpresa: the national service's rules for one CNPJ, the queries and the
// uploads), up to `ConsultasSimultaneas` turns at the same time, never two of one CNPJ, in the
// registry's order. It reaches the program only through the six synchronised calls. Whoever
// starts it joins it (Join, or the destructor).
// What it records reaches the files early: each record of an upload is appended to the
// seen-list files at once; the whole lists are saved before the first upload (the check that
// the folder can be written), after every company's turn and at least once every `gravacao`,
// one save at a time. A save that fails is shown at once (log line, status text, the company's
// status, `ErroGravacao`) and ends the cycle: nothing is uploaded that could not be recorded.
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

    // The user's numeric identity from the site (kept when the request fails).
    void ObterIDUsuario();
    // The fifteen-element payload of an upload.
    static std::string MontarPayload(const TresNFe& resumo, const std::string& cnpj,
                                     const std::string& idUsuario, int nsu);

    void Configurar(TNFeClient& client) const;
    // Deletes every file in the folder and its subfolders, keeping the folders.
    static void LimparPastaTemp(const std::string& folder);
    // One log line, dated now.
    void Log(const std::string& text);
    // Log lines that appear together, none of another turn's between them.
    void LogBloco(const std::vector<std::string>& linhas);

    // What the turns share with their cycle.
    TConsultasParam& Param() { return param_; }
    IConsultasSync& Sync() { return sync_; }
    const TConsultasAmbiente& Ambiente() const { return ambiente_; }
    TEnviosEmCurso& EnviosEmCurso() { return enviosEmCurso_; }
    // Read once at the start of the cycle from "Config.dat".
    bool Sequencial() const { return sequencial_; }
    int Simultaneas() const { return simultaneas_; }
    // A turn's progress: the shared Progresso := `progresso`, and Ativo refreshed.
    void AtualizarProgresso(int progresso);
    // Saves both seen-lists when they changed since the last save (`sempre`: in any case). False
    // once a save has failed: the failure is shown and the cycle uploads nothing more.
    bool GravarListas(bool sempre = false);
    // GravarListas when `gravacao` has passed since the last save.
    void GravarSeVencido();
    // A record that could not be written: shown as a failed save, and no more uploads.
    void FalhaDeGravacao(const std::string& motivo);
    bool PodeEnviar() const { return !falhou_; }
    std::string FalhaGravacao() const;

    // Whether turns may go on: the worker's Ativo and, so that switching off, the program's end
    // or SIGTERM reach every turn within its step also when no turn reports progress, the shared
    // switch itself.
    bool Ligado() const { return Ativo && param_.Ativo; }

    // The worker's own fields, handed across in the synchronised calls. Every running turn
    // reads Ativo; Progresso is the last turn's that reported.
    int Progresso = 0;
    std::atomic<bool> Ativo{false};

private:
    // Runs the turns of the waiting companies, `simultaneas_` at a time.
    void Turnos();
    // Shows why the seen-lists cannot be saved, and stops the uploads; runs under `gravacao_`.
    void FalharLocked(const std::string& motivo);

    TConsultasParam& param_;
    IConsultasSync& sync_;
    TConsultasAmbiente ambiente_;
    std::thread thread_;
    std::atomic<bool> finished_{false};
    bool sequencial_ = true;
    int simultaneas_ = 1;
    TEnviosEmCurso enviosEmCurso_;
    std::mutex progresso_;  // one turn's progress call at a time
    std::mutex log_;        // one turn's block of lines at a time
    // The saves of the seen-lists: one at a time; when the last one was, and the lists' versions
    // it wrote.
    mutable std::mutex gravacao_;
    std::atomic<int64_t> ultimaGravacaoNs_{0};
    bool gravou_ = false;
    uint64_t versaoConsultados_ = 0;
    uint64_t versaoNums_ = 0;
    // Why the seen-lists could not be saved; "" while they can.
    std::string falhaGravacao_;
    std::atomic<bool> falhou_{false};
};

// Upload attempts in a row without an answer after which the sequential mode stops sending for
// the rest of the company's turn: the site is out of reach, and each attempt may take a time-out.
inline constexpr int kFalhasDeEnvioSeguidas = 3;

// The text after which the walk found a key: the NSU needs no query.
inline constexpr const char* kJaTinhaNoTemp = "Já tinha no temp.";

}  // namespace quelvo
