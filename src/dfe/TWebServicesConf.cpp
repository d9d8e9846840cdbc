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

}  // namespace quelvo
