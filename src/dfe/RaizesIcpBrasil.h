#pragma once

#include <span>

namespace quelvo {

// One root certificate compiled into the program: the name of its file in data/ac-raiz/ and its
// PEM text.
struct TRaizEmbutida {
    const char* arquivo;
    const char* pem;
};

// The root certificates of ICP-Brasil in force, which the national service's chain ends at and
// Linux systems do not carry.
std::span<const TRaizEmbutida> RaizesIcpBrasil();

}  // namespace quelvo
