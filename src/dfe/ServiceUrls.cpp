#include "dfe/ServiceUrls.h"

#include "dfe/ENFeClientError.h"

namespace quelvo {

std::string GetServiceUrl(const TServidores& servidores, int /*ufCodigo*/, int ambienteCodigo,
                          int formaEmissaoCodigo, int layout, TpcnModeloDF /*modelo*/,
                          TpcnVersaoDF /*versao*/) {
    // The distribution service is national: the state does not change its address, and the
    // contingency tables (SCAN, SVC-AN, SVC-RS) have no entry for it.
    const bool known =
        formaEmissaoCodigo >= 1 && formaEmissaoCodigo <= 9 && formaEmissaoCodigo != 8;
    const bool contingency =
        formaEmissaoCodigo == 3 || formaEmissaoCodigo == 6 || formaEmissaoCodigo == 7;
    if (layout != kLayoutDistDFe || !known || contingency) {
        throw ENFeClientError("URL não disponível para o estado solicitado.");
    }
    const std::string& host =
        ambienteCodigo == 1 ? servidores.DFeProducao : servidores.DFeHomologacao;
    return "https://" + host + kDistDFePath;
}

std::string ServiceVersion(TpcnModeloDF modelo, TpcnVersaoDF versao, int layout) {
    if (layout != kLayoutDistDFe) {
        return {};
    }
    const bool nfe = modelo == TpcnModeloDF::moNFe &&
                     (versao == TpcnVersaoDF::ve200 || versao == TpcnVersaoDF::ve310);
    const bool nfce = modelo == TpcnModeloDF::moNFCe &&
                      (versao == TpcnVersaoDF::ve300 || versao == TpcnVersaoDF::ve310);
    return nfe || nfce ? kVersaoDistDFe : "";
}

}  // namespace quelvo
