#include "monitor/TDescansos.h"

#include <algorithm>
#include <charconv>

#include "common/DateTime.h"
#include "common/Utils.h"
#include "dfe/ENFeRejeicao.h"

namespace quelvo {

namespace {

using std::chrono::milliseconds;

// The furthest moment the clock can hold, in milliseconds (about the year 2262): a stored value
// past it is no moment at all.
constexpr long long kMaiorMs =
    std::chrono::duration_cast<milliseconds>(TDescansos::Instante::duration::max()).count();
// More moments than any hour's budget can leave.
constexpr size_t kMaisConsultas = 64;

std::optional<long long> Numero(std::string_view text) {
    long long v = 0;
    const auto [p, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
    if (text.empty() || ec != std::errc{} || p != text.data() + text.size()) {
        return std::nullopt;
    }
    return v;
}

std::optional<TDescansos::Instante> Momento(std::string_view text) {
    const auto ms = Numero(text);
    if (!ms || *ms < 0 || *ms > kMaiorMs) {
        return std::nullopt;
    }
    return TDescansos::Instante(milliseconds(*ms));
}

long long Ms(TDescansos::Instante t) {
    return std::chrono::duration_cast<milliseconds>(t.time_since_epoch()).count();
}

// The moments of the fourth field; nothing when one of them is not a moment.
std::optional<std::vector<TDescansos::Instante>> Momentos(const std::string& text) {
    std::vector<TDescansos::Instante> out;
    if (text.empty()) {
        return out;
    }
    size_t inicio = 0;
    for (;;) {
        const size_t fim = text.find(',', inicio);
        const auto t = Momento(std::string_view(text).substr(inicio, fim - inicio));
        if (!t || out.size() == kMaisConsultas) {
            return std::nullopt;
        }
        out.push_back(*t);
        if (fim == std::string::npos) {
            return out;
        }
        inicio = fim + 1;
    }
}

bool CnpjValido(const std::string& cnpj) {
    return !cnpj.empty() && cnpj.size() <= 14 && OnlyDigits(cnpj) == cnpj;
}

bool LinhaValida(const TArquivoRegistros::Campos& c) {
    if (c.size() != 3 && c.size() != 4) {
        return false;
    }
    const auto cStat = Numero(c[2]);
    return CnpjValido(c[0]) && Momento(c[1]) && cStat && *cStat >= 0 && *cStat <= 999 &&
           (c.size() == 3 || Momentos(c[3]));
}

TDateTime Local(TDescansos::Instante t) {
    const auto ms = Ms(t);
    return TDateTime::FromTimeT(static_cast<std::time_t>(ms / 1000), static_cast<int>(ms % 1000));
}

}  // namespace

TDescansos::TDescansos(const std::string& appDir)
    : arquivo_(appDir + kArquivo, 1, LinhaValida, kLimiteBytes) {}

TDescansos::Registro TDescansos::Ler(const std::string& cnpj, Instante agora, milliseconds hora) {
    Registro r;
    const auto campos = arquivo_.Buscar(cnpj);
    if (!campos) {
        return r;
    }
    r.fim = *Momento((*campos)[1]);
    r.cStat = static_cast<int>(*Numero((*campos)[2]));
    if (campos->size() == 4) {
        r.consultas = *Momentos((*campos)[3]);
    }
    // Values from a clock that was ahead would hold the CNPJ until that clock's time comes back:
    // they count from now, and are written so, once.
    bool corrigido = false;
    if (r.fim > agora + hora) {
        r.fim = agora + hora;
        corrigido = true;
    }
    for (auto& t : r.consultas) {
        if (t > agora) {
            t = agora;
            corrigido = true;
        }
    }
    std::erase_if(r.consultas, [&](Instante t) { return t <= agora - hora; });
    if (corrigido) {
        Gravar(cnpj, r);
    }
    return r;
}

void TDescansos::Gravar(const std::string& cnpj, const Registro& r) {
    std::string consultas;
    for (const auto t : r.consultas) {
        if (!consultas.empty()) {
            consultas += ',';
        }
        consultas += std::to_string(Ms(t));
    }
    arquivo_.Gravar({{cnpj, std::to_string(Ms(r.fim)), std::to_string(r.cStat), consultas}});
    // Every line here is one a later query depends on (a query counted before it is sent, a rest
    // the next query must keep to): on the disk before the call returns, so that a power cut
    // never lets the program send more than the service allows.
    arquivo_.Sincronizar();
}

std::optional<TDescansos::Descanso> TDescansos::Ativo(const std::string& cnpj, Instante agora,
                                                      milliseconds hora) {
    const Registro r = Ler(cnpj, agora, hora);
    if (r.fim <= agora) {
        return std::nullopt;
    }
    return Descanso{r.fim, r.cStat};
}

std::optional<TDescansos::Descanso> TDescansos::LimiteAtingido(const std::string& cnpj,
                                                               Instante agora, milliseconds hora) {
    const Registro r = Ler(cnpj, agora, hora);
    if (r.consultas.size() < static_cast<size_t>(kConsultasPorHora)) {
        return std::nullopt;
    }
    // The budget opens again when enough of them have left the hour.
    std::vector<Instante> ordem = r.consultas;
    std::sort(ordem.begin(), ordem.end());
    return Descanso{ordem[ordem.size() - kConsultasPorHora] + hora, kLimiteProprio};
}

void TDescansos::RegistrarConsulta(const std::string& cnpj, Instante agora, milliseconds hora) {
    Registro r = Ler(cnpj, agora, hora);
    r.consultas.push_back(agora);
    Gravar(cnpj, r);
}

void TDescansos::Descansar(const std::string& cnpj, Instante fim, int cStat) {
    // The count of queries stays as it was; only the rest changes.
    Registro r;
    if (const auto campos = arquivo_.Buscar(cnpj); campos && campos->size() == 4) {
        r.consultas = *Momentos((*campos)[3]);
    }
    r.fim = fim;
    r.cStat = cStat;
    Gravar(cnpj, r);
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
    if (descanso.cStat == kLimiteProprio) {
        return "Limite de consultas por hora atingido: " + quando;
    }
    return "Aguardando novos documentos: " + quando;
}

}  // namespace quelvo
