#include "monitor/TListaEmpresas.h"

#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "common/TextCase.h"

namespace quelvo {

namespace {

struct HashIgnoringCaseFn {
    size_t operator()(std::string_view s) const { return HashIgnoringCase(s); }
};
struct SameIgnoringCaseFn {
    bool operator()(std::string_view a, std::string_view b) const {
        return SameTextIgnoringCase(a, b);
    }
};

}  // namespace

bool AtualizarLinhas(ILinhasEmpresas& linhas, const std::vector<EmpresaPtr>& empresas) {
    // The first row of each caption, so a refresh of n companies costs n lookups, not n scans.
    std::unordered_map<std::string, int> primeira;
    const int existentes = linhas.Quantidade();
    for (int i = 0; i < existentes; ++i) {
        primeira.try_emplace(linhas.Legenda(i), i);
    }
    std::unordered_set<std::string, HashIgnoringCaseFn, SameIgnoringCaseFn> presentes;
    for (const auto& empresa : empresas) {
        const std::string& cnpj = empresa->CNPJ();
        presentes.insert(cnpj);
        int linha = -1;
        if (const auto it = primeira.find(cnpj); it != primeira.end()) {
            linha = it->second;
        } else {
            linha = linhas.Acrescentar();
            primeira.emplace(cnpj, linha);
        }
        const auto [estado, situacao] = empresa->Status();
        linhas.Preencher(linha, TLinhaEmpresa{cnpj, empresa->UF(), empresa->Nome(),
                                              empresa->Vencimento(), situacao, estado});
    }
    // The rows of companies that left the registry go, last first so the indices stay valid.
    for (int i = linhas.Quantidade() - 1; i >= 0; --i) {
        if (!presentes.count(linhas.Legenda(i))) {
            linhas.Apagar(i);
        }
    }
    return linhas.Quantidade() > 0;
}

}  // namespace quelvo
