// Base64 and gzip as a docZip carries them: any bytes, decoded and inflated within the limit;
// what our own writer makes comes back whole.
#include "FuzzSupport.h"
#include "dfe/Compression.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    constexpr size_t kLimit = 1 << 20;  // small, so that each run stays fast
    for (const std::string& gz : {DecodeBase64(input), input}) {
        try {
            const std::string out = GunzipText(gz, kLimit);
            QUELVO_FUZZ_CHECK(out.size() <= kLimit);
        } catch (const EDecompressionError&) {
        }
    }
    QUELVO_FUZZ_CHECK(DecodeBase64(EncodeBase64(input)) == input);
    QUELVO_FUZZ_CHECK(GunzipText(GzipText(input), kLimit) == input);
    return 0;
}
