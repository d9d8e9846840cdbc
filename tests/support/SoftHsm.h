#pragma once

#include <set>
#include <string>

#include "TestPki.h"
#include "support/TempDir.h"

namespace quelvo::test {

// SoftHSM2 tokens (PKCS#11 tokens kept in files) of one test: a SoftHSM2 configuration in a
// temporary folder, named by SOFTHSM2_CONF while the object lives. Debian's softhsm2 registers its
// module with p11-kit, so these tokens reach the program through p11-kit's proxy module just as a
// real token's do. The configuration is read when the module starts, so nothing may hold the
// module when it changes (checked).
class SoftHsm {
public:
    SoftHsm();
    SoftHsm(const SoftHsm&) = delete;
    SoftHsm& operator=(const SoftHsm&) = delete;
    ~SoftHsm();

    // A new token with that label and user PIN.
    void AddToken(const std::string& label, const std::string& pin);
    // Imports a key and its certificate onto a token (under a new object id), with the test PKI's
    // authorities beside them as e-CNPJ tokens carry them. Returns the certificate's serial text.
    std::string Import(const std::string& label, const std::string& pin,
                       const testpki::Issued& issued);

    // The tokens as if pulled out (SoftHSM2 looks at an empty folder), and plugged in again.
    void Unplug();
    void Plug();

private:
    void UseConfiguration(const std::string& file);

    TempDir dir_;
    std::string previous_;
    bool hadPrevious_ = false;
    int nextId_ = 1;
    std::set<std::string> withAuthorities_;
};

}  // namespace quelvo::test
