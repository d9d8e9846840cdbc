#include "dfe/TDistDFeInt.h"

#include <charconv>
#include <climits>

#include "dfe/XmlText.h"

namespace quelvo {

std::string NsuDoPedido(const std::string& text) {
    long long value = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc{} || p != text.data() + text.size() || value > INT_MAX || value < INT_MIN) {
        value = 0;
    }
    return ZeroPadded(value, 15);
}

bool TDistDFeInt::GerarXml() {
    Gerador.ArquivoFormatoXML.clear();
    Gerador.ListaDeAlertas.clear();
    Gerador.OpenOrCloseGroup(std::string("distDFeInt xmlns=\"") + kNFeSchemaNamespace +
                             "\" versao=\"" + Versao + "\"");
    Gerador.WriteField(TTipoCampo::tcStr, "A03", "tpAmb  ", 1, 1, 1,
                       std::string(tpAmb == TpcnTipoAmbiente::taProducao ? "1" : "2"),
                       "Identificação do Ambiente");
    Gerador.WriteField(TTipoCampo::tcInt, "A04", "cUFAutor", 2, 2, 1,
                       static_cast<long long>(cUFAutor), "***");
    Gerador.WriteCnpjCpf("A05", "A06", 1058, CNPJCPF);
    if (NSU.empty()) {
        Gerador.OpenOrCloseGroup("distNSU");
        Gerador.WriteField(TTipoCampo::tcStr, "A08", "ultNSU", 1, 15, 1, NsuDoPedido(ultNSU),
                           "Último NSU recebido pela Empresa");
        Gerador.OpenOrCloseGroup("/distNSU");
    } else {
        Gerador.OpenOrCloseGroup("consNSU");
        Gerador.WriteField(TTipoCampo::tcStr, "A10", "NSU", 1, 15, 1, NsuDoPedido(NSU),
                           "NSU específico");
        Gerador.OpenOrCloseGroup("/consNSU");
    }
    Gerador.OpenOrCloseGroup("/distDFeInt");
    return Gerador.ListaDeAlertas.empty();
}

}  // namespace quelvo
