// The release signature block and the markers of an executable: any bytes are refused with the
// update's own error or accepted only when signed by the key; a file signed by the key verifies,
// and one byte changed anywhere in it does not; the version and program read from any bytes are
// texts of their kind or nothing.
#include <openssl/evp.h>
#include <openssl/pem.h>

#include <memory>

#include "FuzzSupport.h"
#include "common/Utils.h"
#include "common/Version.h"
#include "monitor/EUpdateRefused.h"
#include "monitor/TReleaseSignature.h"

using namespace quelvo;

namespace {

struct Chaves {
    std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> privada{nullptr, &EVP_PKEY_free};
    std::string publica;
};

const Chaves& ChavesDoTeste() {
    static const Chaves chaves = [] {
        Chaves c;
        c.privada.reset(EVP_PKEY_Q_keygen(nullptr, nullptr, "ED25519"));
        BIO* bio = BIO_new(BIO_s_mem());
        PEM_write_bio_PUBKEY(bio, c.privada.get());
        char* data = nullptr;
        const long n = BIO_get_mem_data(bio, &data);
        c.publica.assign(data, static_cast<size_t>(n));
        BIO_free(bio);
        return c;
    }();
    return chaves;
}

bool Aceito(std::string_view arquivo) {
    try {
        TReleaseSignature::Conferir(arquivo, ChavesDoTeste().publica);
        return true;
    } catch (const EUpdateRefused&) {
        return false;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    // Arbitrary bytes: nobody signed them.
    QUELVO_FUZZ_CHECK(!Aceito(input));
    const std::string versao = VersionInBytes(input);
    QUELVO_FUZZ_CHECK(versao.empty() || NewerVersion(versao, ""));
    const std::string programa = ProgramInBytes(input);
    QUELVO_FUZZ_CHECK(programa.find('\0') == std::string::npos);

    const std::string assinado = TReleaseSignature::Assinar(input, ChavesDoTeste().privada.get());
    QUELVO_FUZZ_CHECK(assinado.size() == input.size() + TReleaseSignature::kTamanhoBloco);
    QUELVO_FUZZ_CHECK(Aceito(assinado));
    if (size > 0) {
        std::string mudado = assinado;
        const size_t onde = data[0] % mudado.size();
        mudado[onde] = static_cast<char>(mudado[onde] ^ (1 + data[size - 1] % 255));
        QUELVO_FUZZ_CHECK(!Aceito(mudado));
        QUELVO_FUZZ_CHECK(!Aceito(assinado.substr(0, assinado.size() - 1)));
    }
    return 0;
}
