#pragma once

#include <string>
#include <vector>

namespace quelvo::testpki {

// The fixed RSA-2048 private keys (PEM) that the test PKI gives its e-CNPJ certificates, in the
// order it hands them out. All distinct.
const std::vector<std::string>& FixedRsaKeysPem();

}  // namespace quelvo::testpki
