#pragma once

#include <string>

#include "common/TServidores.h"
#include "dfe/PcnTypes.h"

namespace quelvo {

// The layout number of the distribution service.
inline constexpr int kLayoutDistDFe = 17;
// The only version the service's schema accepts for distDFeInt (its enumeration has just this
// value; "1.00" is refused).
inline constexpr const char* kVersaoDistDFe = "1.01";
inline constexpr const char* kDistDFePath = "/NFeDistribuicaoDFe/NFeDistribuicaoDFe.asmx";

// The endpoint of a service; ENFeClientError "URL não disponível para o estado solicitado." when
// the configuration has none.
std::string GetServiceUrl(const TServidores& servidores, int ufCodigo, int ambienteCodigo,
                          int formaEmissaoCodigo, int layout, TpcnModeloDF modelo,
                          TpcnVersaoDF versao);

// The layout version of a service ("" when there is none).
std::string ServiceVersion(TpcnModeloDF modelo, TpcnVersaoDF versao, int layout);

}  // namespace quelvo
