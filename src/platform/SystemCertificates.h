#pragma once

#include <string>
#include <vector>

#include "certificates/TCertificate.h"
#include "certificates/TClientCredentials.h"

namespace quelvo::platform {

// The certificates that the system keeps for the user beside the program's own folder: on Linux
// the tokens and smart cards that a PKCS#11 module reaches (p11-kit's proxy module by default, and
// so every module registered on the system); on Windows the current user's personal store "MY",
// where tokens appear through their vendor's drivers. Their keys never leave where they are.
// Nothing is kept between calls: each one looks at what is there at that moment. Every
// certificate listed here carries its location (TCertificate::Token).
class SystemCertificates {
public:
    // `source`: the PKCS#11 module on Linux ("" for none: then there is nothing here); on
    // Windows, "" for none and anything else for the user's store. `refusedPins`: the file that
    // keeps the PINs refused ("" for none).
    SystemCertificates(std::string source, std::string refusedPins = "");

    // What a store uses when nobody says otherwise.
    static std::string DefaultSource();
    // Whether a serial number found both here and in the folder is taken from here: on Windows
    // the user's store is where its users keep their certificates; on Linux the folder's copy is
    // the one the user imported on purpose.
    static bool TakesPrecedenceOverFolder();

    // The certificates of persons and companies, each with its chain. Raises ECertificateError
    // when they cannot be reached.
    std::vector<TCertificate> List() const;

    // Opens the key of a certificate of List() for TLS with the company's password (a token's or
    // a hardware key's PIN: presented once, never again once refused unless `typed`, the user
    // has just typed it). Raises ECertificateError naming the certificate or the token (never the
    // password).
    TClientCredentials LoadCredentials(const TCertificate& certificate, const std::string& password,
                                       bool typed) const;

private:
    std::string source_;
    std::string refusedPins_;
};

}  // namespace quelvo::platform
