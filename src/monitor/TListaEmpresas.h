#pragma once

#include <string>
#include <vector>

#include "monitor/TConsultasEmpresas.h"

namespace quelvo {

// One row of the company list: the caption (column "CNPJ"), the four sub-items and the picture
// index (the record's Estado).
struct TLinhaEmpresa {
    std::string CNPJ;
    std::string UF;
    std::string Nome;
    std::string Vencimento;
    std::string Situacao;
    int Imagem = 0;

    bool operator==(const TLinhaEmpresa&) const = default;
};

// The rows as the list control holds them. A program's list implements it over its widget, so
// rows keep their identity (selection and focus) while they are updated.
class ILinhasEmpresas {
public:
    virtual ~ILinhasEmpresas() = default;
    virtual int Quantidade() const = 0;
    virtual std::string Legenda(int linha) const = 0;
    // Appends an empty row and returns its index.
    virtual int Acrescentar() = 0;
    virtual void Preencher(int linha, const TLinhaEmpresa& conteudo) = 0;
    virtual void Apagar(int linha) = 0;
};

// The company list refresh: every company of the registry, in registry order, updates the first
// row whose caption is its CNPJ (exactly, letter case included) that no earlier company updated,
// or a new row at the end; then every row that no company updated goes. So each record has a row
// of its own (two records with one CNPJ text show two rows) and a row whose caption no record
// holds any longer disappears, whatever its letter case. Rows are never moved, so the others keep
// their place, selection and focus. Returns whether the list holds at least one row afterwards.
bool AtualizarLinhas(ILinhasEmpresas& linhas, const std::vector<EmpresaPtr>& empresas);

// The company list of a window, refreshed at every synchronised call of the cycles: while the
// registry keeps its records (the same ones, in the same order) and the list its rows, only the
// rows of the records that changed since they were shown are filled again, so a refresh costs
// little more than a look at each record's revision, however many companies there are; any other
// change of the registry or of the rows refreshes the whole list (AtualizarLinhas).
class TListaEmpresas {
public:
    struct Resultado {
        bool inteira = false;          // every row was refreshed
        std::vector<int> preenchidas;  // the rows filled again (all of them when `inteira`)
    };
    Resultado Atualizar(ILinhasEmpresas& linhas, const std::vector<EmpresaPtr>& empresas);

private:
    // The records the rows show, row by row, with the revision each row shows.
    std::vector<std::pair<const TConsultasEmpresa*, uint64_t>> mostradas_;
};

}  // namespace quelvo
