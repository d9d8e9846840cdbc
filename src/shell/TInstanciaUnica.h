#pragma once

#include <QLocalServer>
#include <QObject>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "common/TFolderLock.h"

namespace quelvo {

// One copy of the program per application folder. A starting copy takes the folder's lock; when
// an older copy of the desktop program holds it, the new one asks that copy (through a local
// socket of the folder) to save its state and quit, gives it up to five seconds, and then ends
// its process. A folder held by the headless program is not taken over: the new copy says so and
// ends. The holder answers the requests of newer copies for as long as it runs.
class TInstanciaUnica : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kEspera{5000};

    // Takes the folder for this copy. Returns nothing, with the message to show in `motivo`, when
    // the folder stays in the hands of another program.
    static std::unique_ptr<TInstanciaUnica> Assumir(const std::string& appDir, std::string& motivo,
                                                    std::chrono::milliseconds espera = kEspera);

    TInstanciaUnica(std::unique_ptr<TFolderLock> lock, const std::string& appDir);

    // What a newer copy's request does here (on this thread): save and quit.
    void AoPedirFinalizacao(std::function<void()> finalizar) { finalizar_ = std::move(finalizar); }

    // The local socket name of a folder's copy (per user and folder).
    static QString NomeDoServidor(const std::string& appDir);

private:
    void Atender();

    std::unique_ptr<TFolderLock> lock_;
    QLocalServer server_;
    std::function<void()> finalizar_;
};

}  // namespace quelvo
