#pragma once

#include <openssl/x509.h>

#include <memory>
#include <string>

namespace quelvo {

// The store every connection to the national service verifies the server's chain with: the
// system's authorities (the bundle file and folder curl would load), the ICP-Brasil roots built
// into the program and the files of "ac-confiaveis/" (TTrustAnchors). Made once per folder and
// shared by every connection and thread (an X509_STORE may be), so a new TLS context costs no
// parsing; made again when the folder's files change (names, sizes, modification times).
class TTrustStore {
public:
    using Store = std::shared_ptr<X509_STORE>;

    // The store for the folder ("" for the built-in roots and the system's alone). `caFile` and
    // `caPath` name the system's bundle and folder ("" for none).
    static Store For(const std::string& folder, const std::string& caFile,
                     const std::string& caPath);
};

}  // namespace quelvo
