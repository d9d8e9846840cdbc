// "PinsRecusados.dat": any bytes load (damaged lines left out, the file written anew without them
// and a copy kept aside); a refusal kept is found by a new reader, which sees nothing damaged; a
// refusal forgotten is no longer found.
#include "FuzzSupport.h"
#include "certificates/TPinsRecusados.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    fuzz::ClearScratch();
    const std::string path = fuzz::Scratch() + TPinsRecusados::kArquivo;
    fuzz::WriteFile(path, fuzz::Text(data, size));
    const std::string token = "T;1%\n";  // separators and escapes in the token's serial
    const std::string certificado = "0A1B2C";
    TPinsRecusados a(path);
    a.Recusado(token, certificado, "1234");
    a.Registrar(token, certificado, "9876");
    TPinsRecusados::TomarAvisos();
    TPinsRecusados b(path);
    QUELVO_FUZZ_CHECK(b.Recusado(token, certificado, "9876"));
    QUELVO_FUZZ_CHECK(TPinsRecusados::TomarAvisos().empty());
    b.Esquecer(token, certificado, "9876");
    QUELVO_FUZZ_CHECK(!TPinsRecusados(path).Recusado(token, certificado, "9876"));
    return 0;
}
