#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "common/DateTime.h"
#include "common/TServidores.h"
#include "site/TTravonHttpProxy.h"

namespace quelvo {

// The program's self-update. In the background, at the monitoring start and every four hours, a
// check asks the site for the current version and, when it is later than the running one (and
// than a download already waiting), downloads the new executable beside the running one. At the
// next start the program offers it; accepted, a small script waits until the program has ended,
// has the program check the download once more, moves it over the executable's file and starts
// it again.
// A download is kept only when it is a whole executable for this machine, of this same program
// (its program marker), carrying the version the site announced, later than the running one, and
// a release signature that verifies with the program's release key (see TReleaseSignature);
// anything else is deleted, never offered, and the log says why. The site is reached over plain
// HTTP: a version that is not later is never downloaded, so an old release, signed as it is,
// cannot be put back in place of a newer one.
// All this holds only while nobody else can change the application folder or the executable: the
// update works only when both belong to the user the program runs as and neither is writable by
// its group or by others. A copy installed by the package does not replace itself (the package
// manager updates it): for it there is neither check nor offer.
class TMonitorUpdate {
public:
    static constexpr const char* kBaixado = "QuelvoAtualizado.exe";
    static constexpr const char* kBaixando = "QuelvoAtualizado.exetemp";
    static constexpr const char* kNaoAtualizar = "Não Atualizar.txt";
    static constexpr const char* kScript = "Atualizar.sh";
    // `PROGRAMA --verificar-atualizacao ARQUIVO`: the check the installing script asks for.
    static constexpr const char* kOpcaoVerificar = "--verificar-atualizacao";

    // The offer's question, naming the version it installs.
    static std::string Pergunta(const std::string& versao);

    // `executavel`: the running executable's path; `processo`: the process the install waits
    // for (this one).
    TMonitorUpdate(std::string appDir, std::string executavel, long processo);
    TMonitorUpdate(const TMonitorUpdate&) = delete;
    TMonitorUpdate& operator=(const TMonitorUpdate&) = delete;
    // Joins the checks; one still running is waited for (a program that must not wait ends
    // without destroying it: see Verificando).
    ~TMonitorUpdate();

    std::string AppDir;
    std::string Executavel;
    long Processo;
    // The release public key (PEM) that a download must be signed with: this build's
    // (TReleaseSignature::ChaveDoPrograma). Without one, nothing is downloaded or offered.
    std::string ChavePublica;
    // Takes a line for the program's log (date and time in front) when a check or the offer
    // refused a file: at most one line per check. Called on the check's thread or the offer's,
    // never while a file of the update is being worked on.
    std::function<void(const std::string&)> EscreveLog;
    // False for a copy installed by the package.
    bool Ligada;

    // Starts one check on its own thread, with its own copy of the proxy.
    void IniciarVerificacao(const TTravonHttpProxy& proxy);
    // Whether a check is still running.
    bool Verificando() const;

    // The check itself, on the calling thread; any failure ends it without a word.
    void Verificar(const TTravonHttpProxy& proxy) const;

    // The offer, once per start: true when the user accepted and the installing script runs;
    // the program must then end at once, without its close handler. `confirm` answers true for
    // "Sim", false for "Não", nothing when the question closed unanswered (the program ended
    // meanwhile). Only a "Não" writes the day into "Não Atualizar.txt". Any failure ends it
    // without a word.
    bool OfferUpdate(const std::function<std::optional<bool>(const std::string&)>& confirm,
                     const TDateTime& hoje) const;
    // False when the user declined on that day.
    bool MayOfferUpdate(const TDateTime& hoje) const;

    // Raises EUpdateRefused, saying why, unless the file may replace the running executable: a
    // regular file (not reached through a link at its name) that is a whole executable for this
    // machine (ELF, the running executable's class, byte order and architecture, every table and
    // segment present) with a version marker, whose release signature verifies with ChavePublica,
    // whose program marker names the running program, and whose version is later than the running
    // one. The file is read once; every test is made on those bytes. Returns its version.
    std::string Conferir(const std::string& path) const;
    // The program's `--verificar-atualizacao ARQUIVO`: 0 when Conferir accepts the file; 1
    // otherwise, with one line on `erro` saying why.
    int VerificarPelaLinhaDeComando(const std::string& arquivo, std::ostream& erro) const;
    // The same for the running executable (its folder, its markers, its built-in release key):
    // what `main` runs for the option, before anything else.
    static int OpcaoVerificar(const std::string& arquivo, std::ostream& erro);
    // The installing script's text; raises std::runtime_error for a path a script cannot hold.
    std::string Script() const;

private:
    // `aviso` takes the line the check leaves for the log.
    void VerificarOuFalhar(const TTravonHttpProxy& proxy, std::string& aviso) const;
    void Reaproveitar();
    // The version of the download waiting in "QuelvoAtualizado.exe" while it may still be
    // installed; one that may not is deleted, `aviso` says why, and the result is "". "", without
    // a word, when there is none.
    std::string PendenteInstalavel(std::string& aviso) const;
    // Whether the application folder and the executable are the user's alone; `aviso` says why
    // not.
    bool SoDoUsuario(std::string& aviso) const;
    void Avisar(const std::string& texto) const;
    // "QuelvoAtualizado.exe" in the application folder.
    std::string CaminhoBaixado() const { return AppDir + kBaixado; }

    struct Verificacao {
        std::thread thread;
        std::atomic<bool> terminou{false};
    };
    mutable std::mutex mutex_;
    std::vector<std::unique_ptr<Verificacao>> verificacoes_;
    // Held while the waiting download is verified, deleted or replaced: a check and the offer
    // never work on it at once.
    mutable std::mutex arquivos_;
};

}  // namespace quelvo
