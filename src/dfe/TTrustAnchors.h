#pragma once

#include <string>
#include <vector>

#include "certificates/TCertificate.h"

namespace quelvo {

// The trust anchors of the national service's chain besides the system's store: the ICP-Brasil
// roots built into the program, then every certificate of the ".pem" and ".crt" files (PEM or
// DER, one or more certificates a file) of the folder "ac-confiaveis/", in the order of their
// names. A file that cannot be used adds nothing and is named among the problems.
class TTrustAnchors {
public:
    // A file larger than this is no certificate file.
    static constexpr size_t kMaxFileBytes = size_t{1} << 20;
    struct Anchor {
        TCertificate certificate;
        bool embutida = false;  // built into the program
        std::string arquivo;    // the built-in root's file name, or the path of the folder's file
    };
    struct Problem {
        std::string arquivo;
        std::string motivo;
    };

    // The built-in roots and those of the folder ("" or a missing folder: none).
    static TTrustAnchors Load(const std::string& folder);
    // The built-in roots alone, parsed once per process.
    static const std::vector<Anchor>& BuiltIn();

    const std::vector<Anchor>& Anchors() const { return anchors_; }
    const std::vector<Problem>& Problems() const { return problems_; }

private:
    std::vector<Anchor> anchors_;
    std::vector<Problem> problems_;
};

// The SHA-256 of a certificate's DER encoding, as upper-case hexadecimal pairs joined by ":".
std::string Sha256Fingerprint(X509* cert);

}  // namespace quelvo
