#pragma once

#include <chrono>
#include <optional>
#include <string>

#include "common/TArquivoRegistros.h"

namespace quelvo {

// When each CNPJ may be queried again. The national service blocks a CNPJ for an hour after a
// "Consumo Indevido" (656) and restarts the hour at every query during the block; in sequential
// mode a CNPJ also rests an hour once it has read everything (137, or ultNSU equal to maxNSU).
// Kept in "Descansos.dat" in the application folder, one line per CNPJ:
//   <CNPJ digits>;<end of the rest, milliseconds since 1970-01-01 UTC>;<cStat that started it>
// so that a restart of the program does not restart a block.
class TDescansos {
public:
    using Instante = std::chrono::system_clock::time_point;
    struct Descanso {
        Instante fim;
        int cStat = 0;  // 656: blocked by the service; 137: nothing more to read for now
    };

    static constexpr const char* kArquivo = "Descansos.dat";
    static constexpr size_t kLimiteBytes = 1 << 20;

    explicit TDescansos(const std::string& appDir);

    // The rest of the CNPJ at `agora`, or nothing when it may be queried. A stored end further
    // away than `maximo` (a clock set back, a damaged value) counts as `maximo` from now.
    // Raises when the file cannot be read.
    std::optional<Descanso> Ativo(const std::string& cnpj, Instante agora,
                                  std::chrono::milliseconds maximo);
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
    TArquivoRegistros arquivo_;
};

}  // namespace quelvo
