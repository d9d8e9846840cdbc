#include "monitor/ChaveDeLancamento.h"

namespace quelvo {

namespace {

// The PEM text of the release public key, made by the build from the key file it was given
// (an empty text when there was none).
constexpr char kChaveDoPrograma[] =
#include "ReleasePublicKey.inc"
    ;

}  // namespace

std::string_view ChaveDeLancamentoDoPrograma() {
    return {kChaveDoPrograma, sizeof kChaveDoPrograma - 1};
}

}  // namespace quelvo
