#include "platform/SystemCertificates.h"

#include "certificates/TPkcs11Module.h"
#include "certificates/TTokenStore.h"

namespace quelvo::platform {

SystemCertificates::SystemCertificates(std::string source, std::string refusedPins)
    : source_(std::move(source)), refusedPins_(std::move(refusedPins)) {}

std::string SystemCertificates::DefaultSource() {
    return TPkcs11Module::DefaultPath();
}

bool SystemCertificates::TakesPrecedenceOverFolder() {
    return false;
}

std::vector<TCertificate> SystemCertificates::List() const {
    if (source_.empty()) {
        return {};
    }
    return TTokenStore(source_).List();
}

TClientCredentials SystemCertificates::LoadCredentials(const TCertificate& certificate,
                                                       const std::string& password,
                                                       bool typed) const {
    return TTokenStore(source_, refusedPins_).LoadCredentials(certificate, password, typed);
}

}  // namespace quelvo::platform
