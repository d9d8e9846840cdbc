#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "certificates/TCertificate.h"
#include "certificates/TClientCredentials.h"

namespace quelvo {

// A failure of the certificate store, with a message for the user.
class ECertificateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The personal certificate store: the folder "certificados" of the application folder. Each
// certificate is kept as the PKCS#12 file it was imported from ("<serial>.pfx") and as its public
// certificate with the chain that came in that file ("<serial>.pem"), so that listing, lookup by
// serial number and expiry need no password; the company's password opens the PKCS#12 when the
// key is needed. The folder and its files are readable by their owner only.
class TCertificateStore {
public:
    explicit TCertificateStore(std::string folder);
    // The store of the application folder.
    static TCertificateStore Default();

    const std::string& Folder() const { return folder_; }

    // Imports a PKCS#12 file: the password must open it and it must hold a private key that
    // matches its certificate. Importing the same certificate again replaces it.
    // Returns the imported certificate. Raises ECertificateError.
    TCertificate Import(const std::string& pkcs12File, const std::string& password);
    // The same from the file's bytes.
    TCertificate ImportBytes(const std::string& pkcs12, const std::string& password,
                             const std::string& fileName);

    // Every certificate of the store, ordered by serial number.
    std::vector<TCertificate> List() const;
    // The certificate whose serial number is exactly the text (same case, no blanks removed);
    // nothing when absent.
    std::unique_ptr<TCertificate> Find(const std::string& serial) const;
    // Whether the PKCS#12 file with the key of that certificate is in the store.
    bool HasKey(const std::string& serial) const;
    // Opens the key of a certificate of the store with its password.
    // Raises ECertificateError naming the certificate (never the password).
    TClientCredentials LoadCredentials(const std::string& serial,
                                       const std::string& password) const;

private:
    std::string PathOf(const std::string& serial, const char* extension) const;
    std::string folder_;
};

// Opens PKCS#12 bytes with a password, checking that they hold a private key that matches their
// certificate. `name` names the file or certificate in the messages.
TClientCredentials OpenPkcs12(const std::string& bytes, const std::string& password,
                              const std::string& name);

}  // namespace quelvo
