#include "dfe/TDistribuicaoDFe.h"

#include "dfe/ServiceUrls.h"
#include "dfe/TDistDFeInt.h"
#include "dfe/XmlText.h"

namespace quelvo {

TDistribuicaoDFe::TDistribuicaoDFe(TNFeClient& owner)
    : TWebServicesBase(owner), response_(std::make_unique<TRetDistDFeInt>()) {
    Status = kLayoutDistDFe;
    Layout = kLayoutDistDFe;
    RequestFileSuffix = "con-dist-dfe";
    ResponseFileSuffix = "dist-dfe";
}

void TDistribuicaoDFe::DefineServiceAndAction() {
    ServiceNamespace = kDistributionWsdlNamespace;
    SoapAction = ServiceNamespace + "/nfeDistDFeInteresse";
}

void TDistribuicaoDFe::BuildRequestBody() {
    TDistDFeInt doc;
    doc.tpAmb = Config.WebServices.AmbienteCodigo() == 1 ? TpcnTipoAmbiente::taProducao
                                                         : TpcnTipoAmbiente::taHomologacao;
    doc.cUFAutor = UFAuthor;
    doc.CNPJCPF = CnpjCpf;
    doc.ultNSU = LastNsu;
    doc.NSU = Nsu;
    doc.Versao = ServiceVersion(Config.Geral.ModeloDF, Config.Geral.VersaoDF, Layout);
    doc.GerarXml();  // alerts do not stop the call
    RequestBody = doc.Gerador.ArquivoFormatoXML;
}

void TDistribuicaoDFe::BuildEnvelope() {
    Envelope = std::string("<?xml version=\"1.0\" encoding=\"utf-8\"?>") +
               "<soap12:Envelope xmlns:xsi=\"http://www.w3.org/2001/XMLSchema-instance\""
               " xmlns:xsd=\"http://www.w3.org/2001/XMLSchema\""
               " xmlns:soap12=\"http://www.w3.org/2003/05/soap-envelope\">"
               "<soap12:Body><nfeDistDFeInteresse xmlns=\"" +
               ServiceNamespace + "\"><nfeDadosMsg>" + RequestBody +
               "</nfeDadosMsg></nfeDistDFeInteresse></soap12:Body></soap12:Envelope>";
}

bool TDistribuicaoDFe::HandleResponse() {
    ResultXml = ElementContent(RawResponse, "nfeDistDFeInteresseResult");
    response_ = std::make_unique<TRetDistDFeInt>();
    response_->Leitor.Arquivo = ResultXml;
    response_->LerXml();
    Message = response_->xMotivo;
    if (response_->cStat == 0 && Message.empty()) {
        // No answer of the service but a SOAP fault: its reason is what went wrong.
        Message = SoapFaultReason(RawResponse);
    }
    return response_->cStat == 137 || response_->cStat == 138;
}

std::string TDistribuicaoDFe::BuildLogMessage() {
    const TRetDistDFeInt& r = *response_;
    return "Versão Layout: " + r.versao + "\r\nAmbiente: " +
           (r.tpAmb == TpcnTipoAmbiente::taProducao ? "Produção" : "Homologação") +
           "\r\nVersão Aplicativo: " + r.verAplic +
           "\r\nStatus Código: " + std::to_string(r.cStat) + "\r\nStatus Descrição: " + r.xMotivo +
           "\r\nResposta: " + FormatDateTime(r.dhResp) + "\r\nÚltimo NSU: " + r.ultNSU +
           "\r\nMáximo NSU: " + r.maxNSU + "\r\n";
}

std::string TDistribuicaoDFe::BuildErrorMessage(const std::exception& e) {
    return std::string(
               "WebService Distribuição de DFe:\r\n- Inativo ou Inoperante tente "
               "novamente.\r\n- ") +
           e.what();
}

}  // namespace quelvo
