#include "platform/SystemRoots.h"

namespace quelvo::platform {

std::vector<std::string> SystemRootCertificates() {
    return {};
}

}  // namespace quelvo::platform
