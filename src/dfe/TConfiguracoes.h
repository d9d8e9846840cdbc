#pragma once

#include "common/TServidores.h"
#include "common/Utils.h"
#include "dfe/TArquivosConf.h"
#include "dfe/TCertificadosConf.h"
#include "dfe/TGeralConf.h"
#include "dfe/TWebServicesConf.h"

namespace quelvo {

// Everything a fiscal-document client reads at each call.
class TConfiguracoes {
public:
    TGeralConf Geral;
    TWebServicesConf WebServices;
    TCertificadosConf Certificados;
    TArquivosConf Arquivos;
    // The hosts of the national service (from "Servidores.ini" of the application folder).
    TServidores Servidores = TServidores::Current();
    // Trust anchors of the service's chain besides the system's: the application folder's
    // "ac-confiaveis".
    std::string PastaAcConfiaveis = ApplicationDir() + "ac-confiaveis/";
};

}  // namespace quelvo
