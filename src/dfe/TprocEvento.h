#pragma once

#include <string>

#include "common/DateTime.h"
#include "dfe/PcnTypes.h"

namespace quelvo {

// A processed event of an invoice, with its detail and its result.
struct TprocEvento {
    std::string Id;
    int cOrgao = 0;
    TpcnTipoAmbiente tpAmb = TpcnTipoAmbiente::taProducao;
    std::string CNPJ;
    std::string chNFe;
    TDateTime dhEvento;
    std::string tpEvento;
    int nSeqEvento = 0;
    std::string verEvento;
    struct DetEvento {
        std::string versao;
        std::string descEvento;
        std::string nProt;
        std::string xJust;
        struct {
            std::string chCTe;
            std::string modal;
            TDateTime dhEmi;
            std::string nProt;
            TDateTime dhRecbto;
        } CTe;
        struct {
            std::string CNPJ;
            std::string IE;
            std::string xNome;
        } emit;
    } detEvento;
    struct RetInfEvento {
        std::string Id;
        TpcnTipoAmbiente tpAmb = TpcnTipoAmbiente::taProducao;
        std::string verAplic;
        int cOrgao = 0;
        int cStat = 0;
        std::string xMotivo;
        std::string chNFe;
        std::string tpEvento;
        std::string xEvento;
        int nSeqEvento = 0;
        std::string CNPJDest;
        TDateTime dhRegEvento;
        std::string nProt;
    } retEvento;
};

}  // namespace quelvo
