#include "dfe/TNFeClient.h"

#include "dfe/ENFeRejeicao.h"

namespace quelvo {

TNFeClient::TNFeClient() : Services(*this) {}

void TNFeClient::SetStatus(uint8_t status) {
    if (status == status_) {
        return;
    }
    status_ = status;
    if (OnStatusChange) {
        OnStatusChange(*this);
    }
}

bool TNFeClient::RequestDistribution(int ufAuthor, const std::string& cnpjCpf,
                                     const std::string& lastNsu, const std::string& nsu) {
    TDistribuicaoDFe& d = Services.Distribution;
    d.UFAuthor = ufAuthor;
    d.CnpjCpf = cnpjCpf;
    d.LastNsu = lastNsu;
    d.Nsu = nsu;
    if (d.Execute()) {
        return true;
    }
    if (OnGerarLog) {
        OnGerarLog(d.Message);
    }
    throw ENFeRejeicao(d.Response().cStat, d.Message);
}

}  // namespace quelvo
