#pragma once

#include <string>

#include "common/TArquivoRegistros.h"

namespace quelvo {

// The PINs that tokens refused, kept on disk so that no later start of the program presents one
// of them again: a token locks itself after a few wrong PINs, and the program starts often (a
// second copy ends the first, an update restarts it). Kept per token (its serial number) and
// certificate (its serial number), in "PinsRecusados.dat" of the certificate store's folder, one
// line each:
//   <token serial, %-escaped>;<certificate serial>;<salt, hex>;<PBKDF2-SHA256 of the PIN, hex>
// The PIN itself is never written: only a salted, slow digest that tells whether the company's
// password is still the one refused (a new password is presented once more).
class TPinsRecusados {
public:
    static constexpr const char* kArquivo = "PinsRecusados.dat";
    static constexpr size_t kLimiteBytes = 1 << 20;
    // Refused PINs kept per token and certificate.
    static constexpr size_t kPorCertificado = 8;

    explicit TPinsRecusados(const std::string& path);

    // `token`: the serial number of the token (or hardware key) as it gives it.
    // Whether the token refused this PIN for this certificate. Raises when the file cannot be
    // read (then nobody can tell, and the PIN must not be presented).
    bool Recusado(const std::string& token, const std::string& certificado, const std::string& pin);
    // Keeps the refusal; raises when it cannot be written.
    void Registrar(const std::string& token, const std::string& certificado,
                   const std::string& pin);
    // Forgets the refusal of this PIN (the user typed it again on purpose).
    void Esquecer(const std::string& token, const std::string& certificado, const std::string& pin);

    const std::string& Caminho() const { return arquivo_.Caminho(); }

    // What the readers of this process left out of damaged files, once each, for the log ("" when
    // nothing): a reader that finds damaged lines keeps a copy of the file and writes it anew
    // without them, so that the next reader (one per login) finds it sound.
    static std::string TomarAvisos();

private:
    // Reads the file; a damaged one is repaired at once and the warning kept for TomarAvisos.
    void Ler();

    TArquivoRegistros arquivo_;
};

}  // namespace quelvo
