// The XML text reader and the distribution answer: any text the national server (or anyone in
// its place) may send, through the call template's decoding, the answer's reading and the
// reader's group walk.
#include "FuzzSupport.h"
#include "dfe/TLeitor.h"
#include "dfe/TRetDistDFeInt.h"
#include "dfe/XmlText.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    const std::string decoded = DecodeText(input, true, true);
    DecodeText(input, false, false);
    SoapFaultReason(decoded);
    TRetDistDFeInt ret;
    ret.Leitor.Arquivo = ElementContent(decoded, "nfeDistDFeInteresseResult");
    if (ret.Leitor.Arquivo.empty()) {
        ret.Leitor.Arquivo = input;
    }
    try {
        ret.LerXml();
    } catch (const std::exception&) {
        // a document that cannot be decoded, a bad value: the call's error
    }
    for (const auto& item : ret.docZip) {
        QUELVO_FUZZ_CHECK(item.InfZip.size() <= TRetDistDFeInt::kMaxDocumentosBytes);
    }

    // The walk over the groups gives what the occurrences give, one by one.
    TLeitor byOccurrence;
    TLeitor bySteps;
    byOccurrence.Arquivo = bySteps.Arquivo = input;
    byOccurrence.ExtractGroup(1, "r");
    bySteps.ExtractGroup(1, "r");
    size_t position = 0;
    for (int n = 1; n <= 64; ++n) {
        const std::string expected = byOccurrence.ExtractGroup(2, "d", "", n);
        const std::string got = bySteps.ExtractNextGroup(2, "d", position);
        QUELVO_FUZZ_CHECK(got == expected);
        if (got.empty()) {
            break;
        }
        bySteps.ReadString("v");
        bySteps.ReadAttribute("a");
        try {
            bySteps.ReadDateTime("t");
        } catch (const ELeitorError&) {
        }
    }
    return 0;
}
