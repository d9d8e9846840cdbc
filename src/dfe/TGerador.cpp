#include "dfe/TGerador.h"

#include <cmath>
#include <cstdio>

#include "common/TextTrim.h"
#include "common/Utils.h"
#include "common/Win1252.h"
#include "dfe/XmlText.h"

namespace quelvo {

namespace {

size_t Characters(std::string_view s) {
    size_t n = 0;
    size_t pos = 0;
    while (pos < s.size()) {
        NextCodePoint(s, pos);
        ++n;
    }
    return n;
}

void ReplaceAll(std::string& s, std::string_view from, std::string_view to) {
    size_t at = 0;
    while ((at = s.find(from, at)) != std::string::npos) {
        s.replace(at, from.size(), to);
        at += to.size();
    }
}

int DecimalPlaces(TTipoCampo tipo) {
    switch (tipo) {
        case TTipoCampo::tcDe2:
            return 2;
        case TTipoCampo::tcDe3:
            return 3;
        case TTipoCampo::tcDe4:
            return 4;
        case TTipoCampo::tcDe6:
            return 6;
        case TTipoCampo::tcDe10:
            return 10;
        default:
            return -1;
    }
}

std::string LeftFill(std::string s, size_t width) {
    return s.size() < width ? std::string(width - s.size(), '0') + s : s;
}

std::string AsText(const TValorCampo& v) {
    if (const auto* s = std::get_if<std::string>(&v)) {
        return *s;
    }
    if (const auto* i = std::get_if<long long>(&v)) {
        return std::to_string(*i);
    }
    if (const auto* d = std::get_if<double>(&v)) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.15g", *d);
        return buf;
    }
    return FormatDateTime(std::get<TDateTime>(v));
}

double AsNumber(const TValorCampo& v) {
    if (const auto* d = std::get_if<double>(&v)) {
        return *d;
    }
    if (const auto* i = std::get_if<long long>(&v)) {
        return static_cast<double>(*i);
    }
    return 0;
}

TDateTime AsDate(const TValorCampo& v) {
    const auto* t = std::get_if<TDateTime>(&v);
    return t ? *t : TDateTime{};
}

}  // namespace

void TGerador::Append(const std::string& piece) {
    ArquivoFormatoXML += piece;
}

void TGerador::OpenOrCloseGroup(const std::string& text) {
    const bool closing = !text.empty() && text[0] == '/';
    if (closing) {
        const std::string open = "<" + text.substr(1) + ">";
        if (const size_t at = openGroupPath_.find(open); at != std::string::npos) {
            openGroupPath_.erase(at, open.size());
        }
        --level_;
    }
    if (Opcoes.IdentarXML) {
        if (!ArquivoFormatoXML.empty()) {
            Append("\r\n");
        }
        Append(
            std::string(static_cast<size_t>(std::max(0, level_) * Opcoes.TamanhoIdentacao), ' '));
    }
    Append("<" + text + ">");
    if (!closing) {
        openGroupPath_ += "<" + text + ">";
        ++level_;
    }
}

void TGerador::AddAlert(const std::string& id, const std::string& tag, const std::string& mensagem,
                        const std::string& descricao) {
    if (Trim(mensagem).empty()) {
        return;
    }
    std::string alert = Opcoes.FormatoAlerta;
    ReplaceAll(alert, "%TAGNIVEL%", openGroupPath_);
    ReplaceAll(alert, "%TAG%", tag);
    ReplaceAll(alert, "%ID%", id);
    ReplaceAll(alert, "%MSG%", mensagem);
    ReplaceAll(alert, "%DESCRICAO%", Trim(descricao));
    ListaDeAlertas.push_back(alert);
}

void TGerador::WriteField(TTipoCampo tipo, const std::string& rawId, const std::string& rawTag,
                          int minimo, int maximo, int ocorrencias, const TValorCampo& valor,
                          const std::string& descricao) {
    const std::string tag = Trim(rawTag);
    const std::string id = Trim(rawId);
    std::string formatted;
    bool empty = false;
    const int places = DecimalPlaces(tipo);
    switch (tipo) {
        case TTipoCampo::tcInt: {
            const long long n = std::holds_alternative<long long>(valor)
                                    ? std::get<long long>(valor)
                                    : static_cast<long long>(AsNumber(valor));
            formatted = LeftFill(std::to_string(n), static_cast<size_t>(std::max(0, minimo)));
            empty = n == 0 && ocorrencias == 0;
            break;
        }
        case TTipoCampo::tcDat:
        case TTipoCampo::tcDatHor: {
            const TDateTime t = AsDate(valor);
            char buf[32];
            std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", t.Year, t.Month, t.Day);
            formatted = buf;
            if (tipo == TTipoCampo::tcDatHor) {
                std::snprintf(buf, sizeof buf, "T%02d:%02d:%02d", t.Hour, t.Minute, t.Second);
                formatted += buf;
            }
            empty = t.DateOnly().IsZero();
            break;
        }
        default:
            if (places > 0) {
                const double v = AsNumber(valor);
                char buf[64];
                std::snprintf(buf, sizeof buf, "%.*f", places, v);
                formatted = LeftFill(buf, static_cast<size_t>(std::max(0, minimo) + 1));
                const double scaled = v * std::pow(10.0, places);
                if (std::fabs(scaled - std::round(scaled)) >
                    1e-6 * std::max(1.0, std::fabs(scaled))) {
                    AddAlert(id, tag,
                             "Numero máximo de casas decimais permitidas " + std::to_string(places),
                             descricao);
                }
                empty = v == 0 && ocorrencias == 0;
                ++minimo;
                ++maximo;
            } else {
                formatted = Trim(AsText(valor));
                empty = formatted.empty();
            }
            break;
    }

    const size_t length = Characters(formatted);
    std::string alert;
    if (ocorrencias == 1 && empty && minimo > 0) {
        alert = "Nenhum valor informado";
    } else {
        if (length < static_cast<size_t>(std::max(0, minimo)) && length > 1) {
            alert = "Tamanho menor que o mínimo permitido";
        }
        if (length > static_cast<size_t>(std::max(0, maximo))) {
            alert = "Tamanho maior que o máximo permitido";
        }
    }
    if (!alert.empty() && alert != "Nenhum valor informado" && !empty) {
        alert += " [" + AsText(valor) + "]";
    }
    AddAlert(id, tag, alert, descricao);

    if (Opcoes.SomenteValidar) {
        return;
    }
    std::string indent;
    if (Opcoes.IdentarXML) {
        indent = (ArquivoFormatoXML.empty() ? "" : "\r\n") +
                 std::string(static_cast<size_t>(level_ * Opcoes.TamanhoIdentacao), ' ');
    }
    if (empty && ocorrencias == 1) {
        Append(indent + (Opcoes.TagVaziaNoFormatoResumido ? "<" + tag + "/>"
                                                          : "<" + tag + "></" + tag + ">"));
    } else if (!empty) {
        Append(indent + "<" + tag + ">" +
               EncodeFieldText(formatted, Opcoes.RetirarEspacos, Opcoes.RetirarAcentos) + "</" +
               tag + ">");
    }
}

void TGerador::WriteCnpjCpf(const std::string& id1, const std::string& id2, int pais,
                            const std::string& valor) {
    if (pais != 1058) {
        WriteField(TTipoCampo::tcStr, id1, "CNPJ", 0, 14, 1, std::string(), "CNPJ");
        return;
    }
    const std::string digits = OnlyDigits(Trim(valor));
    if (digits.size() == 11) {
        WriteField(TTipoCampo::tcStr, id2, "CPF", 11, 11, 1, digits, "CPF");
        if (!ValidCPF(digits)) {
            AddAlert(id2, "CPF", "Conteúdo inválido", "CPF");
        }
    } else if (digits.size() == 14) {
        WriteField(TTipoCampo::tcStr, id1, "CNPJ", 14, 14, 1, digits, "CNPJ");
        if (!ValidCNPJ(digits)) {
            AddAlert(id1, "CNPJ", "Conteúdo inválido", "CNPJ");
        }
    } else {
        AddAlert(id1 + "-" + id2, "CNPJ-CPF", "Nenhum valor informado", "CNPJ/CPF");
    }
}

}  // namespace quelvo
