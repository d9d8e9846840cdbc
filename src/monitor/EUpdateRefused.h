#pragma once

#include <stdexcept>

namespace quelvo {

// A file that the self-update will not install (or a release key it cannot use), with the reason
// in words for the log.
class EUpdateRefused : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quelvo
