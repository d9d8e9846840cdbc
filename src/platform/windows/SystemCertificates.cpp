#include "platform/SystemCertificates.h"

#include "platform/windows/TRepositorioWindows.h"

namespace quelvo::platform {

SystemCertificates::SystemCertificates(std::string source, std::string refusedPins)
    : source_(std::move(source)), refusedPins_(std::move(refusedPins)) {}

std::string SystemCertificates::DefaultSource() {
    return "MY";
}

bool SystemCertificates::TakesPrecedenceOverFolder() {
    return true;
}

std::vector<TCertificate> SystemCertificates::List() const {
    if (source_.empty()) {
        return {};
    }
    return TRepositorioWindows(refusedPins_).List();
}

TClientCredentials SystemCertificates::LoadCredentials(const TCertificate& certificate,
                                                       const std::string& password,
                                                       bool typed) const {
    return TRepositorioWindows(refusedPins_).LoadCredentials(certificate, password, typed);
}

}  // namespace quelvo::platform
