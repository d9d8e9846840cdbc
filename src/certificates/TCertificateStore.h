#pragma once

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "certificates/ECertificateError.h"
#include "certificates/TCertificate.h"
#include "certificates/TClientCredentials.h"
#include "platform/SystemCertificates.h"

namespace quelvo {

// The personal certificate store: the folder "certificados" of the application folder, and the
// certificates the system keeps for the user (tokens and smart cards that p11-kit reaches on
// Linux, the user's store "MY" on Windows: platform::SystemCertificates). Each certificate of the
// folder is kept as the PKCS#12 file it was imported from ("<serial>.pfx") and as its public
// certificate with the chain that came in that file ("<serial>.pem"), so that listing, lookup by
// serial number and expiry need no password; the company's password opens the PKCS#12 when the
// key is needed. The folder and its files are readable by their owner only. A certificate of the
// system is read from there whenever it is looked for, and its key never leaves it: the company's
// password is its PIN. A serial number in both places is taken from the folder on Linux and from
// the system's store on Windows.
class TCertificateStore {
public:
    // `tokenModule`: where the system's certificates are (platform::SystemCertificates; "" for
    // none).
    explicit TCertificateStore(
        std::string folder,
        std::string tokenModule = platform::SystemCertificates::DefaultSource());
    // The store of the application folder.
    static TCertificateStore Default();

    const std::string& Folder() const { return folder_; }
    const std::string& TokenModule() const { return tokenModule_; }

    // Imports a PKCS#12 file: the password must open it and it must hold a private key that
    // matches its certificate. Importing the same certificate again replaces it.
    // Returns the imported certificate. Raises ECertificateError.
    TCertificate Import(const std::string& pkcs12File, const std::string& password);
    // The same from the file's bytes.
    TCertificate ImportBytes(const std::string& pkcs12, const std::string& password,
                             const std::string& fileName);

    // Every certificate of the store, ordered by serial number. When the tokens cannot be
    // reached, the folder's alone, and `tokenProblem` (when given) receives why.
    std::vector<TCertificate> List(std::string* tokenProblem = nullptr) const;
    // The certificate whose serial number is exactly the text (same case, no blanks removed);
    // nothing when absent (a token that is not plugged in holds nothing).
    std::unique_ptr<TCertificate> Find(const std::string& serial) const;
    // Whether the PKCS#12 file with the key of that certificate is in the folder.
    bool HasKey(const std::string& serial) const;
    // Opens the key of a certificate of the store with its password (for a token, its PIN; the
    // PINs a token refused are kept in the folder's "PinsRecusados.dat" and never presented
    // again; `digitado`: the user has just typed it, see TLoginDoToken). Raises
    // ECertificateError naming the certificate or the token (never the password).
    TClientCredentials LoadCredentials(const std::string& serial, const std::string& password,
                                       bool digitado = false) const;
    // The same for a certificate found in the store.
    TClientCredentials LoadCredentials(const TCertificate& certificate, const std::string& password,
                                       bool digitado = false) const;

    // The keys of PKCS#12 files that this process keeps open (each file is opened once per run):
    // drops those whose file changed or went, and those nothing used since the last call. Every
    // cycle calls it once, at its start.
    static void VarrerChavesAbertas();
    // How many of those keys come from this store's folder.
    size_t ChavesAbertasNaPasta() const;

private:
    std::string PathOf(const std::string& serial, const char* extension) const;
    std::unique_ptr<TCertificate> FindInFolder(const std::string& serial) const;
    std::unique_ptr<TCertificate> FindInSystem(const std::string& serial) const;
    platform::SystemCertificates System() const;
    std::string folder_;
    std::string tokenModule_;
};

// Opens PKCS#12 bytes with a password, checking that they hold a private key that matches their
// certificate. `name` names the file or certificate in the messages.
TClientCredentials OpenPkcs12(const std::string& bytes, const std::string& password,
                              const std::string& name);

}  // namespace quelvo
