#pragma once

#include <string>

#include "dfe/PcnTypes.h"
#include "site/TTravonHttpProxy.h"

namespace quelvo {

// Web-service settings of a fiscal-document client: environment, state and proxy.
class TWebServicesConf {
public:
    bool Visualizar = false;
    TpcnTipoAmbiente Ambiente = TpcnTipoAmbiente::taHomologacao;
    int AmbienteCodigo() const { return Ambiente == TpcnTipoAmbiente::taProducao ? 1 : 2; }
    std::string ProxyHost;
    std::string ProxyPort;
    std::string ProxyUser;
    std::string ProxyPass;
    bool Salvar = false;

    // Takes the program's proxy when its server is not empty (blanks count) and its port is
    // above 0; otherwise the proxy fields stay as they are.
    void UsarProxy(const TTravonHttpProxy& proxy);

    // Exact two-letter state; ENFeClientError "UF inválida" (and no change) for anything else.
    void SetUF(const std::string& uf);
    const std::string& UF() const { return uf_; }
    int UFCodigo() const { return ufCodigo_; }

private:
    std::string uf_ = "SP";
    int ufCodigo_ = 35;
};

}  // namespace quelvo
