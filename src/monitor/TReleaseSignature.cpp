#include "monitor/TReleaseSignature.h"

#include <openssl/err.h>
#include <openssl/pem.h>

#include <array>
#include <fstream>

#include "certificates/OpenSslHandles.h"
#include "monitor/ChaveDeLancamento.h"
#include "monitor/EUpdateRefused.h"
#include "platform/Paths.h"

namespace quelvo {

namespace {

constexpr size_t kCampoTamanho = 4;

EvpPkeyPtr ChavePublica(std::string_view pem) {
    if (pem.empty()) {
        throw EUpdateRefused(
            "este programa foi compilado sem chave pública de lançamento e não aceita "
            "atualizações");
    }
    BioPtr bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    EvpPkeyPtr chave(bio ? PEM_read_bio_PUBKEY(bio.get(), nullptr, nullptr, nullptr) : nullptr);
    ERR_clear_error();
    if (!chave || EVP_PKEY_get_id(chave.get()) != EVP_PKEY_ED25519) {
        throw EUpdateRefused("a chave pública de lançamento deste programa não é Ed25519");
    }
    return chave;
}

uint32_t LerTamanho(std::string_view campo) {
    uint32_t n = 0;
    for (size_t i = 0; i < kCampoTamanho; ++i) {
        n |= static_cast<uint32_t>(static_cast<unsigned char>(campo[i])) << (8 * i);
    }
    return n;
}

}  // namespace

std::string_view TReleaseSignature::ChaveDoPrograma() {
    return ChaveDeLancamentoDoPrograma();
}

void TReleaseSignature::Conferir(std::string_view arquivo, std::string_view chavePublicaPem) {
    const EvpPkeyPtr chave = ChavePublica(chavePublicaPem);
    // The block is read from its end: the closing mark, the length, the signature, the opening
    // mark. A closing mark whose other parts do not line up is a block of a wrong length.
    const size_t fimDaMarca = kMarca.size();
    if (arquivo.size() < fimDaMarca || arquivo.substr(arquivo.size() - fimDaMarca) != kMarca) {
        throw EUpdateRefused("o arquivo não tem assinatura de lançamento");
    }
    if (arquivo.size() < kTamanhoBloco ||
        LerTamanho(arquivo.substr(arquivo.size() - fimDaMarca - kCampoTamanho)) !=
            kTamanhoAssinatura ||
        arquivo.substr(arquivo.size() - kTamanhoBloco, kMarca.size()) != kMarca) {
        throw EUpdateRefused("o bloco de assinatura do arquivo tem tamanho errado");
    }
    const std::string_view imagem = arquivo.substr(0, arquivo.size() - kTamanhoBloco);
    const std::string_view assinatura =
        arquivo.substr(imagem.size() + kMarca.size(), kTamanhoAssinatura);

    const EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    const bool confere =
        ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, chave.get()) == 1 &&
        EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(assinatura.data()),
                         assinatura.size(), reinterpret_cast<const unsigned char*>(imagem.data()),
                         imagem.size()) == 1;
    ERR_clear_error();
    if (!confere) {
        throw EUpdateRefused(
            "a assinatura do arquivo não confere com a chave de lançamento deste programa");
    }
}

void TReleaseSignature::ConferirChave(std::string_view chavePublicaPem) {
    ChavePublica(chavePublicaPem);
}

void TReleaseSignature::ConferirArquivo(const std::string& path, std::string_view chavePublicaPem,
                                        uint64_t limite) {
    // No key, no reading: a build without one refuses at once.
    ChavePublica(chavePublicaPem);
    std::ifstream in(platform::PathOf(path), std::ios::binary | std::ios::ate);
    const std::streamoff tamanho = in ? static_cast<std::streamoff>(in.tellg()) : -1;
    if (tamanho < 0) {
        throw EUpdateRefused("o arquivo não pode ser lido");
    }
    if (static_cast<uint64_t>(tamanho) > limite + kTamanhoBloco) {
        throw EUpdateRefused("o arquivo passa de " + std::to_string(limite >> 20) + " MB");
    }
    std::string bytes(static_cast<size_t>(tamanho), '\0');
    in.seekg(0);
    if (!in.read(bytes.data(), tamanho)) {
        throw EUpdateRefused("o arquivo não pode ser lido");
    }
    Conferir(bytes, chavePublicaPem);
}

std::string TReleaseSignature::Assinar(std::string_view imagem, EVP_PKEY* chavePrivada) {
    std::array<unsigned char, kTamanhoAssinatura> assinatura{};
    size_t tamanho = assinatura.size();
    const EvpMdCtxPtr ctx(EVP_MD_CTX_new());
    const bool assinou =
        chavePrivada != nullptr && EVP_PKEY_get_id(chavePrivada) == EVP_PKEY_ED25519 && ctx &&
        EVP_DigestSignInit(ctx.get(), nullptr, nullptr, nullptr, chavePrivada) == 1 &&
        EVP_DigestSign(ctx.get(), assinatura.data(), &tamanho,
                       reinterpret_cast<const unsigned char*>(imagem.data()), imagem.size()) == 1 &&
        tamanho == assinatura.size();
    ERR_clear_error();
    if (!assinou) {
        throw EUpdateRefused("a chave de assinatura não é uma chave privada Ed25519");
    }
    std::string out;
    out.reserve(imagem.size() + kTamanhoBloco);
    out.append(imagem);
    out.append(kMarca);
    out.append(reinterpret_cast<const char*>(assinatura.data()), assinatura.size());
    for (size_t i = 0; i < kCampoTamanho; ++i) {
        out.push_back(static_cast<char>((kTamanhoAssinatura >> (8 * i)) & 0xFF));
    }
    out.append(kMarca);
    return out;
}

}  // namespace quelvo
