// The usage-rule files, "Descansos.dat", "UltimosNSU.dat" and "EnviosPendentes.dat" (the first
// byte of the input picks one, the rest is the file): any bytes load, damaged and torn lines left
// out (a copy of the file kept aside); what a reader keeps, the next change writes back so that a
// new reader sees the same records and nothing damaged.
#include <chrono>
#include <map>
#include <optional>
#include <set>
#include <sstream>
#include <vector>

#include "FuzzSupport.h"
#include "monitor/TDescansos.h"
#include "monitor/TEnviosPendentes.h"
#include "monitor/TUltimosNSU.h"

using namespace quelvo;
using Instante = TDescansos::Instante;

namespace {

constexpr const char* kNova = "11222333000181";

// The CNPJs the file names (its lines' first fields), and one it may not.
std::set<std::string> Cnpjs(const std::string& file) {
    std::set<std::string> out = {kNova};
    std::stringstream lines(file);
    for (std::string line; std::getline(lines, line) && out.size() < 32;) {
        out.insert(line.substr(0, line.find(';')));
    }
    return out;
}

std::string Estado(const std::optional<TDescansos::Descanso>& d) {
    return d ? std::to_string(d->fim.time_since_epoch().count()) + "/" + std::to_string(d->cStat)
             : "-";
}

void Descansos(const std::string& file, const std::string& dir) {
    const Instante agora{std::chrono::milliseconds(1796734800000)};  // 08/12/2026 10:00 UTC-3
    const std::chrono::milliseconds hora = std::chrono::hours(1);
    std::map<std::string, std::string> antes;
    TDescansos a(dir);
    for (const auto& cnpj : Cnpjs(file)) {
        antes[cnpj] =
            Estado(a.Ativo(cnpj, agora, hora)) + Estado(a.LimiteAtingido(cnpj, agora, hora));
    }
    a.Descansar(kNova, agora + hora, 137);
    TDescansos b(dir);
    QUELVO_FUZZ_CHECK(b.TomarAviso().empty());
    for (const auto& [cnpj, estado] : antes) {
        if (cnpj != kNova) {
            QUELVO_FUZZ_CHECK(Estado(b.Ativo(cnpj, agora, hora)) +
                                  Estado(b.LimiteAtingido(cnpj, agora, hora)) ==
                              estado);
        }
    }
    QUELVO_FUZZ_CHECK(b.Ativo(kNova, agora, hora).has_value());
}

void UltimosNsu(const std::string& file, const std::string& dir) {
    std::map<std::string, long long> antes;
    TUltimosNSU a(dir);
    for (const auto& cnpj : Cnpjs(file)) {
        antes[cnpj] = a.Ler(cnpj);
        QUELVO_FUZZ_CHECK(antes[cnpj] >= 0);
    }
    a.Gravar(kNova, 7);
    TUltimosNSU b(dir);
    QUELVO_FUZZ_CHECK(b.TomarAviso().empty());
    for (const auto& [cnpj, ult] : antes) {
        QUELVO_FUZZ_CHECK(b.Ler(cnpj) == (cnpj == kNova ? 7 : ult));
    }
}

void Pendentes(const std::string& file, const std::string& dir) {
    std::map<std::string, std::vector<TEnviosPendentes::Envio>> antes;
    TEnviosPendentes a(dir);
    for (const auto& cnpj : Cnpjs(file)) {
        antes[cnpj] = a.DoCnpj(cnpj);
        QUELVO_FUZZ_CHECK(a.Quantos(cnpj) == antes[cnpj].size());
    }
    const std::string xml = "<resNFe versao=\"1.01\"><chNFe>1</chNFe></resNFe>";
    a.Acrescentar({{kNova, 999999, xml}});
    TEnviosPendentes b(dir);
    QUELVO_FUZZ_CHECK(b.TomarAviso().empty());
    for (const auto& [cnpj, envios] : antes) {
        const auto depois = b.DoCnpj(cnpj);
        if (cnpj != kNova) {
            QUELVO_FUZZ_CHECK(depois.size() == envios.size());
            for (size_t i = 0; i < envios.size(); ++i) {
                QUELVO_FUZZ_CHECK(depois[i].nsu == envios[i].nsu && depois[i].xml == envios[i].xml);
            }
        } else {
            QUELVO_FUZZ_CHECK(!depois.empty() && depois.back().nsu == 999999 &&
                              depois.back().xml == xml);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) {
        return 0;
    }
    fuzz::ClearScratch();
    const std::string& dir = fuzz::Scratch();
    const std::string file = fuzz::Text(data + 1, size - 1);
    switch (data[0] % 3) {
        case 0:
            fuzz::WriteFile(dir + TDescansos::kArquivo, file);
            Descansos(file, dir);
            break;
        case 1:
            fuzz::WriteFile(dir + TUltimosNSU::kArquivo, file);
            UltimosNsu(file, dir);
            break;
        default:
            fuzz::WriteFile(dir + TEnviosPendentes::kArquivo, file);
            Pendentes(file, dir);
            break;
    }
    return 0;
}
