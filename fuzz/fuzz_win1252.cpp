// The Windows-1252 codec: every byte string decodes to valid UTF-8 and encodes back to itself;
// any text encodes without harm, one byte per character at most.
#include "FuzzSupport.h"
#include "common/Win1252.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    const std::string utf8 = Win1252ToUtf8(input);
    size_t pos = 0;
    while (pos < utf8.size()) {
        QUELVO_FUZZ_CHECK(NextCodePoint(utf8, pos) >= 0);
    }
    QUELVO_FUZZ_CHECK(Utf8ToWin1252(utf8) == input);
    const std::string encoded = Utf8ToWin1252(input);
    QUELVO_FUZZ_CHECK(encoded.size() <= input.size());
    return 0;
}
