#include "platform/windows/TPinDaChave.h"

#include <openssl/evp.h>
#include <openssl/rand.h>

#include <mutex>
#include <optional>
#include <set>

#include "certificates/ECertificateError.h"
#include "certificates/TPinsRecusados.h"

namespace quelvo {

namespace {

// The refusals this process keeps in memory (no file, or one that could not be written): salted
// digests only, the salt made once per process.
struct Recusas {
    std::mutex lock;  // held for a whole presentation, so two threads never race to the token
    std::string salt;
    std::set<std::string> digests;
};

Recusas& RecusasDoProcesso() {
    static Recusas recusas;
    return recusas;
}

// Runs under the lock.
std::string Digest(Recusas& recusas, const std::string& dispositivo, const std::string& certificado,
                   const std::string& pin) {
    if (recusas.salt.empty()) {
        unsigned char salt[32];
        RAND_bytes(salt, sizeof salt);
        recusas.salt.assign(reinterpret_cast<char*>(salt), sizeof salt);
    }
    const std::string input = recusas.salt + dispositivo + '\0' + certificado + '\0' + pin;
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned int len = 0;
    EVP_Digest(input.data(), input.size(), md, &len, EVP_sha256(), nullptr);
    return std::string(reinterpret_cast<char*>(md), len);
}

std::string Nome(const std::string& certificado) {
    return "a chave do certificado digital \"" + certificado + "\"";
}

}  // namespace

TPinDaChave::TPinDaChave(std::string certificado, std::string dispositivo,
                         std::string arquivoRecusas)
    : certificado_(std::move(certificado)),
      dispositivo_(std::move(dispositivo)),
      arquivoRecusas_(std::move(arquivoRecusas)) {}

std::string TPinDaChave::SemSenha(const std::string& certificado) {
    return "A senha cadastrada para a empresa está vazia: " + Nome(certificado) +
           " precisa do seu PIN como senha.";
}

std::string TPinDaChave::PinBloqueado(const std::string& certificado) {
    return "O PIN d" + Nome(certificado) +
           " está bloqueado. Desbloqueie o token com o programa do fabricante e cadastre a "
           "empresa de novo com o PIN.";
}

void TPinDaChave::Apresentar(const std::string& pin, bool digitado,
                             const std::function<TRespostaDoPin()>& apresentar) const {
    std::string nome = Nome(certificado_);
    nome[0] = 'A';
    // The file keys refusals by a token's serial: here, the provider that holds the key.
    const std::string& dispositivo = dispositivo_;

    Recusas& recusas = RecusasDoProcesso();
    std::lock_guard<std::mutex> lock(recusas.lock);
    const std::string digest = Digest(recusas, dispositivo_, certificado_, pin);
    try {
        std::optional<TPinsRecusados> arquivo;
        if (!arquivoRecusas_.empty()) {
            arquivo.emplace(arquivoRecusas_);
        }
        if (digitado) {
            recusas.digests.erase(digest);
            if (arquivo) {
                arquivo->Esquecer(dispositivo, certificado_, pin);
            }
        }
        if (recusas.digests.count(digest) > 0 ||
            (arquivo && arquivo->Recusado(dispositivo, certificado_, pin))) {
            throw ECertificateError(
                nome +
                " já recusou esse PIN (a senha cadastrada para a empresa); ele não é apresentado "
                "de novo, para que o token não se bloqueie. Confira o PIN e cadastre a empresa de "
                "novo com ele.");
        }
    } catch (const ECertificateError&) {
        throw;
    } catch (const std::exception& e) {
        // Nobody can tell whether this PIN was refused: it is not presented.
        throw ECertificateError("O PIN d" + Nome(certificado_) +
                                " não foi apresentado: " + e.what());
    }

    switch (apresentar()) {
        case TRespostaDoPin::Aceito:
            return;
        case TRespostaDoPin::Bloqueado:
            throw ECertificateError(PinBloqueado(certificado_));
        case TRespostaDoPin::Recusado:
            break;
    }
    // Kept on disk; in memory only when there is no file or it cannot be written.
    std::string guardado;
    if (arquivoRecusas_.empty()) {
        recusas.digests.insert(digest);
    } else {
        try {
            TPinsRecusados(arquivoRecusas_).Registrar(dispositivo, certificado_, pin);
        } catch (const std::exception& e) {
            recusas.digests.insert(digest);
            guardado = std::string(" (A recusa vale até o programa fechar: ") + e.what() + ".)";
        }
    }
    throw ECertificateError(nome +
                            " recusou o PIN (a senha cadastrada para a empresa). Para que o token "
                            "não se bloqueie, esse PIN não será apresentado de novo: confira o PIN "
                            "e cadastre a empresa de novo com ele." +
                            guardado);
}

}  // namespace quelvo
