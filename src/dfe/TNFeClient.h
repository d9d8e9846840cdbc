#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "dfe/TConfiguracoes.h"
#include "dfe/TDistribuicaoDFe.h"

namespace quelvo {

// The fiscal-document client: its configuration, its service objects and its status. Created,
// configured, used and freed by one thread.
class TNFeClient {
public:
    TNFeClient();
    TNFeClient(const TNFeClient&) = delete;
    TNFeClient& operator=(const TNFeClient&) = delete;

    TConfiguracoes Configuracoes;
    struct TWebServices {
        explicit TWebServices(TNFeClient& owner) : Distribution(owner) {}
        TDistribuicaoDFe Distribution;
    } Services;

    uint8_t Status() const { return status_; }
    void SetStatus(uint8_t status);
    std::function<void(TNFeClient&)> OnStatusChange;
    std::function<void(const std::string&)> OnGerarLog;

    // One distribution query; true when the service answered 137 or 138. Any other answer raises
    // ENFeRejeicao (an ENFeClientError) with its xMotivo and its cStat; failures raise
    // ENFeClientError with the service's prefix.
    bool RequestDistribution(int ufAuthor, const std::string& cnpjCpf, const std::string& lastNsu,
                             const std::string& nsu);

private:
    uint8_t status_ = 0;
};

}  // namespace quelvo
