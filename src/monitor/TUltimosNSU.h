#pragma once

#include <string>

#include "common/TArquivoRegistros.h"

namespace quelvo {

// The ultNSU that the national service returned last for each CNPJ, from which the sequential
// mode asks for the next documents (asking from an older one counts as leaving the sequence).
// Kept in "UltimosNSU.dat" in the application folder, one line per CNPJ:
//   <CNPJ digits>;<ultNSU in decimal>
class TUltimosNSU {
public:
    static constexpr const char* kArquivo = "UltimosNSU.dat";
    static constexpr size_t kLimiteBytes = 1 << 20;

    explicit TUltimosNSU(const std::string& appDir);

    // 0 for a CNPJ never read. Raises when the file cannot be read.
    long long Ler(const std::string& cnpj);
    // Stores the value and writes the file (raises when it cannot be written).
    void Gravar(const std::string& cnpj, long long ultNSU);
    // Every stored value back to 0, so that every CNPJ is read again from its oldest document.
    void ZerarTodos();

    std::string TomarAviso() { return arquivo_.TomarAviso(); }

private:
    TArquivoRegistros arquivo_;
};

}  // namespace quelvo
