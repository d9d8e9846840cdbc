#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "certificates/OpenSslHandles.h"
#include "common/DateTime.h"

namespace quelvo {

// Where a certificate on a token or smart card lives: the PKCS#11 module that reaches it, the
// token as its description names it (blanks at the end removed), and the certificate object's
// id and label, which its private key shares on the token.
struct TTokenLocation {
    std::string modulePath;
    std::string label;
    std::string manufacturer;
    std::string model;
    std::string serial;
    std::string objectId;  // the id's bytes
    std::string objectLabel;
};

// A public certificate with the chain that came with it. Copies share the same OpenSSL objects,
// which are never changed after loading.
class TCertificate {
public:
    // Reads every certificate of a PEM text: the first is the certificate, the rest its chain.
    // Raises std::runtime_error when the text holds no certificate.
    static TCertificate FromPem(std::string_view pem);
    // Takes ownership of an OpenSSL certificate (and of the chain's certificates).
    TCertificate(X509Ptr cert, std::vector<X509Ptr> chain = {});

    // The serial number as the store writes it: the bytes of the certificate's serial, as
    // encoded, in upper-case hexadecimal without blanks.
    std::string SerialNumber() const;
    // The end of validity, in local time.
    TDateTime NotAfter() const;
    // The subject, most specific part first ("CN=..., OU=..., O=..., C=BR").
    std::string SubjectName() const;
    // The subject's simple name: its common name (else its organisation, else its first part).
    std::string SimpleName() const;
    // The holder's name: the common name up to its ":" (e-CNPJ certificates write "NAME:CNPJ").
    std::string HolderName() const;
    // The CNPJ of an ICP-Brasil certificate: the decimal digits of the subject-alternative-name
    // entry 2.16.76.1.3.3; "" when the certificate has none.
    std::string CNPJ() const;

    // The certificate and its chain, PEM.
    std::string ToPem() const;

    // Where the certificate is when it sits on a token; nothing for a certificate of the folder.
    const TTokenLocation* Token() const { return token_.get(); }
    void SetToken(TTokenLocation location) {
        token_ = std::make_shared<const TTokenLocation>(std::move(location));
    }

    X509* Get() const { return cert_.get(); }
    const std::vector<std::shared_ptr<X509>>& Chain() const { return chain_; }

private:
    std::shared_ptr<X509> cert_;
    std::vector<std::shared_ptr<X509>> chain_;
    std::shared_ptr<const TTokenLocation> token_;
};

// The serial text of an OpenSSL certificate (see TCertificate::SerialNumber).
std::string SerialNumberOf(const X509* cert);

// The ICP-Brasil subject-alternative-name entry that carries a company's CNPJ.
inline constexpr const char* kOidCnpj = "2.16.76.1.3.3";

}  // namespace quelvo
