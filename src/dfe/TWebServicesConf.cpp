#include "dfe/TWebServicesConf.h"

#include "common/Utils.h"
#include "dfe/ENFeClientError.h"

namespace quelvo {

void TWebServicesConf::SetUF(const std::string& uf) {
    const std::string code = UFCode(uf);
    if (code.empty()) {
        throw ENFeClientError("UF inválida");
    }
    uf_ = uf;
    ufCodigo_ = std::stoi(code);
}

void TWebServicesConf::UsarProxy(const TTravonHttpProxy& proxy) {
    if (proxy.Server.empty() || proxy.Port <= 0) {
        return;
    }
    ProxyHost = proxy.Server;
    ProxyPort = std::to_string(proxy.Port);
    ProxyUser = proxy.User;
    ProxyPass = proxy.Password;
}

}  // namespace quelvo
