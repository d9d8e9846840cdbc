#include "platform/SystemRoots.h"

#include "platform/windows/WindowsText.h"

#include <wincrypt.h>

namespace quelvo::platform {

std::vector<std::string> SystemRootCertificates() {
    std::vector<std::string> out;
    // The user's view of "ROOT" holds the machine's roots as well as the user's own.
    HCERTSTORE store = ::CertOpenSystemStoreW(0, L"ROOT");
    if (store == nullptr) {
        return out;
    }
    PCCERT_CONTEXT cert = nullptr;
    while ((cert = ::CertEnumCertificatesInStore(store, cert)) != nullptr) {
        out.emplace_back(reinterpret_cast<const char*>(cert->pbCertEncoded), cert->cbCertEncoded);
    }
    ::CertCloseStore(store, 0);
    return out;
}

}  // namespace quelvo::platform
