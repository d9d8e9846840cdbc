#pragma once

#include <QStringList>

#include <memory>

namespace quelvo {

class TF_Principal;
class TF_CadEmpresas;
class TF_ConfigProxy;
class TF_Usuario;
class TF_Sobre;
class TF_Nota_Emitida;
class TF_Esperando;

// The desktop program's windows: the seven forms, created once in their fixed order, each behind
// its global reference (F_Principal, ...), and destroyed together at the end. The order matters:
// the main window opens the settings file and creates the shared state, which the proxy dialog
// and then the login dialog read at their creation.
class TAplicacao {
public:
    // `argumentos`: the program's arguments after its name ("minimizado" first hides the window
    // after the start-up).
    explicit TAplicacao(const QStringList& argumentos);
    TAplicacao(const TAplicacao&) = delete;
    TAplicacao& operator=(const TAplicacao&) = delete;
    ~TAplicacao();

    TF_Principal& Principal() { return *principal_; }
    // Shows the main window, centred and in its normal size; its first showing runs the
    // start-up sequence.
    void Iniciar();

private:
    std::unique_ptr<TF_Principal> principal_;
    std::unique_ptr<TF_CadEmpresas> cadEmpresas_;
    std::unique_ptr<TF_ConfigProxy> configProxy_;
    std::unique_ptr<TF_Usuario> usuario_;
    std::unique_ptr<TF_Sobre> sobre_;
    std::unique_ptr<TF_Nota_Emitida> notaEmitida_;
    std::unique_ptr<TF_Esperando> esperando_;
};

}  // namespace quelvo
