#pragma once

#include <functional>
#include <string>

#include "common/Guarded.h"
#include "common/ProfileFile.h"
#include "site/TTravonHttpProxy.h"

namespace quelvo {

// The four texts of the proxy dialog.
struct TProxyFields {
    std::string Servidor;
    std::string Porta;
    std::string Usuario;
    std::string Senha;
};

// The rules of the proxy dialog, over the settings file and the shared proxy record.
class TProxySettings {
public:
    static constexpr const char* kConfirmText = "Deseja realmente salvar as configurações proxy ?";

    // Reads the four "Proxy" keys and fills the shared proxy from them (the port as a number, 0
    // when empty or not a number). Returns what the dialog's edits show.
    static TProxyFields Cancelar(const TProfileFile& file, Guarded<TTravonHttpProxy>& shared);

    // "Salvar": the port keeps only its digits (in `fields`, also when the user declines); after
    // the confirmation the four keys are written in order and read back into `fields` and the
    // shared proxy. Returns whether it saved (the dialog then closes). Raises EProfileWriteError.
    static bool Salvar(TProxyFields& fields, TProfileFile& file, Guarded<TTravonHttpProxy>& shared,
                       const std::function<bool(const std::string&)>& confirm);

    // The proxy record of the dialog's texts.
    static TTravonHttpProxy ToProxy(const TProxyFields& fields);
};

}  // namespace quelvo
