#pragma once

#include <memory>
#include <string>

#include "dfe/TRetDistDFeInt.h"
#include "dfe/TWebServicesBase.h"

namespace quelvo {

inline constexpr const char* kDistributionWsdlNamespace =
    "http://www.portalfiscal.inf.br/nfe/wsdl/NFeDistribuicaoDFe";

// The distribution service (nfeDistDFeInteresse): one query for the documents of a party.
class TDistribuicaoDFe : public TWebServicesBase {
public:
    explicit TDistribuicaoDFe(TNFeClient& owner);

    int UFAuthor = 0;
    std::string CnpjCpf;
    std::string LastNsu;
    std::string Nsu;
    // The answer of the last handled response (empty until the first).
    const TRetDistDFeInt& Response() const { return *response_; }

protected:
    const char* ClassName() const override { return "TDistribuicaoDFe"; }
    void DefineServiceAndAction() override;
    void BuildRequestBody() override;
    void BuildEnvelope() override;
    bool HandleResponse() override;
    std::string BuildLogMessage() override;
    std::string BuildErrorMessage(const std::exception& e) override;

private:
    std::unique_ptr<TRetDistDFeInt> response_;
};

}  // namespace quelvo
