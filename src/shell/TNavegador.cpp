#include "shell/TNavegador.h"

#include <QDesktopServices>
#include <QUrl>

namespace quelvo {

namespace {

AbridorDeEnderecos& Atual() {
    static AbridorDeEnderecos abridor;
    return abridor;
}

}  // namespace

AbridorDeEnderecos InstalarAbridorDeEnderecos(AbridorDeEnderecos abridor) {
    auto anterior = std::move(Atual());
    Atual() = std::move(abridor);
    return anterior;
}

void AbrirEndereco(const std::string& endereco) {
    if (Atual()) {
        Atual()(endereco);
        return;
    }
    // The browser's own answer does not matter here, as on the desktop's shell.
    QDesktopServices::openUrl(QUrl(QString::fromStdString(endereco), QUrl::TolerantMode));
}

}  // namespace quelvo
