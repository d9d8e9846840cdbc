#pragma once

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include "certificates/TCertificateStore.h"
#include "common/DateTime.h"

namespace quelvo {

// A chosen certificate: its serial number (empty when nothing was chosen) and holder.
struct TTravonCertificado {
    std::string Serie;
    std::string Titular;
};

// One line of the certificate chooser.
struct TCertificateChoice {
    std::string Serie;
    std::string Titular;   // the subject's simple name
    TDateTime Vencimento;  // end of validity, local time
    std::string Token;     // the label of the token it sits on; "" for a certificate file
};

// Shows the choices and returns the index of the chosen one, or -1 when the user cancelled. A
// chooser that imports certificates meanwhile puts the store's new list in `choices`; the index
// refers to that list.
// The desktop program shows a dialog titled "Certificados Digitais" with the text
// "Selecione o Certificado Digital".
using CertificateChooser = std::function<int(std::vector<TCertificateChoice>&)>;

inline constexpr const char* kChooserTitle = "Certificados Digitais";
inline constexpr const char* kChooserText = "Selecione o Certificado Digital";

// The lines the chooser shows: every certificate of the store, expired ones included. When the
// tokens cannot be reached, `tokenProblem` (when given) receives why.
std::vector<TCertificateChoice> CertificateChoices(const TCertificateStore& store,
                                                   std::string* tokenProblem = nullptr);

// Lets the user choose a certificate. Any failure, or no choice, gives an empty Serie.
TTravonCertificado SelectCertificate(const TCertificateStore& store,
                                     const CertificateChooser& chooser);

// A certificate missing from the store; the message starts with a line break.
class ECertificateNotFound : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The certificate whose serial number is exactly the text (same case, no blanks removed).
// Raises ECertificateNotFound with
// "\r\nSerial Number "<serial>" do certificado digital não foi encontrado.\r\nVerifique se o
// certificado está instalado ou conectado nesse computador."
TCertificate FindCertificateBySerial(const TCertificateStore& store, const std::string& serial);

// The end of validity of that certificate, in local time; lookup failures pass unchanged.
TDateTime CertificateExpiry(const TCertificateStore& store, const std::string& serial);

}  // namespace quelvo
