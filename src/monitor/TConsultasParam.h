#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "common/Guarded.h"
#include "monitor/TConsultasEmpresas.h"
#include "monitor/TSeenList.h"
#include "site/TTravonHttpProxy.h"
#include "site/TUsuarioLogin.h"

namespace quelvo {

// The state the main window (or the headless program) shares with the query worker for the
// whole run. What two threads touch is guarded: the texts and the proxy record are copied whole
// under a lock, the registry and the seen-lists lock themselves. `Ativo`, `Executando` and
// `Progresso` change hands only inside the worker's synchronised calls.
class TConsultasParam {
public:
    TConsultasParam() = default;
    TConsultasParam(const TConsultasParam&) = delete;
    TConsultasParam& operator=(const TConsultasParam&) = delete;

    std::atomic<bool> Ativo{false};
    std::atomic<bool> Executando{false};
    Guarded<std::string> IDUsuario;
    Guarded<std::string> Usuario;
    std::atomic<int> Progresso{0};
    TConsultasEmpresas Empresas;
    Guarded<TTravonHttpProxy> Proxy;
    TSeenList Consultados;                 // invoice keys
    TSeenList ConsultadosNums;             // query keys: CNPJ digits followed by the NSU
    std::function<void()> AtualizarLista;  // refreshes the company list, if the program has one
    Guarded<std::string> StatusTexto;
    // Why the worker could not save the seen-lists the last time it tried ("" after a save that
    // worked): while they cannot be saved, no cycle uploads anything.
    Guarded<std::string> ErroGravacao;
    // How many companies' turns the running cycle has in flight.
    std::atomic<int> TurnosEmCurso{0};

    // Loads each seen-list from its file in the application folder when the file exists
    // ("Consultados.dat", "ConsultadosNums.dat"); a missing file leaves its list as it is.
    // First, as the program's start that it is, removes the temporary files that a crash during
    // a write left in the folder (".Consultados.dat.XXXXXX", ... and those of "certificados/",
    // ".PinsRecusados.dat.XXXXXX" among them).
    void CarregarListas(const std::string& appDir);
    // Records an upload the site took (or a document that needs none): the query key, then the
    // invoice key, each added to its list when absent and appended to its file at once, so that
    // no crash of the program loses it (a power cut may, until SincronizarListas). Raises when a
    // file cannot be written (the lists keep the keys).
    void RegistrarEnviado(const std::string& appDir, const std::string& chave,
                          const std::string& queryKey);
    // Puts what RegistrarEnviado appended to both files on the disk, one flush per file for every
    // record since the last call: before a request that counts on them (a query that would
    // otherwise be sent again, the removal of what waits to be sent). Raises when a flush fails.
    void SincronizarListas(const std::string& appDir);
    // What a site login decided: the monitoring switched on or off, and the site user.
    void AplicarLogin(const TLoginResult& login);
    // Writes both seen-lists to their files, also when empty: the query keys first, so that a
    // crash between the two never leaves an invoice key recorded without its NSU (the walk would
    // query that NSU again every cycle).
    void SalvarListas(const std::string& appDir) const;
};

}  // namespace quelvo
