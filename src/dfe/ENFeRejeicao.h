#pragma once

#include <string>

#include "dfe/ENFeClientError.h"

namespace quelvo {

// The service answered, but with a status other than 137 or 138: the text is its xMotivo (as
// for every ENFeClientError), and the status code comes along so that a caller can tell a usage
// block (656) from other refusals. cStat is 0 for an answer without a retDistDFeInt.
class ENFeRejeicao : public ENFeClientError {
public:
    ENFeRejeicao(int cStat, const std::string& xMotivo)
        : ENFeClientError(xMotivo), cStat(cStat), xMotivo(xMotivo) {}

    int cStat;
    std::string xMotivo;
};

// The national service's "Consumo Indevido": the party is blocked for an hour, and every query
// during the block starts the hour again.
inline constexpr int kCStatConsumoIndevido = 656;

}  // namespace quelvo
