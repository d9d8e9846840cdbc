#include "certificates/OpenSslHandles.h"

#include <openssl/err.h>
#include <openssl/provider.h>

#include <mutex>

#include "platform/Process.h"

namespace quelvo {

std::string LastOpenSslError() {
    std::string text;
    unsigned long code = 0;
    while ((code = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(code, buf, sizeof buf);
        text = buf;  // the last one is the nearest to the call
    }
    return text;
}

void EnableLegacyAlgorithms() {
    static std::once_flag once;
    std::call_once(once, [] {
        // Loading one provider by hand stops the automatic loading of the default one, so both
        // are loaded. They stay loaded for the life of the process.
        if (const std::string modules = platform::OpenSslModulesFolder(); !modules.empty()) {
            OSSL_PROVIDER_set_default_search_path(nullptr, modules.c_str());
        }
        OSSL_PROVIDER_load(nullptr, "default");
        OSSL_PROVIDER_load(nullptr, "legacy");
        ERR_clear_error();
    });
}

}  // namespace quelvo
