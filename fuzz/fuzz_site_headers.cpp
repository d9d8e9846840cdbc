// The site client's handling of what a site sends back: header lines, cookies into the jar, a
// header looked up, the body as text; and the parsing of the addresses it is given.
#include "FuzzSupport.h"
#include "site/TTravonHttp.h"

using namespace quelvo;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input = fuzz::Text(data, size);
    TTravonHttp http;
    // The answer's header lines; the jar starts empty, as on a new client, and takes them twice
    // (the second time over what the first left).
    size_t start = 0;
    for (size_t i = 0; i <= input.size(); ++i) {
        if (i == input.size() || input[i] == '\n') {
            http.ResponseHeaders.push_back(input.substr(start, i - start));
            start = i + 1;
        }
    }
    http.UpdateCookies();
    // The jar goes back to the site as one header line: no line break, no control character.
    for (char c : http.Cookies) {
        QUELVO_FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20);
    }
    http.UpdateCookies();
    http.ResponseHeader("Content-Type");
    http.ResponseHeader("");
    StreamToText(input, true);
    StreamToText(input, false);
    FormEncode(input);
    try {
        const TTravonHttpURL url = ParseURL(input);
        QUELVO_FUZZ_CHECK(url.Port == 80 || url.Port == 443);
    } catch (const ETravonHttpError&) {
    }
    return 0;
}
