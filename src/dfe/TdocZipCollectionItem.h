#pragma once

#include <string>

#include "dfe/PcnTypes.h"
#include "dfe/TprocEvento.h"
#include "dfe/TresEvento.h"
#include "dfe/TresNFe.h"

namespace quelvo {

// One document of a distribution answer.
struct TdocZipCollectionItem {
    std::string NSU;  // as received
    TpcnTipoSchema schema = TpcnTipoSchema::tsresNFe;
    std::string InfZip;  // the decompressed document, bytes as the service sent them (UTF-8)
    TresNFe resNFe;
    TresEvento resEvento;
    TprocEvento procEvento;
    std::string XML;  // the recognised document element, start tag to end tag
};

// The schema attribute's kind (case-insensitive; anything else is tsresNFe).
TpcnTipoSchema SchemaFromText(const std::string& text);

}  // namespace quelvo
