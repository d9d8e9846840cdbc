#pragma once

#include <functional>
#include <string>

namespace quelvo {

class TConsultas;

// How the query worker reaches the program: six calls, each run on the program's own thread (the
// window's, in the desktop program) while the worker waits. What they do to the shared state is
// fixed; showing things is the program's part.
class IConsultasSync {
public:
    virtual ~IConsultasSync() = default;
    // Executando := true; the worker's Ativo := the shared Ativo.
    virtual void InicioRodada(TConsultas& worker) = 0;
    // The shared Progresso := the worker's; the worker's Ativo := the shared Ativo. Both are
    // atomic, so this one may run on the worker's thread.
    virtual void AtualizaProgresso(TConsultas& worker) = 0;
    // Refreshes the company list from the registry.
    virtual void AtualizaLista() = 0;
    // Appends one line to the log.
    virtual void EscreveLog(const std::string& line) = 0;
    // Executando := false; both seen-lists to their files (a failure comes back to the worker).
    virtual void FimRodada() = 0;
    // A newly accepted invoice: issuer and recipient CNPJ digits.
    virtual void MostraNota(const std::string& de, const std::string& para) = 0;

    // The program is ending: a call waiting for the program's thread returns, and every later
    // call returns at once without showing or saving anything; the worker stops at its next
    // call. Called on the program's thread.
    virtual void Encerrar() = 0;
};

}  // namespace quelvo
