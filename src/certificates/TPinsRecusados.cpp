#include "certificates/TPinsRecusados.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <filesystem>
#include <mutex>
#include <stdexcept>
#include <utility>
#include <vector>

#include "platform/Files.h"
#include "platform/Paths.h"

namespace quelvo {

namespace {

constexpr int kIteracoes = 20000;
constexpr size_t kSal = 16;
constexpr size_t kDigest = 32;

std::string Hex(const unsigned char* bytes, size_t n) {
    static const char kDigits[] = "0123456789abcdef";
    std::string out;
    for (size_t i = 0; i < n; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

bool IsHex(const std::string& text, size_t bytes) {
    return text.size() == 2 * bytes &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string FromHex(const std::string& text) {
    std::string out;
    for (size_t i = 0; i + 1 < text.size(); i += 2) {
        out += static_cast<char>(std::stoi(text.substr(i, 2), nullptr, 16));
    }
    return out;
}

// The token's serial as a field: a token may put any byte in it, the separator included.
std::string Escapar(const std::string& text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (unsigned char c : text) {
        if (c <= 0x20 || c >= 0x7F || c == ';' || c == '%') {
            out += '%';
            out += kDigits[c >> 4];
            out += kDigits[c & 0x0F];
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

bool DoToken(const TArquivoRegistros::Campos& c, const std::string& token,
             const std::string& certificado) {
    return c[0] == Escapar(token) && c[1] == certificado;
}

std::string Digest(const std::string& pin, const std::string& sal) {
    unsigned char out[kDigest];
    if (PKCS5_PBKDF2_HMAC(pin.data(), static_cast<int>(pin.size()),
                          reinterpret_cast<const unsigned char*>(sal.data()),
                          static_cast<int>(sal.size()), kIteracoes, EVP_sha256(), sizeof out,
                          out) != 1) {
        throw std::runtime_error("Não foi possível calcular o resumo do PIN.");
    }
    const std::string hex = Hex(out, sizeof out);
    OPENSSL_cleanse(out, sizeof out);
    return hex;
}

bool LinhaValida(const TArquivoRegistros::Campos& c) {
    return c.size() == 4 && !c[1].empty() && IsHex(c[2], kSal) && IsHex(c[3], kDigest);
}

struct TAvisos {
    std::mutex mutex;
    std::string texto;
};

TAvisos& Avisos() {
    static TAvisos avisos;
    return avisos;
}

}  // namespace

TPinsRecusados::TPinsRecusados(const std::string& path)
    : arquivo_(path, 3, LinhaValida, kLimiteBytes) {}

void TPinsRecusados::Ler() {
    std::string aviso = arquivo_.TomarAviso();
    if (aviso.empty()) {
        return;  // sound, missing, or unreadable (then the call that needs it raises)
    }
    try {
        arquivo_.Reparar();
    } catch (const std::exception& e) {
        aviso += std::string(" Não foi possível gravá-lo sem essas linhas: ") + e.what() + ".";
    }
    TAvisos& avisos = Avisos();
    std::lock_guard lock(avisos.mutex);
    if (!avisos.texto.empty()) {
        avisos.texto += "\r\n";
    }
    avisos.texto += aviso;
}

std::string TPinsRecusados::TomarAvisos() {
    TAvisos& avisos = Avisos();
    std::lock_guard lock(avisos.mutex);
    return std::exchange(avisos.texto, std::string());
}

bool TPinsRecusados::Recusado(const std::string& token, const std::string& certificado,
                              const std::string& pin) {
    Ler();
    for (const auto& c : arquivo_.Registros(
             [&](const TArquivoRegistros::Campos& r) { return DoToken(r, token, certificado); })) {
        if (Digest(pin, FromHex(c[2])) == c[3]) {
            return true;
        }
    }
    return false;
}

void TPinsRecusados::Registrar(const std::string& token, const std::string& certificado,
                               const std::string& pin) {
    Ler();
    unsigned char sal[kSal];
    if (RAND_bytes(sal, sizeof sal) != 1) {
        throw std::runtime_error("Não foi possível sortear o sal do resumo do PIN.");
    }
    const std::string salText(reinterpret_cast<const char*>(sal), sizeof sal);
    // A store of tokens alone may have no folder yet: it is made as an import makes it.
    const std::filesystem::path folder = platform::PathOf(arquivo_.Caminho()).parent_path();
    if (!folder.empty() && !std::filesystem::exists(folder)) {
        std::error_code ec;
        std::filesystem::create_directories(folder, ec);
        platform::MakeFolderOwnerOnly(platform::Utf8Of(folder), true);
    }
    // Several companies may share a certificate with different passwords: each refusal is kept,
    // the oldest going once there are many.
    std::vector<std::string> antigos;
    for (const auto& c : arquivo_.Registros()) {
        if (DoToken(c, token, certificado)) {
            antigos.push_back(arquivo_.Chave(c));
        }
    }
    if (antigos.size() >= kPorCertificado) {
        antigos.resize(antigos.size() - kPorCertificado + 1);
        arquivo_.Apagar(antigos);
    }
    arquivo_.Gravar({{Escapar(token), certificado, Hex(sal, sizeof sal), Digest(pin, salText)}});
}

void TPinsRecusados::Esquecer(const std::string& token, const std::string& certificado,
                              const std::string& pin) {
    Ler();
    std::vector<std::string> chaves;
    for (const auto& c : arquivo_.Registros()) {
        if (DoToken(c, token, certificado) && Digest(pin, FromHex(c[2])) == c[3]) {
            chaves.push_back(arquivo_.Chave(c));
        }
    }
    arquivo_.Apagar(chaves);
}

}  // namespace quelvo
