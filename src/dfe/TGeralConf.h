#pragma once

#include <string>

#include "dfe/PcnTypes.h"

namespace quelvo {

// General settings of a fiscal-document client.
class TGeralConf {
public:
    TpcnTipoEmissao FormaEmissao = TpcnTipoEmissao::teNormal;
    int FormaEmissaoCodigo() const { return quelvo::FormaEmissaoCodigo(FormaEmissao); }
    bool Salvar = false;
    TpcnModeloDF ModeloDF = TpcnModeloDF::moNFe;
    TpcnVersaoDF VersaoDF = TpcnVersaoDF::ve200;

    void SetPathSalvar(const std::string& path) { pathSalvar_ = path; }
    // Trimmed and ending in "/"; the application folder when empty.
    std::string PathSalvar() const;

private:
    std::string pathSalvar_;
};

}  // namespace quelvo
