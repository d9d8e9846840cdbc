#pragma once

#include <string_view>

namespace quelvo {

// The release public key (PEM) this build trusts: src/monitor/release-public-key.pem or the file
// the build option QUELVO_RELEASE_PUBKEY named; empty when the build was given none. It lives in a
// file of its own, and nothing else does, so that a test program can be linked with a key of its
// own in its place (its own definition comes first, and this one is then never linked in).
std::string_view ChaveDeLancamentoDoPrograma();

}  // namespace quelvo
