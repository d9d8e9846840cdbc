#pragma once

namespace quelvo {

// Enumerations of the national NF-e layout used by the fiscal-document client.
enum class TpcnTipoEmissao {
    teNormal,
    teContingencia,
    teSCAN,
    teDPEC,
    teFSDA,
    teSVCAN,
    teSVCRS,
    teSVCSP,
    teOffLine,
};
enum class TpcnModeloDF { moNFe, moNFCe };
enum class TpcnVersaoDF { ve200, ve300, ve310 };
enum class TpcnTipoAmbiente { taProducao, taHomologacao };
enum class TpcnTipoNFe { tnEntrada, tnSaida };
// Situation of an invoice: authorised, denied, cancelled.
enum class TSituacaoNFe { snAutorizada, snDenegada, snCancelada };
enum class TpcnTipoSchema {
    tsresNFe,
    tsresEvento,
    tsprocNFe,
    tsprocEventoNFe,
    tsprocMDFe,
    tsprocEventoMDFe,
};

// The code of an emission form: teNormal 1, then 2 to 9 in the order above.
inline int FormaEmissaoCodigo(TpcnTipoEmissao forma) {
    return static_cast<int>(forma) + 1;
}

}  // namespace quelvo
