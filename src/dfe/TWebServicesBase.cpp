#include "dfe/TWebServicesBase.h"

#include <cstdio>
#include <system_error>

#include "common/MessageBoxes.h"
#include "common/SafeFile.h"
#include "dfe/ENFeClientError.h"
#include "dfe/ServiceUrls.h"
#include "dfe/TNFeClient.h"
#include "dfe/XmlText.h"

namespace quelvo {

namespace {
constexpr const char* kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"utf-8\"?>";
constexpr const char* kSoapNamespaces =
    " xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
    " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
    " xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\"";
}  // namespace

TWebServicesBase::TWebServicesBase(TNFeClient& owner)
    : Config(owner.Configuracoes),
      Owner(owner),
      transport_(std::make_unique<TSoapHttpTransport>()) {}

TWebServicesBase::~TWebServicesBase() = default;

void TWebServicesBase::Prepare() {
    DefineUrl();
    if (Url.empty()) {
        RaiseServiceError(std::string("URL não definida para: ") + ClassName());
    }
    DefineServiceAndAction();
    if (ServiceNamespace.empty()) {
        RaiseServiceError(std::string("Servico não definido para: ") + ClassName());
    }
    if (SoapAction.empty()) {
        RaiseServiceError(std::string("SoapAction não definido para: ") + ClassName());
    }
    Owner.SetStatus(Status);
}

void TWebServicesBase::DefineServiceAndAction() {
    ServiceNamespace.clear();
    SoapAction.clear();
}

void TWebServicesBase::DefineUrl() {
    Url = GetServiceUrl(Config.Servidores, Config.WebServices.UFCodigo(),
                        Config.WebServices.AmbienteCodigo(), Config.Geral.FormaEmissaoCodigo(),
                        Layout, Config.Geral.ModeloDF, Config.Geral.VersaoDF);
}

void TWebServicesBase::BuildRequestBody() {
    RequestBody.clear();
}

void TWebServicesBase::BuildEnvelope() {
    Envelope = std::string(kXmlDeclaration) + "<soap12:Envelope" + kSoapNamespaces + ">" +
               "<soap12:Header><nfeCabecMsg xmlns=\"" + ServiceNamespace + "\">" +
               HeaderUfElement() + HeaderVersionElement() + "</nfeCabecMsg></soap12:Header>" +
               "<soap12:Body><nfeDadosMsg xmlns=\"" + ServiceNamespace + "\">" + RequestBody +
               "</nfeDadosMsg></soap12:Body></soap12:Envelope>";
}

void TWebServicesBase::SaveDocuments(const std::string& suffix, const std::string& document,
                                     const std::string& soap) const {
    if (suffix.empty()) {
        return;
    }
    const std::string prefix = Config.Geral.PathSalvar() + FilePrefix() + "-" + suffix;
    if (Config.Geral.Salvar) {
        WriteFileAtomic(prefix + ".xml", document, 0600);
    }
    if (Config.WebServices.Salvar) {
        WriteFileAtomic(prefix + "-soap.xml", soap, 0600);
    }
}

void TWebServicesBase::SaveRequest() {
    SaveDocuments(RequestFileSuffix, RequestBody, Envelope);
}

void TWebServicesBase::SaveResponse() {
    SaveDocuments(ResponseFileSuffix, ResultXml, RawResponse);
}

void TWebServicesBase::ConfigureTransport(TSoapHttpTransport& t) {
    const auto& ws = Config.WebServices;
    t.ProxyHost.clear();
    t.ProxyPort.clear();
    t.ProxyUser.clear();
    t.ProxyPass.clear();
    if (!ws.ProxyHost.empty()) {
        t.ProxyHost = ws.ProxyHost;
        t.ProxyPort = ws.ProxyPort;
        t.ProxyUser = ws.ProxyUser;
        t.ProxyPass = ws.ProxyPass;
    }
    t.ClientCertificate = Config.Certificados.Credentials();
    std::string upper = Url;
    for (auto& c : upper) {
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    t.ContentType = upper.find("SCERECEPCAORFB") != std::string::npos ||
                            upper.find("SCECONSULTARFB") != std::string::npos
                        ? "text/xml"
                        : "application/soap+xml";
    t.TrustAnchorsFolder = Config.PastaAcConfiaveis;
}

void TWebServicesBase::Send() {
    ResultXml.clear();
    RawResponse.clear();
    TSoapHttpTransport& t = *transport_;
    ConfigureTransport(t);
    t.Url = Url;
    t.SoapAction = SoapAction;
    // The envelope is UTF-8 already: in memory every text is.
    t.Body = Envelope;
    RawResponse = DecodeText(t.Execute(), true, true);
}

bool TWebServicesBase::HandleResponse() {
    return false;
}

void TWebServicesBase::Finish() {
    // No process-wide decimal separator exists here to reset: numbers are always read and
    // written with ".".
    Owner.SetStatus(0);
}

std::string TWebServicesBase::BuildLogMessage() {
    return {};
}

std::string TWebServicesBase::BuildErrorMessage(const std::exception& e) {
    return e.what();
}

std::string TWebServicesBase::HeaderVersionElement() const {
    return "<versaoDados>" + ServiceVersion(Config.Geral.ModeloDF, Config.Geral.VersaoDF, Layout) +
           "</versaoDados>";
}

std::string TWebServicesBase::HeaderUfElement() const {
    return "<cUF>" + std::to_string(Config.WebServices.UFCodigo()) + "</cUF>";
}

std::string TWebServicesBase::FilePrefix() const {
    const TDateTime t = TDateTime::Now();
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", t.Year, t.Month, t.Day, t.Hour,
                  t.Minute, t.Second);
    return buf;
}

void TWebServicesBase::Log(const std::string& text, bool mayShow) {
    if (text.empty()) {
        return;
    }
    if (Owner.OnGerarLog) {
        Owner.OnGerarLog(text);
    }
    if (mayShow && Config.WebServices.Visualizar) {
        ShowInfo(text);
    }
}

void TWebServicesBase::RaiseServiceError(const std::string& text) {
    Log("ERRO: " + text, false);
    throw ENFeClientError(text);
}

bool TWebServicesBase::Execute() {
    Prepare();
    // From here on the client goes back to idle however the call ends.
    struct FinishGuard {
        TWebServicesBase* self;
        ~FinishGuard() { self->Finish(); }
    } guard{this};
    BuildRequestBody();
    BuildEnvelope();
    SaveRequest();
    bool result = false;
    std::string failure;
    try {
        Send();
        result = HandleResponse();
        Log(BuildLogMessage(), true);
        SaveResponse();
    } catch (const std::exception& e) {
        failure = BuildErrorMessage(e);
    }
    if (!failure.empty()) {
        RaiseServiceError(failure);
    }
    return result;
}

}  // namespace quelvo
