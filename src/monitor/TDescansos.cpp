#include "monitor/TDescansos.h"

#include <charconv>

#include "common/DateTime.h"
#include "common/Utils.h"
#include "dfe/ENFeRejeicao.h"

namespace quelvo {

namespace {

using std::chrono::milliseconds;

std::optional<long long> Numero(const std::string& text) {
    long long v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || p != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

bool CnpjValido(const std::string& cnpj) {
    return !cnpj.empty() && cnpj.size() <= 14 && OnlyDigits(cnpj) == cnpj;
}

bool LinhaValida(const TArquivoRegistros::Campos& c) {
    return c.size() == 3 && CnpjValido(c[0]) && Numero(c[1]) && Numero(c[2]);
}

TDateTime Local(TDescansos::Instante t) {
    const auto ms = std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count();
    return TDateTime::FromTimeT(static_cast<std::time_t>(ms / 1000), static_cast<int>(ms % 1000));
}

}  // namespace

TDescansos::TDescansos(const std::string& appDir)
    : arquivo_(appDir + kArquivo, 1, LinhaValida, kLimiteBytes) {}

std::optional<TDescansos::Descanso> TDescansos::Ativo(const std::string& cnpj, Instante agora,
                                                      milliseconds maximo) {
    const auto registro = arquivo_.Buscar(cnpj);
    if (!registro) {
        return std::nullopt;
    }
    Descanso d;
    d.fim = Instante(milliseconds(*Numero((*registro)[1])));
    d.cStat = static_cast<int>(*Numero((*registro)[2]));
    if (d.fim > agora + maximo) {
        d.fim = agora + maximo;
    }
    if (d.fim <= agora) {
        return std::nullopt;
    }
    return d;
}

void TDescansos::Descansar(const std::string& cnpj, Instante fim, int cStat) {
    const auto ms = std::chrono::duration_cast<milliseconds>(fim.time_since_epoch()).count();
    arquivo_.Gravar({{cnpj, std::to_string(ms), std::to_string(cStat)}});
}

std::string TDescansos::Quando(Instante fim, Instante agora) {
    const TDateTime f = Local(fim);
    std::string hora = FormatLongTime(f).substr(0, 5);
    if (f.DateOnly() != Local(agora).DateOnly()) {
        return FormatShortDate(f) + " " + hora;
    }
    return hora;
}

std::string TDescansos::Texto(const Descanso& descanso, Instante agora) {
    const std::string quando = "nova consulta após " + Quando(descanso.fim, agora);
    if (descanso.cStat == kCStatConsumoIndevido) {
        return "Consumo indevido: " + quando;
    }
    return "Aguardando novos documentos: " + quando;
}

}  // namespace quelvo
