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
    // The most that the documents of one answer may take once decompressed (a real answer holds
    // at most 50 documents of a few kilobytes).
    static constexpr size_t kMaxDocumentosBytes = size_t{64} << 20;

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
    // cannot be decoded (the items read so far and the bad one, empty, stay), documents beyond
    // kMaxDocumentosBytes, or a bad value. Time linear in the answer's length.
    bool LerXml();
};

// The summary fields of a resNFe document text (a docZip item's XML), read as LerXml reads them;
// empty fields when the text holds no resNFe.
TresNFe LerResNFe(const std::string& xml);

}  // namespace quelvo
