#include "monitor/TEnviosPendentes.h"

#include <charconv>
#include <string_view>

#include "common/Utils.h"
#include "dfe/Compression.h"

namespace quelvo {

namespace {

bool Decimal(const std::string& text, long long& v) {
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return !text.empty() && ec == std::errc{} && p == text.data() + text.size() && v >= 0;
}

bool Base64(const std::string& text) {
    return !text.empty() && text.find_first_not_of(
                                "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"
                                "=") == std::string::npos;
}

// A whole summary: it starts and ends as a resNFe document (a line cut short is damaged, not a
// summary to send).
bool Resumo(const std::string& xml) {
    const size_t fim = xml.find_last_not_of(" \t\r\n");
    const std::string_view fecha = "</resNFe>";
    return xml.rfind("<resNFe", 0) == 0 && fim != std::string::npos && fim + 1 >= fecha.size() &&
           std::string_view(xml).substr(fim + 1 - fecha.size(), fecha.size()) == fecha;
}

bool LinhaValida(const TArquivoRegistros::Campos& c) {
    long long v = 0;
    return c.size() == 3 && !c[0].empty() && c[0].size() <= 14 && OnlyDigits(c[0]) == c[0] &&
           Decimal(c[1], v) && Base64(c[2]) && Resumo(DecodeBase64(c[2]));
}

}  // namespace

TEnviosPendentes::TEnviosPendentes(const std::string& appDir)
    : arquivo_(appDir + kArquivo, 2, LinhaValida, kLimiteBytes) {}

std::vector<TEnviosPendentes::Envio> TEnviosPendentes::DoCnpj(const std::string& cnpj) {
    std::vector<Envio> lista;
    for (const auto& c :
         arquivo_.Registros([&](const TArquivoRegistros::Campos& r) { return r[0] == cnpj; })) {
        long long nsu = 0;
        if (Decimal(c[1], nsu)) {
            lista.push_back(Envio{c[0], nsu, DecodeBase64(c[2])});
        }
    }
    return lista;
}

size_t TEnviosPendentes::Quantos(const std::string& cnpj) {
    return arquivo_.Contar([&](const TArquivoRegistros::Campos& c) { return c[0] == cnpj; });
}

void TEnviosPendentes::Acrescentar(const std::vector<Envio>& envios) {
    std::vector<TArquivoRegistros::Campos> registros;
    registros.reserve(envios.size());
    for (const auto& e : envios) {
        registros.push_back({e.cnpj, std::to_string(e.nsu), EncodeBase64(e.xml)});
    }
    arquivo_.Gravar(registros);
    // The stored ultNSU moves past these summaries next: they must be on the disk first.
    arquivo_.Sincronizar();
}

void TEnviosPendentes::Remover(const std::string& cnpj, const std::vector<long long>& nsus) {
    if (nsus.empty()) {
        return;
    }
    std::vector<std::string> chaves;
    chaves.reserve(nsus.size());
    for (long long n : nsus) {
        chaves.push_back(cnpj + TArquivoRegistros::kSeparador + std::to_string(n));
    }
    arquivo_.Apagar(chaves);
}

}  // namespace quelvo
