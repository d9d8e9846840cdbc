#pragma once

#include <stdexcept>

namespace quelvo {

// A failure of the certificate store or of a token, with a message for the user (never a
// password or PIN).
class ECertificateError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quelvo
