#pragma once

#include <cstdint>
#include <exception>
#include <memory>
#include <string>

#include "dfe/TConfiguracoes.h"
#include "dfe/TSoapHttpTransport.h"

namespace quelvo {

class TNFeClient;

// The call template of a fiscal web service: resolve the endpoint and action, build the request
// and its envelope, post it with the company's certificate, decode the answer and hand it to the
// service, and turn every failure into ENFeClientError with the service's prefix. One object per
// service per client; the transport (and its connection) lives as long as the object.
class TWebServicesBase {
public:
    explicit TWebServicesBase(TNFeClient& owner);
    TWebServicesBase(const TWebServicesBase&) = delete;
    TWebServicesBase& operator=(const TWebServicesBase&) = delete;
    virtual ~TWebServicesBase();

    // Runs one call; true when the service accepted the answer. Raises ENFeClientError.
    bool Execute();

    std::string RequestBody;
    std::string Envelope;
    std::string RawResponse;
    std::string ResultXml;
    std::string Message;
    std::string Url;
    std::string RequestFileSuffix;
    std::string ResponseFileSuffix;
    std::string ServiceNamespace;
    std::string SoapAction;
    uint8_t Status = 0;
    uint8_t Layout = 5;

    TSoapHttpTransport& Transport() { return *transport_; }

protected:
    virtual const char* ClassName() const = 0;
    virtual void Prepare();
    virtual void DefineServiceAndAction();
    virtual void DefineUrl();
    virtual void BuildRequestBody();
    virtual void BuildEnvelope();
    virtual void SaveRequest();
    virtual void Send();
    virtual bool HandleResponse();
    virtual void SaveResponse();
    virtual void Finish();
    virtual std::string BuildLogMessage();
    virtual std::string BuildErrorMessage(const std::exception& e);

    std::string HeaderVersionElement() const;
    std::string HeaderUfElement() const;
    std::string FilePrefix() const;
    // Writes a document and its envelope under the saving folder, as the settings ask, readable
    // by their owner only (they name the company and its suppliers).
    void SaveDocuments(const std::string& suffix, const std::string& document,
                       const std::string& soap) const;
    void ConfigureTransport(TSoapHttpTransport& transport);
    void Log(const std::string& text, bool mayShow);
    [[noreturn]] void RaiseServiceError(const std::string& text);

    TConfiguracoes& Config;
    TNFeClient& Owner;

private:
    std::unique_ptr<TSoapHttpTransport> transport_;
};

}  // namespace quelvo
