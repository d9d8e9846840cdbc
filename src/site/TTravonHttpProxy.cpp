#include "site/TTravonHttpProxy.h"

namespace quelvo {

bool TTravonHttpProxy::InUse() const {
    // Blanks and control characters alike are at most " " (as the classic Trim treats them).
    for (char c : Server) {
        if (static_cast<unsigned char>(c) > ' ') {
            return Port > 0;
        }
    }
    return false;
}

}  // namespace quelvo
