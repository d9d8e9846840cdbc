#pragma once

#include <string>
#include <vector>

namespace quelvo::platform {

// The root certificates the system trusts that OpenSSL cannot read by itself, each in DER form:
// on Windows, the "ROOT" store (Windows keeps no bundle file). Empty on Linux, where the
// system's bundle file (the one libcurl was built to use) holds them.
std::vector<std::string> SystemRootCertificates();

}  // namespace quelvo::platform
