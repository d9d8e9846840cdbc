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

TListaEmpresas::Resultado TListaEmpresas::Atualizar(ILinhasEmpresas& linhas,
                                                    const std::vector<EmpresaPtr>& empresas) {
    Resultado r;
    bool mesmas = linhas.Quantidade() == static_cast<int>(empresas.size()) &&
                  mostradas_.size() == empresas.size();
    for (size_t i = 0; mesmas && i < empresas.size(); ++i) {
        mesmas = mostradas_[i].first == empresas[i].get();
    }
    if (!mesmas) {
        // Revisions first: a change that comes while the rows are filled shows next time.
        mostradas_.clear();
        for (const auto& e : empresas) {
            mostradas_.emplace_back(e.get(), e->Revisao());
        }
        AtualizarLinhas(linhas, empresas);
        r.inteira = true;
        for (int i = 0; i < linhas.Quantidade(); ++i) {
            r.preenchidas.push_back(i);
        }
        return r;
    }
    for (size_t i = 0; i < empresas.size(); ++i) {
        const auto& e = empresas[i];
        const uint64_t revisao = e->Revisao();
        if (revisao == mostradas_[i].second) {
            continue;
        }
        mostradas_[i].second = revisao;
        const auto [estado, situacao] = e->Status();
        linhas.Preencher(static_cast<int>(i), TLinhaEmpresa{e->CNPJ(), e->UF(), e->Nome(),
                                                            e->Vencimento(), situacao, estado});
        r.preenchidas.push_back(static_cast<int>(i));
    }
    return r;
}

}  // namespace quelvo
