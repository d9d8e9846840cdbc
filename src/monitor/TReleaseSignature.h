#pragma once

#include <openssl/evp.h>

#include <cstdint>
#include <string>
#include <string_view>

namespace quelvo {

// The release signature that every executable we publish carries, so that the self-update can
// tell our releases from anything else that arrives over the network in their place.
//
// It is an Ed25519 signature over every byte of the file before it, in a block of 100 bytes
// appended after the ELF image (the loader never maps bytes past the image, so the program runs
// and finds its version marker as before):
//   "QUELVO-ASSINADO1"   16 bytes
//   signature            64 bytes
//   its length           4 bytes, little-endian (64)
//   "QUELVO-ASSINADO1"   16 bytes
// tools/sign.sh writes and reads the same block with the openssl command.
class TReleaseSignature {
public:
    static constexpr std::string_view kMarca = "QUELVO-ASSINADO1";
    static constexpr size_t kTamanhoAssinatura = 64;
    static constexpr size_t kTamanhoBloco = 2 * kMarca.size() + kTamanhoAssinatura + 4;

    // The release public key (PEM) this build trusts: src/monitor/release-public-key.pem or the
    // file the build option QUELVO_RELEASE_PUBKEY named (ChaveDeLancamentoDoPrograma). Empty when
    // the build was given none.
    static std::string_view ChaveDoPrograma();

    // Raises EUpdateRefused, saying why, unless the text is an Ed25519 public key in PEM form
    // (an empty text is no key).
    static void ConferirChave(std::string_view chavePublicaPem);
    // Raises EUpdateRefused, saying why, unless `arquivo` ends with a signature block whose
    // signature verifies over the bytes before it with `chavePublicaPem` (an Ed25519 key; an
    // empty text is no key and refuses everything).
    static void Conferir(std::string_view arquivo, std::string_view chavePublicaPem);
    // The same for a file on disk, read whole when it holds at most `limite` bytes besides the
    // block (larger ones are refused unread).
    static void ConferirArquivo(const std::string& path, std::string_view chavePublicaPem,
                                uint64_t limite);
    // `imagem` followed by the block of its signature with `chavePrivada` (Ed25519).
    static std::string Assinar(std::string_view imagem, EVP_PKEY* chavePrivada);
};

}  // namespace quelvo
