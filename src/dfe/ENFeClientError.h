#pragma once

#include <stdexcept>

namespace quelvo {

// The one exception class of the fiscal-document client; it carries its text and nothing else.
class ENFeClientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

}  // namespace quelvo
