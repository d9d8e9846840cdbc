#pragma once

#include <string>

#include "dfe/PcnTypes.h"
#include "dfe/TGerador.h"

namespace quelvo {

// The distribution request document (distDFeInt).
class TDistDFeInt {
public:
    TGerador Gerador;
    std::string Versao;
    TpcnTipoAmbiente tpAmb = TpcnTipoAmbiente::taProducao;
    int cUFAutor = 0;
    std::string CNPJCPF;
    std::string ultNSU;
    std::string NSU;

    // Writes the document into Gerador.ArquivoFormatoXML; true when no alert was recorded.
    bool GerarXml();
};

// An NSU text as the request carries it: a 32-bit number (0 when it is not one) in 15 digits.
std::string NsuDoPedido(const std::string& text);

inline constexpr const char* kNFeSchemaNamespace = "http://www.portalfiscal.inf.br/nfe";

}  // namespace quelvo
