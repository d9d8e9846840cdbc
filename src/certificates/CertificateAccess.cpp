#include "certificates/CertificateAccess.h"

namespace quelvo {

std::vector<TCertificateChoice> CertificateChoices(const TCertificateStore& store,
                                                   std::string* tokenProblem) {
    std::vector<TCertificateChoice> out;
    for (const auto& cert : store.List(tokenProblem)) {
        std::string token;
        if (const TTokenLocation* t = cert.Token()) {
            token = !t->label.empty() ? t->label : t->model + " " + t->serial;
        }
        out.push_back({cert.SerialNumber(), cert.SimpleName(), cert.NotAfter(), token});
    }
    return out;
}

TTravonCertificado SelectCertificate(const TCertificateStore& store,
                                     const CertificateChooser& chooser) {
    try {
        auto choices = CertificateChoices(store);
        if (!chooser) {
            return {};
        }
        const int chosen = chooser(choices);
        if (chosen < 0 || static_cast<size_t>(chosen) >= choices.size()) {
            return {};
        }
        return {choices[static_cast<size_t>(chosen)].Serie,
                choices[static_cast<size_t>(chosen)].Titular};
    } catch (...) {
        return {};  // a failed choice is no choice
    }
}

TCertificate FindCertificateBySerial(const TCertificateStore& store, const std::string& serial) {
    if (auto cert = store.Find(serial)) {
        return *cert;
    }
    throw ECertificateNotFound("\r\nSerial Number \"" + serial +
                               "\" do certificado digital não foi encontrado.\r\n"
                               "Verifique se o certificado está instalado ou conectado nesse "
                               "computador.");
}

TDateTime CertificateExpiry(const TCertificateStore& store, const std::string& serial) {
    return FindCertificateBySerial(store, serial).NotAfter();
}

}  // namespace quelvo
