#pragma once

#include <string>
#include <vector>

#include "common/TArquivoRegistros.h"

namespace quelvo {

// Invoice summaries that the sequential mode received but the site has not accepted yet. Once
// the stored ultNSU has moved past a summary the service will not deliver it again, so it waits
// here, and is sent again at the start of the company's next turns until the site accepts it.
// A summary is written here before the ultNSU that passes it is stored. Kept in
// "EnviosPendentes.dat" in the application folder, one line per summary:
//   <CNPJ digits>;<NSU>;<the resNFe document as the service sent it, in base64>
class TEnviosPendentes {
public:
    struct Envio {
        std::string cnpj;
        long long nsu = 0;
        std::string xml;  // the resNFe document
    };

    static constexpr const char* kArquivo = "EnviosPendentes.dat";
    // The file is read whole at every company's turn, and never written past this.
    static constexpr size_t kLimiteBytes = 64 << 20;
    // While a CNPJ has this many summaries waiting, its turns only send them and read nothing
    // more from the service (its stored ultNSU stays where it is, so nothing is lost): the site is
    // out of reach or refusing, and what is read meanwhile would only pile up here.
    static constexpr size_t kMaximoPorCnpj = 5000;

    explicit TEnviosPendentes(const std::string& appDir);

    // The summaries waiting for a CNPJ, in the order they arrived. Raises when the file cannot be
    // read.
    std::vector<Envio> DoCnpj(const std::string& cnpj);
    // How many summaries wait for a CNPJ. Raises when the file cannot be read.
    size_t Quantos(const std::string& cnpj);
    // Adds (or replaces, by CNPJ and NSU) and writes the file, on the disk when the call returns;
    // raises when it cannot be written (or flushed), and then adds nothing when the file would
    // grow past its limit.
    void Acrescentar(const std::vector<Envio>& envios);
    // Removes the CNPJ's summaries with these NSUs and writes the file.
    void Remover(const std::string& cnpj, const std::vector<long long>& nsus);

    std::string TomarAviso() { return arquivo_.TomarAviso(); }

private:
    TArquivoRegistros arquivo_;
};

}  // namespace quelvo
