#pragma once

#include <string>
#include <vector>

#include "certificates/OpenSslHandles.h"

namespace quelvo::testpki {

// A certificate with its private key.
struct Issued {
    EvpPkeyPtr key;
    X509Ptr cert;
};

// A small public-key infrastructure for tests and demos: a root CA, an intermediate CA under it,
// and certificates issued by the intermediate: TLS servers for loopback and e-CNPJ client
// certificates shaped like the Brazilian ones (subject CN "NAME:CNPJ", the subject-alternative-
// name entry 2.16.76.1.3.3 with the CNPJ). Everything is made at run time; no secret is stored.
class TestPki {
public:
    TestPki();

    X509* Root() const { return root_.cert.get(); }
    X509* Intermediate() const { return intermediate_.cert.get(); }

    // A server certificate for 127.0.0.1, ::1 and localhost (or for the names given, in the
    // subject-alternative-name syntax of OpenSSL: "DNS:outro.example").
    Issued IssueServer(
        const std::string& commonName = "localhost",
        const std::string& subjectAltNames = "DNS:localhost,IP:127.0.0.1,IP:::1") const;
    // An e-CNPJ client certificate valid from `fromDays` to `toDays` days around now, for a new
    // key or for `key` (which it then holds too: many certificates made quickly).
    Issued IssueECnpj(const std::string& name, const std::string& cnpj, int fromDays = -1,
                      int toDays = 365, EVP_PKEY* key = nullptr) const;
    // A client certificate from another root (one the servers do not trust).
    static Issued IssueSelfSigned(const std::string& commonName);

    // PKCS#12 bytes of a certificate with the intermediate and the root as its chain. `legacy`
    // uses RC2-40 for the certificates and 3DES for the key (as many authorities still do);
    // otherwise AES-256 with PBKDF2. Without `withKey` the file holds certificates only;
    // `otherKey` replaces the key (a file whose key does not match its certificate).
    std::string Pkcs12(const Issued& issued, const std::string& password, bool legacy,
                       bool withKey = true, EVP_PKEY* otherKey = nullptr) const;

    // The certificate followed by the intermediate (what a server sends).
    std::string ChainPem(X509* cert) const;

private:
    Issued root_;
    Issued intermediate_;
};

std::string CertPem(X509* cert);
std::string KeyPem(EVP_PKEY* key);

}  // namespace quelvo::testpki
