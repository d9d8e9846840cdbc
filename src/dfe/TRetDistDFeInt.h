#pragma once

#include <string>
#include <vector>

#include "common/DateTime.h"
#include "dfe/TLeitor.h"
#include "dfe/TdocZipCollectionItem.h"

namespace quelvo {

// The distribution answer (retDistDFeInt) with its documents.
class TRetDistDFeInt {
public:
    TLeitor Leitor;
    std::string versao;
    TpcnTipoAmbiente tpAmb = TpcnTipoAmbiente::taProducao;
    std::string verAplic;
    int cStat = 0;
    std::string xMotivo;
    TDateTime dhResp;
    std::string ultNSU;
    std::string maxNSU;
    std::vector<TdocZipCollectionItem> docZip;
    std::string XML;

    // Parses Leitor.Arquivo; false when it holds no retDistDFeInt. Raises for a document that
    // cannot be decoded (the items read so far and the bad one, empty, stay) or a bad value.
    bool LerXml();
};

// The summary fields of a resNFe document text (a docZip item's XML), read as LerXml reads them;
// empty fields when the text holds no resNFe.
TresNFe LerResNFe(const std::string& xml);

}  // namespace quelvo
