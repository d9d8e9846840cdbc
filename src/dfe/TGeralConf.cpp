#include "dfe/TGeralConf.h"

#include "common/Utils.h"

namespace quelvo {

std::string TGeralConf::PathSalvar() const {
    const size_t b = pathSalvar_.find_first_not_of(' ');
    std::string path = b == std::string::npos
                           ? ""
                           : pathSalvar_.substr(b, pathSalvar_.find_last_not_of(' ') - b + 1);
    if (path.empty()) {
        return ApplicationDir();
    }
    return path.back() == '/' ? path : path + "/";
}

}  // namespace quelvo
