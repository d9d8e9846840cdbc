#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <vector>

#include "common/TArquivoRegistros.h"

namespace quelvo {

// When each CNPJ may be queried again. The national service blocks a CNPJ for an hour after a
// "Consumo Indevido" (656) and restarts the hour at every query during the block; in sequential
// mode a CNPJ also rests an hour once it has read everything (137, or ultNSU equal to maxNSU).
// The service also blocks a CNPJ asked for more than 20 single documents (consNSU) in an hour, so
// each CNPJ keeps a budget of its own below that: the moments of its consNSU queries within the
// last hour, counted before each query is sent (another program may query the same CNPJ).
// Kept in "Descansos.dat" in the application folder, one line per CNPJ:
//   <CNPJ digits>;<end of the rest>;<cStat that started it>;<consNSU moments, "," between them>
// (moments in milliseconds since 1970-01-01 UTC; an older file's lines end after the cStat), so
// that a restart of the program restarts neither a block nor the count. Every change is on the
// disk when its call returns.
class TDescansos {
public:
    using Instante = std::chrono::system_clock::time_point;
    struct Descanso {
        Instante fim;
        // 656: blocked by the service; 137: nothing more to read for now; kLimiteProprio: the
        // budget of one-document queries is used up.
        int cStat = 0;
    };

    static constexpr const char* kArquivo = "Descansos.dat";
    static constexpr size_t kLimiteBytes = 16 << 20;
    // The budget: the service allows 20 consNSU an hour; one is left for the unforeseen.
    static constexpr int kConsultasPorHora = 19;
    static constexpr int kLimiteProprio = 0;

    explicit TDescansos(const std::string& appDir);

    // The service's rest of the CNPJ at `agora` (656 or 137), or nothing when it may be queried.
    // A stored end further away than `hora` from now (a clock that was ahead, a damaged value) is
    // brought to now + `hora` on disk, so that it ends within the hour. Raises when the file
    // cannot be read or that change cannot be written.
    std::optional<Descanso> Ativo(const std::string& cnpj, Instante agora,
                                  std::chrono::milliseconds hora);
    // The rest the CNPJ's own budget imposes at `agora`: when kConsultasPorHora consNSU were sent
    // within the last `hora`, until the oldest of them is an hour old (cStat kLimiteProprio).
    std::optional<Descanso> LimiteAtingido(const std::string& cnpj, Instante agora,
                                           std::chrono::milliseconds hora);
    // Counts a consNSU at `agora`, on disk before it is sent: raises when it cannot be written
    // (then the query must not be sent).
    void RegistrarConsulta(const std::string& cnpj, Instante agora, std::chrono::milliseconds hora);
    // Rests the CNPJ until `fim` and writes the file; when the write fails the rest still holds
    // for this run and the call raises.
    void Descansar(const std::string& cnpj, Instante fim, int cStat);

    // The company's status while it rests: "Consumo indevido: nova consulta após 14:35" (the date
    // comes first when the end is not today).
    static std::string Texto(const Descanso& descanso, Instante agora);
    // "14:35", or "11/12/2026 00:20" when `fim` is not on the same day as `agora`.
    static std::string Quando(Instante fim, Instante agora);

    // What the reader left out of a damaged file, once.
    std::string TomarAviso() { return arquivo_.TomarAviso(); }

private:
    struct Registro {
        Instante fim;
        int cStat = 0;
        std::vector<Instante> consultas;
    };
    // The CNPJ's line at `agora`: an end or moments later than the hour allows are brought back
    // (and written) once; moments older than the hour are dropped.
    Registro Ler(const std::string& cnpj, Instante agora, std::chrono::milliseconds hora);
    void Gravar(const std::string& cnpj, const Registro& r);

    TArquivoRegistros arquivo_;
};

}  // namespace quelvo
