#include "monitor/TUltimosNSU.h"

#include <charconv>

#include "common/Utils.h"

namespace quelvo {

namespace {

bool Decimal(const std::string& text, long long& v) {
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    return !text.empty() && ec == std::errc{} && p == text.data() + text.size() && v >= 0;
}

bool LinhaValida(const TArquivoRegistros::Campos& c) {
    long long v = 0;
    return c.size() == 2 && !c[0].empty() && c[0].size() <= 14 && OnlyDigits(c[0]) == c[0] &&
           Decimal(c[1], v);
}

}  // namespace

TUltimosNSU::TUltimosNSU(const std::string& appDir)
    : arquivo_(appDir + kArquivo, 1, LinhaValida, kLimiteBytes) {}

long long TUltimosNSU::Ler(const std::string& cnpj) {
    const auto registro = arquivo_.Buscar(cnpj);
    long long v = 0;
    return registro && Decimal((*registro)[1], v) ? v : 0;
}

void TUltimosNSU::Gravar(const std::string& cnpj, long long ultNSU) {
    arquivo_.Gravar({{cnpj, std::to_string(ultNSU)}});
}

void TUltimosNSU::ZerarTodos() {
    arquivo_.Alterar([](TArquivoRegistros::Campos& c) { c.at(1).assign(1, '0'); });
}

}  // namespace quelvo
