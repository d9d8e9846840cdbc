#pragma once

#include <atomic>
#include <string>
#include <vector>

#include "certificates/OpenSslHandles.h"

namespace quelvo::testpki {

// A certificate's period of validity: fixed instants (ASN.1 time text "YYYYMMDDHHMMSSZ", UTC),
// so that the dates a program shows of it are known in advance. Noon UTC falls on the same date
// in every time zone from UTC-11 to UTC+11.
struct Validity {
    std::string notBefore;
    std::string notAfter;

    // Valid from 01/01/2024 to 31/12/2049 (the last date a UTCTime holds).
    static Validity Current() { return {"20240101120000Z", "20491231120000Z"}; }
    // Valid from 01/01/2024 to 30/06/2025: expired.
    static Validity Expired() { return {"20240101120000Z", "20250630120000Z"}; }
    // From 01/01/2024 to noon UTC of the day given ("YYYYMMDD").
    static Validity Until(const std::string& yyyymmdd) {
        return {"20240101120000Z", yyyymmdd + "120000Z"};
    }
};

// A certificate with its private key.
struct Issued {
    EvpPkeyPtr key;
    X509Ptr cert;
};

// A small public-key infrastructure for tests and demos: a root CA, an intermediate CA under it,
// and certificates issued by the intermediate: TLS servers for loopback and e-CNPJ client
// certificates shaped like the Brazilian ones (subject CN "NAME:CNPJ", the subject-alternative-
// name entry 2.16.76.1.3.3 with the CNPJ). The authorities' and servers' keys are made at run
// time; the e-CNPJ certificates take the fixed keys of TestKeys.h in turn (so a few certificates
// made one after the other have distinct keys). Every certificate has fixed dates.
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
    // An e-CNPJ client certificate (RSA-2048) of that period.
    Issued IssueECnpj(const std::string& name, const std::string& cnpj,
                      const Validity& validity = Validity::Current()) const;
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
    EvpPkeyPtr NextRsaKey() const;

    Issued root_;
    Issued intermediate_;
    mutable std::atomic<size_t> nextKey_{0};
};

std::string CertPem(X509* cert);
std::string KeyPem(EVP_PKEY* key);

}  // namespace quelvo::testpki
