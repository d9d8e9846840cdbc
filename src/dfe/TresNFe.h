#pragma once

#include <string>

#include "common/DateTime.h"
#include "dfe/PcnTypes.h"

namespace quelvo {

// The summary fields of an invoice (from a resNFe, or from a full nfeProc).
struct TresNFe {
    std::string chNFe;
    std::string CNPJCPF;
    std::string xNome;
    std::string IE;
    TDateTime dhEmi;
    TpcnTipoNFe tpNF = TpcnTipoNFe::tnEntrada;
    double vNF = 0;
    std::string digVal;
    TDateTime dhRecbto;
    std::string nProt;
    TSituacaoNFe cSitNFe = TSituacaoNFe::snAutorizada;
};

}  // namespace quelvo
