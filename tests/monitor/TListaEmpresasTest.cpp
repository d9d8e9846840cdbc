#include "monitor/TListaEmpresas.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace quelvo {
namespace {

// A list control's rows; each row keeps the id it was born with, so a test sees whether a row
// was updated in place or replaced.
class Rows : public ILinhasEmpresas {
public:
    struct Row {
        int id;
        TLinhaEmpresa content;
    };
    std::vector<Row> rows;
    int nextId = 1;
    std::vector<int> filled;  // the rows filled, in order

    int Quantidade() const override { return static_cast<int>(rows.size()); }
    std::string Legenda(int i) const override { return rows.at(i).content.CNPJ; }
    int Acrescentar() override {
        rows.push_back(Row{nextId++, {}});
        return Quantidade() - 1;
    }
    void Preencher(int i, const TLinhaEmpresa& c) override {
        rows.at(i).content = c;
        filled.push_back(i);
    }
    void Apagar(int i) override { rows.erase(rows.begin() + i); }

    std::vector<std::string> Captions() const {
        std::vector<std::string> out;
        for (const auto& r : rows) {
            out.push_back(r.content.CNPJ);
        }
        return out;
    }
    std::vector<int> Ids() const {
        std::vector<int> out;
        for (const auto& r : rows) {
            out.push_back(r.id);
        }
        return out;
    }
};

TEST(CompanyList, RowsAreFilledAddedAndRemovedInPlace) {
    TConsultasEmpresas registry;
    registry.Inserir("11.222.333/0001-81", "SP", "Padaria", "0A", "s", "01/01/2030");
    registry.Inserir("45.997.418/0001-53", "RS", "Acme", "0B", "s", "02/02/2031");
    registry.Inserir("60.746.948/0001-12", "MG", "Moinho", "0C", "s", "");
    registry.Item(1)->SetStatus(2, "Certificado vencido");
    Rows rows;
    EXPECT_FALSE(AtualizarLinhas(rows, {}));  // an empty registry leaves an empty list

    EXPECT_TRUE(AtualizarLinhas(rows, registry.Itens()));
    ASSERT_EQ(rows.Ids(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(rows.rows[1].content, (TLinhaEmpresa{"45.997.418/0001-53", "RS", "Acme", "02/02/2031",
                                                   "Certificado vencido", 2}));

    // A status change updates its row where it stands.
    registry.Item(0)->SetStatus(1, "Buscando...");
    AtualizarLinhas(rows, registry.Itens());
    EXPECT_EQ(rows.Ids(), (std::vector<int>{1, 2, 3}));
    EXPECT_EQ(rows.rows[0].content.Situacao, "Buscando...");
    EXPECT_EQ(rows.rows[0].content.Imagem, 1);

    // The middle company leaves and a new one arrives: exactly that row goes, the new one is
    // added at the end, the others keep their rows.
    registry.Apagar(1);
    registry.Inserir("33.000.167/0001-01", "RJ", "Nova", "0D", "s", "");
    AtualizarLinhas(rows, registry.Itens());
    EXPECT_EQ(rows.Ids(), (std::vector<int>{1, 3, 4}));
    EXPECT_EQ(rows.Captions(), (std::vector<std::string>{"11.222.333/0001-81", "60.746.948/0001-12",
                                                         "33.000.167/0001-01"}));
}

TEST(CompanyList, EveryRecordHasARowOfItsOwnAndNoRowOutlivesItsRecord) {
    TConsultasEmpresas registry;
    registry.Inserir("ab.cde", "SP", "Minúsculas", "0A", "s", "");
    Rows rows;
    rows.Acrescentar();
    rows.rows[0].content.CNPJ = "AB.CDE";
    rows.Acrescentar();
    rows.rows[1].content.CNPJ = "removida";
    // A row whose caption differs from a registered CNPJ text only in letter case belongs to no
    // record: the record gets a row of its own and the stale one goes with the other stale row.
    AtualizarLinhas(rows, registry.Itens());
    EXPECT_EQ(rows.Captions(), (std::vector<std::string>{"ab.cde"}));
    EXPECT_EQ(rows.Ids(), (std::vector<int>{3}));

    // Two records with one CNPJ text (the registry does not refuse them) each show on a row of
    // their own, with their own status; the first keeps its row.
    registry.Inserir("ab.cde", "RJ", "Segunda", "0B", "s", "");
    registry.Item(0)->SetStatus(1, "Buscando...");
    registry.Item(1)->SetStatus(2, "Certificado vencido");
    AtualizarLinhas(rows, registry.Itens());
    ASSERT_EQ(rows.Ids(), (std::vector<int>{3, 4}));
    EXPECT_EQ(rows.rows[0].content,
              (TLinhaEmpresa{"ab.cde", "SP", "Minúsculas", "", "Buscando...", 1}));
    EXPECT_EQ(rows.rows[1].content,
              (TLinhaEmpresa{"ab.cde", "RJ", "Segunda", "", "Certificado vencido", 2}));

    // When the first of them leaves, one row goes and the other record's status stays on a row.
    registry.Apagar(0);
    AtualizarLinhas(rows, registry.Itens());
    ASSERT_EQ(rows.Quantidade(), 1);
    EXPECT_EQ(rows.rows[0].content.Nome, "Segunda");
    EXPECT_EQ(rows.rows[0].content.Situacao, "Certificado vencido");
}

// At every synchronised call of a cycle the window refreshes its list: only the rows of the
// records that changed are filled again while the registry keeps its records.
TEST(CompanyList, ARefreshFillsOnlyTheRowsThatChanged) {
    TConsultasEmpresas registry;
    registry.Inserir("11.222.333/0001-81", "SP", "Padaria", "0A", "s", "");
    registry.Inserir("45.997.418/0001-53", "RS", "Acme", "0B", "s", "");
    registry.Inserir("60.746.948/0001-12", "MG", "Moinho", "0C", "s", "");
    Rows rows;
    TListaEmpresas lista;
    auto r = lista.Atualizar(rows, registry.Itens());
    EXPECT_TRUE(r.inteira);
    EXPECT_EQ(rows.filled, (std::vector<int>{0, 1, 2}));

    const struct {
        const char* what;
        std::function<void()> change;
        std::vector<int> filled;
    } steps[] = {
        {"nothing changed", [] {}, {}},
        {"one status", [&] { registry.Item(1)->SetStatus(1, "Buscando..."); }, {1}},
        {"the same status again", [&] { registry.Item(1)->SetStatus(1, "Buscando..."); }, {}},
        {"two records",
         [&] {
             registry.Item(2)->SetVencimento("31/12/2049");
             registry.Item(0)->SetStatus(0, "Esperando...");
         },
         {0, 2}},
    };
    for (const auto& step : steps) {
        rows.filled.clear();
        step.change();
        r = lista.Atualizar(rows, registry.Itens());
        EXPECT_FALSE(r.inteira) << step.what;
        EXPECT_EQ(rows.filled, step.filled) << step.what;
        EXPECT_EQ(r.preenchidas, step.filled) << step.what;
    }
    EXPECT_EQ(rows.rows[1].content.Situacao, "Buscando...");
    EXPECT_EQ(rows.rows[2].content.Vencimento, "31/12/2049");

    // Another record, or a row taken away: the whole list again.
    registry.Inserir("33.000.167/0001-01", "RJ", "Posto", "0D", "s", "");
    rows.filled.clear();
    r = lista.Atualizar(rows, registry.Itens());
    EXPECT_TRUE(r.inteira);
    EXPECT_EQ(rows.Captions().size(), 4u);
    rows.Apagar(0);
    r = lista.Atualizar(rows, registry.Itens());
    EXPECT_TRUE(r.inteira);
    EXPECT_EQ(rows.Captions(),
              (std::vector<std::string>{"45.997.418/0001-53", "60.746.948/0001-12",
                                        "33.000.167/0001-01", "11.222.333/0001-81"}));
}

}  // namespace
}  // namespace quelvo
