#include "monitor/TListaEmpresas.h"

#include <deque>
#include <unordered_map>

namespace quelvo {

bool AtualizarLinhas(ILinhasEmpresas& linhas, const std::vector<EmpresaPtr>& empresas) {
    // The rows of each caption, in list order, so a refresh of n companies costs n lookups, not
    // n scans. Each record claims the first row of its caption that no earlier record claimed.
    std::unordered_map<std::string, std::deque<int>> livres;
    const int existentes = linhas.Quantidade();
    for (int i = 0; i < existentes; ++i) {
        livres[linhas.Legenda(i)].push_back(i);
    }
    std::vector<bool> usada(static_cast<size_t>(existentes), false);
    for (const auto& empresa : empresas) {
        const std::string& cnpj = empresa->CNPJ();
        int linha = -1;
        if (const auto it = livres.find(cnpj); it != livres.end() && !it->second.empty()) {
            linha = it->second.front();
            it->second.pop_front();
            usada[static_cast<size_t>(linha)] = true;
        } else {
            linha = linhas.Acrescentar();
        }
        const auto [estado, situacao] = empresa->Status();
        linhas.Preencher(linha, TLinhaEmpresa{cnpj, empresa->UF(), empresa->Nome(),
                                              empresa->Vencimento(), situacao, estado});
    }
    // The rows no record claimed (companies that left the registry) go, last first so the
    // indices stay valid. The rows added above come after them and are all claimed.
    for (int i = existentes - 1; i >= 0; --i) {
        if (!usada[static_cast<size_t>(i)]) {
            linhas.Apagar(i);
        }
    }
    return linhas.Quantidade() > 0;
}

}  // namespace quelvo
