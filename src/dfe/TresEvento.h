#pragma once

#include <cstdint>
#include <string>

#include "common/DateTime.h"

namespace quelvo {

// The summary of an event of an invoice. The event type is kept as its six-digit code.
struct TresEvento {
    int cOrgao = 0;
    std::string CNPJCPF;
    std::string chNFe;
    TDateTime dhEvento;
    std::string tpEvento;
    uint8_t nSeqEvento = 0;
    std::string xEvento;
    TDateTime dhRecbto;
    std::string nProt;
};

}  // namespace quelvo
