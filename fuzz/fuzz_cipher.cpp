// The payload cipher: what is enciphered deciphers to itself, with a random or a fixed salt;
// any block deciphers without harm (an empty one has no salt and is refused).
#include <stdexcept>

#include "FuzzSupport.h"
#include "common/PayloadCipher.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    for (bool fixed : {false, true}) {
        const std::string sealed = CipherString(input, kTravonKey, false, fixed);
        QUELVO_FUZZ_CHECK(sealed.size() == input.size() + 1);
        QUELVO_FUZZ_CHECK(CipherString(sealed, kTravonKey, true) == input);
    }
    try {
        const std::string opened = CipherString(input, kTravonKey, true);
        QUELVO_FUZZ_CHECK(opened.size() + 1 == input.size());
    } catch (const std::out_of_range&) {
        QUELVO_FUZZ_CHECK(input.empty());
    }
    return 0;
}
