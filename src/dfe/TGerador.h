#pragma once

#include <string>
#include <variant>
#include <vector>

#include "common/DateTime.h"

namespace quelvo {

// Value types of the fiscal XML writer and reader, by number.
enum class TTipoCampo {
    tcStr = 0,
    tcInt = 1,
    tcDat = 2,
    tcDatHor = 3,
    tcEsp = 4,
    tcDe2 = 5,
    tcDe3 = 6,
    tcDe4 = 7,
    tcDe10 = 8,
    tcHor = 9,
    tcDe6 = 10,
    tcDatCFe = 11,
    tcHorCFe = 12,
    tcDatVcto = 13,
};

// A field's value: text, whole number, decimal number or date-time, as its type wants.
using TValorCampo = std::variant<std::string, long long, double, TDateTime>;

struct TGeradorOpcoes {
    bool SomenteValidar = false;
    bool RetirarEspacos = true;
    bool RetirarAcentos = true;
    bool IdentarXML = false;
    int TamanhoIdentacao = 3;
    bool SuprimirDecimais = false;
    bool TagVaziaNoFormatoResumido = true;
    std::string FormatoAlerta = "TAG:%TAGNIVEL% ID:%ID%/%TAG%(%DESCRICAO%) - %MSG%.";
};

// The text writer of request documents. It checks every field against the layout's limits and
// records problems as alerts; it never fails.
class TGerador {
public:
    std::string ArquivoFormatoXML;
    std::vector<std::string> ListaDeAlertas;
    TGeradorOpcoes Opcoes;
    std::string Prefixo;
    std::string IDNivel;

    // A start tag ("name attr=...") or a closing tag ("/name").
    void OpenOrCloseGroup(const std::string& text);
    void WriteField(TTipoCampo tipo, const std::string& id, const std::string& tag, int minimo,
                    int maximo, int ocorrencias, const TValorCampo& valor,
                    const std::string& descricao);
    // A CNPJ or CPF element from the digits of `valor` (country 1058, Brazil).
    void WriteCnpjCpf(const std::string& id1, const std::string& id2, int pais,
                      const std::string& valor);
    void AddAlert(const std::string& id, const std::string& tag, const std::string& mensagem,
                  const std::string& descricao);

    const std::string& OpenGroupPath() const { return openGroupPath_; }

private:
    void Append(const std::string& piece);
    std::string openGroupPath_;
    int level_ = 0;
};

}  // namespace quelvo
